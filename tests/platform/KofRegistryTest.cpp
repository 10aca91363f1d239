#include "platform/KofRegistry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "tests/platform/KofTestConfigHome.h"

namespace kof {
namespace {

using test::ReadBytes;
using test::WriteBytes;

class RegistryTest : public test::TConfigHomeTest {};

std::vector<std::string> CorruptAsides(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().rfind("registry.json.corrupt-", 0) == 0) found.push_back(entry.path());
  return found;
}

TEST_F(RegistryTest, ValuesKeepTheirTypeAcrossReopening) {
  {
    TKofRegistry reg(TRegRoot::CurrentUser);
    ASSERT_TRUE(reg.OpenKey("Software\\Vendor\\App", true));
    reg.WriteInteger("Count", 0xFFFFFFFFu);
    reg.WriteString("Name", "Účty \"quoted\"");
    reg.WriteString("Number as text", "5");
  }
  TKofRegistry reg(TRegRoot::CurrentUser);
  ASSERT_TRUE(reg.OpenKeyReadOnly("Software\\Vendor\\App"));
  EXPECT_EQ(reg.GetDataType("Count"), TRegDataType::DWord);
  EXPECT_EQ(reg.ReadInteger("Count"), 0xFFFFFFFFu);
  EXPECT_EQ(reg.ReadString("Name"), "Účty \"quoted\"");
  // A string where a number is expected is detectable, not converted.
  EXPECT_EQ(reg.GetDataType("Number as text"), TRegDataType::String);
  EXPECT_FALSE(reg.TryReadInteger("Number as text"));
  try {
    reg.ReadInteger("Number as text");
    FAIL() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'Number as text'");
  }
  EXPECT_THROW(reg.ReadString("Missing"), ERegistryException);
  EXPECT_FALSE(reg.ValueExists("Missing"));
}

TEST_F(RegistryTest, NamesCompareWithoutRegardToCase) {
  struct Case {
    const char* Written;
    const char* Asked;
  };
  const Case cases[] = {
      {"Software\\Vendor", "SOFTWARE\\vendor"},
      {"Software\\Účty", "software\\ÚČTY"},
      {"\\Software\\Žluť\\", "software\\žluť"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Written);
    TKofRegistry reg(TRegRoot::CurrentUser);
    ASSERT_TRUE(reg.OpenKey(c.Written, true));
    reg.WriteInteger("Ändern", 1);
    reg.WriteInteger("äNDERN", 2);  // the same value, not a second one
    ASSERT_TRUE(reg.OpenKey(c.Asked, false));
    EXPECT_EQ(reg.GetValueNames(), std::vector<std::string>{"Ändern"});
    EXPECT_EQ(reg.ReadInteger("ÄNDERN"), 2u);
  }
}

TEST_F(RegistryTest, SubkeysEnumerateSortedAndDeleteWithTheirSubtree) {
  TKofRegistry reg(TRegRoot::CurrentUser);
  for (const char* name : {"beta", "Alpha", "gamma\\inner"}) ASSERT_TRUE(reg.OpenKey(std::string("S\\") + name, true));
  ASSERT_TRUE(reg.OpenKey("S", false));
  EXPECT_EQ(reg.GetKeyNames(), (std::vector<std::string>{"Alpha", "beta", "gamma"}));

  EXPECT_TRUE(reg.DeleteKey("s\\GAMMA"));
  EXPECT_FALSE(reg.KeyExists("S\\gamma\\inner"));
  EXPECT_FALSE(reg.DeleteKey("S\\gamma"));
  ASSERT_TRUE(reg.OpenKey("S\\Alpha", false));
  reg.WriteString("v", "x");
  EXPECT_TRUE(reg.DeleteValue("V"));
  EXPECT_FALSE(reg.ValueExists("v"));
  EXPECT_FALSE(reg.DeleteValue("v"));
}

TEST_F(RegistryTest, InvalidKeyPathsAreRefused) {
  const std::string cases[] = {"a\\\\b", std::string("a\\b\x01"), std::string(256, 'k'), "bad\xC3"};
  TKofRegistry reg(TRegRoot::CurrentUser);
  for (const std::string& path : cases) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(reg.OpenKey(path, true));
    EXPECT_FALSE(reg.KeyExists(path));
  }
  EXPECT_FALSE(std::filesystem::exists(UserFile()));
}

