#include "sessions/PluginKofConfiguration5.h"

#include <gtest/gtest.h>

#include "tests/platform/KofTestConfigHome.h"

namespace kof {
namespace {

void PutDword(TRegRoot root, const std::string& key, const char* name, uint32_t value) {
  TKofRegistry reg(root);
  ASSERT_TRUE(reg.OpenKey(key, true));
  reg.WriteInteger(name, value);
}

void PutString(TRegRoot root, const std::string& key, const char* name, const std::string& value) {
  TKofRegistry reg(root);
  ASSERT_TRUE(reg.OpenKey(key, true));
  reg.WriteString(name, value);
}

std::vector<std::string> ValueNames(TRegRoot root, const std::string& key) {
  TKofRegistry reg(root);
  return reg.OpenKeyReadOnly(key) ? reg.GetValueNames() : std::vector<std::string>{};
}

class ConfigurationTest : public test::TConfigHomeTest {};

TEST_F(ConfigurationTest, NothingStoredAnywhereEndsWithClearedValues) {
  TKofPluginConfiguration cfg;
  EXPECT_FALSE(cfg.Init());  // no sessions anywhere
  EXPECT_TRUE(TKofRegistry(TRegRoot::CurrentUser).KeyExists(kPluginKey));
  EXPECT_EQ(cfg.AccessCodeTimeout(), -1);
  EXPECT_EQ(cfg.VersionType(), verNone);
  EXPECT_TRUE(cfg.DisplayHelpFolders());
  EXPECT_TRUE(cfg.EncryptingFiles());
  EXPECT_FALSE(cfg.EditableRecords());
  EXPECT_EQ(cfg.BufferSize(), 16);
  EXPECT_FALSE(cfg.ReadOnly());
}

TEST_F(ConfigurationTest, EmptyMachineWideKeyIsTakenReadOnly) {
  TKofRegistry(TRegRoot::LocalMachine).OpenKey(kPluginKey, true);
  PutDword(TRegRoot::CurrentUser, kPluginKey, "AccessCodeTimeout", 600);
  TKofPluginConfiguration cfg;
  cfg.Init();
  EXPECT_TRUE(cfg.ReadOnly());
  EXPECT_EQ(cfg.AccessCodeTimeout(), -1);
  EXPECT_EQ(cfg.RootKey(), TRegRoot::LocalMachine);
}

TEST_F(ConfigurationTest, PerUserKeyWithoutTimeoutFallsBackToLegacyAndMigratesIt) {
  PutDword(TRegRoot::CurrentUser, kPluginKey, "Editable Records", 1);
  PutDword(TRegRoot::CurrentUser, kLegacyKey, "AccessCodeTimeout", 120);
  PutString(TRegRoot::CurrentUser, kLegacyKey, "Panel Prefix", "OLD");
  {
    TKofPluginConfiguration cfg;
    cfg.Init();
    EXPECT_FALSE(cfg.ReadOnly());
    EXPECT_EQ(cfg.AccessCodeTimeout(), 120);
    EXPECT_EQ(cfg.PanelPrefix(), "OLD");
    EXPECT_TRUE(cfg.EditableRecords());  // left from the per-user read
  }
  TKofRegistry reg(TRegRoot::CurrentUser);
  ASSERT_TRUE(reg.OpenKeyReadOnly(kPluginKey));
  EXPECT_EQ(reg.ReadInteger("AccessCodeTimeout"), 120u);
  EXPECT_EQ(reg.ReadString("Panel Prefix"), "OLD");
}

TEST_F(ConfigurationTest, ValuesLoadWithTheirTypesChecked) {
  struct Case {
    const char* Name;
    std::function<void()> Store;
    std::function<void(const TKofPluginConfiguration&)> Check;
  };
  const std::string key = kPluginKey;
  const Case cases[] = {
      {"Versions 9 is no mode", [&] { PutDword(TRegRoot::CurrentUser, key, "Versions", 9); },
       [](const auto& c) { EXPECT_EQ(c.VersionType(), verNone); }},
      {"Versions uses its low byte", [&] { PutDword(TRegRoot::CurrentUser, key, "Versions", 257); },
       [](const auto& c) { EXPECT_EQ(c.VersionType(), verUserDomainDaily); }},
      {"a string is no number", [&] { PutString(TRegRoot::CurrentUser, key, "Editable Records", "1"); },
       [](const auto& c) { EXPECT_FALSE(c.EditableRecords()); }},
      {"any non-zero number is true", [&] { PutDword(TRegRoot::CurrentUser, key, "Error grouping", 7); },
       [](const auto& c) { EXPECT_TRUE(c.ErrorGrouping()); }},
      {"numbers are signed", [&] { PutDword(TRegRoot::CurrentUser, key, "Buffer Size MB", 0xFFFFFFFF); },
       [](const auto& c) { EXPECT_EQ(c.BufferSize(), -1); }},
      {"keyboard layout is 32 bits", [&] { PutDword(TRegRoot::CurrentUser, key, "Keyboard Layout", 0xF0020409); },
       [](const auto& c) { EXPECT_EQ(c.KeyboardLayout(), 0xF0020409u); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TKofRegistry(TRegRoot::CurrentUser).DeleteKey(kPluginKey);
    PutDword(TRegRoot::CurrentUser, key, "AccessCodeTimeout", 300);
    c.Store();
    TKofPluginConfiguration cfg;
    cfg.Init();
    EXPECT_EQ(cfg.AccessCodeTimeout(), 300);
    c.Check(cfg);
  }
}

TEST_F(ConfigurationTest, MachineWideValuesReachThePerUserKeyAtUnload) {
  PutDword(TRegRoot::LocalMachine, kPluginKey, "AccessCodeTimeout", 60);
  PutDword(TRegRoot::LocalMachine, kPluginKey, "Versions", 2);
  {
    TKofPluginConfiguration cfg;
    cfg.Init();
    EXPECT_TRUE(cfg.ReadOnly());
    EXPECT_TRUE(cfg.Modified());
  }
  EXPECT_EQ(ValueNames(TRegRoot::CurrentUser, kPluginKey).size(), SettingsTable().size());
  TKofRegistry reg(TRegRoot::CurrentUser);
  ASSERT_TRUE(reg.OpenKeyReadOnly(kPluginKey));
  EXPECT_EQ(reg.ReadInteger("AccessCodeTimeout"), 60u);
  EXPECT_EQ(reg.ReadInteger("Versions"), 2u);
  EXPECT_EQ(reg.GetDataType("Panel Prefix"), TRegDataType::String);
}

TEST_F(ConfigurationTest, SettersMarkModifiedAndRangeCheckTheMode) {
  TKofPluginConfiguration cfg;
  EXPECT_FALSE(cfg.Modified());
  cfg.SetBufferSize(8);
  cfg.SetStoreAllFiles(true);
  EXPECT_FALSE(cfg.Modified());
  cfg.SetVersionType(6);
  EXPECT_EQ(cfg.VersionType(), verNone);
  EXPECT_TRUE(cfg.Modified());
  cfg.SetVersionType(verUserDailyIndex);
  EXPECT_TRUE(cfg.Versioning());
}

TEST_F(ConfigurationTest, NewSessionTakesTheConstructorDefaults) {
  TKofPluginConfiguration defaults;
  std::unique_ptr<TKofSession> s = defaults.NewSession("Work.kof", "https://vault", "D", "U");
  EXPECT_EQ(s->Name(), "Work");
  EXPECT_EQ(s->AccessCodeTimeout(), 300);
  EXPECT_TRUE(s->EditableRecords());
  EXPECT_TRUE(s->ClipCopyMessage());
  EXPECT_TRUE(s->DisplayHelpFolders());
  EXPECT_TRUE(s->EncryptingFiles());
  EXPECT_EQ(s->BufferSize(), 16);
  EXPECT_FALSE(s->Modified());
}

TEST_F(ConfigurationTest, CorruptStoreIsReportedAndStartsEmpty) {
  test::WriteBytes(UserFile(), "{ not json");
  TKofPluginConfiguration cfg;
  cfg.Init();
  const auto notices = TakeRegistryNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find(UserFile()), std::string::npos);
  EXPECT_EQ(cfg.SessionManager().Sessions().Count(), 0);
  EXPECT_EQ(cfg.AccessCodeTimeout(), -1);
}

}  // namespace
}  // namespace kof
