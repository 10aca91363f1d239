#include "sessions/KofSettings.h"

#include <gtest/gtest.h>

#include <set>

#include "sessions/PluginKofSessions5.h"
#include "tests/platform/KofTestConfigHome.h"

namespace kof {
namespace {

// Every value differs from its built-in default, so a row that reads or
// writes the wrong member, or not at all, shows.
const TSessionSettings kUnusual{.AccessCodeTimeout = 42,
                                .EditableRecords = false,
                                .FilesWithPasswords = true,
                                .VersionType = verUserDailyIndex,
                                .ErrorGrouping = true,
                                .ClipCopyMessage = false,
                                .AllowedVersionTypeChange = true,
                                .DisplayHelpFolders = false,
                                .EncryptingFiles = false,
                                .StoreAllFiles = true,
                                .BufferSize = 3};
const TPluginSettings kUnusualOwn{.PanelPrefix = "XYZ", .KeyboardLayout = 0x0409, .DiagnosticLog = true};

TEST(SettingsTable, NoTwoSettingsShareAName) {
  std::set<std::string> stored, inFiles;
  for (const TSettingRow& row : SettingsTable()) {
    EXPECT_TRUE(stored.insert(LowerCase(row.RegistryName)).second) << row.RegistryName;
    if (row.FileName) {
      EXPECT_TRUE(inFiles.insert(LowerCase(row.FileName)).second) << row.FileName;
    }
  }
}

class SettingsStoreTest : public test::TConfigHomeTest {};

TEST_F(SettingsStoreTest, EverySettingComesBackFromTheStoreAndTheFile) {
  TKofRegistry reg(TRegRoot::CurrentUser);
  ASSERT_TRUE(reg.OpenKey("Software\\Test", true));
  WriteStoredSettings(reg, kUnusual, &kUnusualOwn);

  TSessionSettings session;
  EXPECT_FALSE(ReadStoredSettings(reg, TSessionSettings{}, session));  // nothing missing, nothing repaired
  EXPECT_EQ(session, kUnusual);

  TSessionSettings defaults;
  TPluginSettings own;
  ReadPluginSettings(reg, defaults, own);
  EXPECT_EQ(defaults, kUnusual);
  EXPECT_EQ(own, kUnusualOwn);

  TKofIniFile ini;
  WriteFileSettings(ini, kSessionSection, kUnusual);
  EXPECT_EQ(ReadFileSettings(TKofIniFile(ini.Text()), kSessionSection), kUnusual);
}

TEST_F(SettingsStoreTest, ASessionStoresNoneOfThePluginsOwnSettings) {
  TKofRegistry reg(TRegRoot::CurrentUser);
  ASSERT_TRUE(reg.OpenKey("Software\\Test", true));
  WriteStoredSettings(reg, kUnusual);
  for (const TSettingRow& row : SettingsTable())
    EXPECT_EQ(reg.ValueExists(row.RegistryName), row.FileName != nullptr) << row.RegistryName;
}

}  // namespace
}  // namespace kof
