// The diagnostic log through the exports: switched on by the plugin
// configuration's setting, it records what the plugin did with files and
// never a secret; switched off it writes nothing.
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>

#include "platform/KofRegistry.h"
#include "sessions/PluginKofSessions5.h"
#include "tests/flows/VaultFixture.h"

namespace kof::test {
namespace {

namespace fs = std::filesystem;

const std::string kPassword = "Unlikely-Pa55phrase";
const std::string kAccessCode = "7391-access";

// What must never reach the log: the login's secrets, the records' secret
// fields and the external file's key material.
const std::vector<std::string> kSecrets = {
    kPassword,         kAccessCode, "Tr0ub4dor&3", "staple", "4111111111111111", "sealed",
    "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F", "A0A1A2A3A4A5A6A7A8A9AAAB",
    "B0B1B2B3B4B5B6B7B8B9BABBBCBDBEBF"};

class LogFlowBase : public VaultFlow {
 protected:
  void SetUp() override {
    VaultFlow::SetUp();
    FLogin.Password = kPassword;
    FLogin.AccessCode = kAccessCode;
  }

  json SeedWithSecrets(bool clientEncryption) {
    json seed = Seed(clientEncryption);
    seed["users"][0]["password"] = kPassword;
    seed["users"][0]["accessCode"] = kAccessCode;
    return seed;
  }

  std::string LogPath() const { return (FDir / "user" / "debug.log").string(); }

  // As a new host whose configuration has the log on or off.
  void SwitchLog(bool on) {
    UnloadPlugin();  // it stores its configuration on the way out
    TKofRegistry reg(TRegRoot::CurrentUser);
    ASSERT_TRUE(reg.OpenKey(kPluginKey, true));
    reg.WriteInteger("Diagnostic Log", on ? 1 : 0);
    LoadPlugin();
  }

  // Logs in, copies a file record out and a file in, and shows the server information.
  void Work() {
    ASSERT_TRUE(Enter()) << AskedSoFar();
    FPlugin.List("/Demo/Company/Servers");
    ASSERT_EQ(FPlugin.Get("/Demo/Company/Servers/Release notes.txt", Local("notes.txt"), wfx::FS_COPYFLAGS_OVERWRITE)
                  .Code,
              wfx::FS_FILE_OK)
        << AskedSoFar();
    WriteFile(Local("new.txt"), "new content");
    ASSERT_EQ(FPlugin.Put(Local("new.txt"), "/Demo/Company/Servers/new.txt", wfx::FS_COPYFLAGS_OVERWRITE).Code,
              wfx::FS_FILE_OK)
        << AskedSoFar();
    FPlugin.List("/Demo/" + kAccessories);
    FPlugin.Exec("open", "/Demo/" + kAccessories + "/__ Koffra __.info", nullptr);
  }
};

class LogFlow : public LogFlowBase, public ::testing::WithParamInterface<bool> {};

TEST_P(LogFlow, SwitchedOnItRecordsTheFilesAndNoSecret) {
  StartVaultWith(SeedWithSecrets(GetParam()));
  SwitchLog(true);
  Work();
  const std::string log = ReadFile(LogPath());
  EXPECT_NE(log.find("INF savefil: \"" + Local("notes.txt") + "\""), std::string::npos) << log;
  EXPECT_NE(log.find("INF loadfil: \"" + Local("new.txt") + "\""), std::string::npos) << log;
  EXPECT_NE(log.find("INF Server information: Product:"), std::string::npos) << log;
  for (const std::string& secret : kSecrets) EXPECT_EQ(log.find(secret), std::string::npos) << secret;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);)
    EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (INF|ERR) .*)"))) << line;
  struct stat st {};
  ASSERT_EQ(::stat(LogPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

INSTANTIATE_TEST_SUITE_P(Encryption, LogFlow, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "ClientEncryption" : "ServerOnly"; });

using LogSwitchFlow = LogFlowBase;

TEST_F(LogSwitchFlow, SwitchedOffItWritesNothing) {
  StartVaultWith(SeedWithSecrets(false));
  Work();
  EXPECT_FALSE(fs::exists(LogPath()));
  SwitchLog(true);
  Work();
  const std::string written = ReadFile(LogPath());
  EXPECT_FALSE(written.empty());
  SwitchLog(false);
  Work();
  EXPECT_EQ(ReadFile(LogPath()), written);
}

// A planted link is not followed: the user is told, the target keeps its content, the plugin works on.
TEST_F(LogSwitchFlow, ALogThatCannotBeOpenedIsToldAndTheWorkGoesOn) {
  StartVaultWith(SeedWithSecrets(false));
  const std::string target = (FDir / "elsewhere").string();
  WriteFile(target, "kept");
  fs::create_symlink(target, LogPath());
  SwitchLog(true);
  EXPECT_TRUE(NoticeShown("Koffra configuration", "The diagnostic log")) << AskedSoFar();
  Work();
  EXPECT_EQ(ReadFile(target), "kept");
}

}  // namespace
}  // namespace kof::test