TEST_F(RegistryTest, WriteWithoutOpenKeyOrWithInvalidTextRaises) {
  TKofRegistry reg(TRegRoot::CurrentUser);
  EXPECT_THROW(reg.WriteInteger("x", 1), ERegistryException);
  ASSERT_TRUE(reg.OpenKey("K", true));
  try {
    reg.WriteString("Text", "not utf-8 \xFF");
    FAIL() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'Text'");
  }
}

TEST_F(RegistryTest, RootsLiveInTheirOwnPrivateDocuments) {
  TKofRegistry user(TRegRoot::CurrentUser);
  TKofRegistry machine(TRegRoot::LocalMachine);
  ASSERT_TRUE(user.OpenKey("K", true));
  user.WriteInteger("v", 1);
  EXPECT_FALSE(machine.KeyExists("K"));
  ASSERT_TRUE(machine.OpenKey("M", true));
  EXPECT_EQ(RegistryFilePath(TRegRoot::CurrentUser), UserFile());
  EXPECT_EQ(RegistryFilePath(TRegRoot::LocalMachine), SystemFile());
  struct stat st {};
  ASSERT_EQ(stat(UserFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // No temporary file is left behind.
  for (const auto& entry : std::filesystem::directory_iterator(Root() + "/user"))
    EXPECT_TRUE(entry.path().filename() == "registry.json" || entry.path().filename() == "registry.json.lock")
        << entry.path();
}

TEST_F(RegistryTest, DefaultLocationsFollowXdg) {
  test::TScopedEnv noUser("KOFFRA_CONFIG_HOME", std::nullopt);
  test::TScopedEnv noSystem("KOFFRA_SYSTEM_CONFIG_DIR", std::nullopt);
  test::TScopedEnv xdg("XDG_CONFIG_HOME", std::string("/xdg/config"));
  EXPECT_EQ(RegistryFilePath(TRegRoot::CurrentUser), "/xdg/config/koffra/registry.json");
  EXPECT_EQ(RegistryFilePath(TRegRoot::LocalMachine), "/etc/xdg/koffra/registry.json");
  test::TScopedEnv noXdg("XDG_CONFIG_HOME", std::nullopt);
  test::TScopedEnv home("HOME", std::string("/home/someone"));
  EXPECT_EQ(RegistryFilePath(TRegRoot::CurrentUser), "/home/someone/.config/koffra/registry.json");
}

TEST_F(RegistryTest, BatchedWritesLandTogetherOrNotAtAll) {
  TKofRegistry reg(TRegRoot::CurrentUser);
  reg.BeginUpdate();
  ASSERT_TRUE(reg.OpenKey("Batch", true));
  reg.WriteInteger("a", 1);
  reg.WriteInteger("b", 2);
  reg.CancelUpdate();
  EXPECT_FALSE(TKofRegistry(TRegRoot::CurrentUser).KeyExists("Batch"));

  reg.BeginUpdate();
  ASSERT_TRUE(reg.OpenKey("Batch", true));
  reg.WriteInteger("a", 1);
  reg.WriteInteger("b", 2);
  ASSERT_TRUE(reg.EndUpdate());
  TKofRegistry check(TRegRoot::CurrentUser);
  ASSERT_TRUE(check.OpenKeyReadOnly("Batch"));
  EXPECT_EQ(check.GetValueNames(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(RegistryTest, CorruptDocumentIsMovedAsideAndNeverOverwritten) {
  struct Case {
    const char* Name;
    std::string Content;
  };
  const Case cases[] = {
      {"not json", "{\"keys\": {\"S\": "},
      {"array at top", "[1, 2]"},
      {"unknown value type", R"({"values": {"v": {"type": "binary", "data": "AA=="}}})"},
      {"dword out of range", R"({"values": {"v": {"type": "dword", "data": 4294967296}}})"},
      {"negative dword", R"({"values": {"v": {"type": "dword", "data": -1}}})"},
      {"string typed as number", R"({"values": {"v": {"type": "dword", "data": "7"}}})"},
      {"names equal but for case", R"({"keys": {"Účet": {}, "účet": {}}})"},
      {"backslash in key name", R"({"keys": {"a\\b": {}}})"},
      {"invalid UTF-8", "{\"keys\": {\"\xFF\": {}}}"},
      // What a crash before the data reached the disk leaves: no blank, but damage.
      {"zero bytes", std::string(4096, '\0')},
      {"zero bytes after blanks", "\n\n" + std::string(10, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove_all(Root() + "/user");
    WriteBytes(UserFile(), c.Content);
    TakeRegistryNotices();

    TKofRegistry reg(TRegRoot::CurrentUser);
    EXPECT_FALSE(reg.KeyExists("S"));  // reads as empty
    const std::vector<std::string> notices = TakeRegistryNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("renamed to"), std::string::npos) << notices[0];
    const std::vector<std::string> asides = CorruptAsides(Root() + "/user");
    ASSERT_EQ(asides.size(), 1u);
    EXPECT_EQ(ReadBytes(asides[0]), c.Content);

    // The store carries on: a new document, the damaged one untouched.
    ASSERT_TRUE(reg.OpenKey("S", true));
    reg.WriteInteger("v", 1);
    EXPECT_EQ(ReadBytes(asides[0]), c.Content);
    EXPECT_TRUE(TKofRegistry(TRegRoot::CurrentUser).KeyExists("S"));
  }
}

TEST_F(RegistryTest, CorruptDocumentMetByAWriterIsAlsoKept) {
  WriteBytes(UserFile(), "garbage");
  TKofRegistry reg(TRegRoot::CurrentUser);
  reg.BeginUpdate();
  ASSERT_TRUE(reg.OpenKey("K", true));
  reg.WriteInteger("v", 1);
  ASSERT_TRUE(reg.EndUpdate());
  const auto asides = CorruptAsides(Root() + "/user");
  ASSERT_EQ(asides.size(), 1u);
  EXPECT_EQ(ReadBytes(asides[0]), "garbage");
  EXPECT_EQ(TakeRegistryNotices().size(), 1u);
}

TEST_F(RegistryTest, CorruptDocumentThatCannotBeMovedBlocksWrites) {
  if (geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  WriteBytes(UserFile(), "garbage");
  ASSERT_EQ(chmod((Root() + "/user").c_str(), 0500), 0);
  TKofRegistry reg(TRegRoot::CurrentUser);
  EXPECT_FALSE(reg.OpenKey("K", true));
  chmod((Root() + "/user").c_str(), 0700);
  EXPECT_EQ(ReadBytes(UserFile()), "garbage");
  EXPECT_FALSE(TakeRegistryNotices().empty());
}

TEST_F(RegistryTest, EmptyFileIsAnEmptyStore) {
  WriteBytes(UserFile(), "");
  TKofRegistry reg(TRegRoot::CurrentUser);
  EXPECT_FALSE(reg.KeyExists("K"));
  EXPECT_TRUE(TakeRegistryNotices().empty());
}

// Each writer adds its own values; none may be lost to another's replace.
void WriteValues(const std::string& prefix, int count) {
  for (int i = 0; i < count; ++i) {
    TKofRegistry reg(TRegRoot::CurrentUser);
    if (!reg.OpenKey("Shared\\" + prefix, true)) continue;
    reg.WriteInteger("v" + std::to_string(i), static_cast<uint32_t>(i));
  }
}

void ExpectAllValues(int writers, int count) {
  TKofRegistry reg(TRegRoot::CurrentUser);
  for (int w = 0; w < writers; ++w) {
    ASSERT_TRUE(reg.OpenKeyReadOnly("Shared\\w" + std::to_string(w))) << w;
    EXPECT_EQ(reg.GetValueNames().size(), static_cast<std::size_t>(count)) << w;
  }
}

TEST_F(RegistryTest, ConcurrentThreadsLoseNoChange) {
  constexpr int kWriters = 4, kCount = 25;
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) threads.emplace_back(WriteValues, "w" + std::to_string(w), kCount);
  for (auto& t : threads) t.join();
  ExpectAllValues(kWriters, kCount);
}

TEST_F(RegistryTest, ConcurrentProcessesLoseNoChange) {
  constexpr int kWriters = 4, kCount = 25;
  test::RunInChildProcesses(kWriters, [&](int w) { WriteValues("w" + std::to_string(w), kCount); });
  ExpectAllValues(kWriters, kCount);
}

}  // namespace
}  // namespace kof

namespace kof {
namespace {

TEST_F(RegistryTest, UnreadableDocumentIsReportedOnceAndNeverReplaced) {
  std::filesystem::create_directories(UserFile());  // a folder where the file should be
  TKofRegistry reg(TRegRoot::CurrentUser);
  EXPECT_FALSE(reg.KeyExists("K"));
  EXPECT_FALSE(reg.KeyExists("K"));
  EXPECT_EQ(TakeRegistryNotices().size(), 1u);
  EXPECT_FALSE(reg.OpenKey("K", true));
  EXPECT_FALSE(reg.LastError().empty());
  EXPECT_TRUE(std::filesystem::is_directory(UserFile()));
}

}  // namespace
}  // namespace kof
