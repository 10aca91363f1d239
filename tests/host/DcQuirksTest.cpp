// What Double Commander needs from the exports beyond the interface itself:
// real times, Unix modes that say "regular file", folder changes that name the
// plugin, its "configure plugin" request and its command line. Driven through
// the loader against a kof-test-server child process with the demo vault.
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "plugin/KofHostPaths.h"
#include "tests/flows/FlowFixture.h"
#include "tests/flows/VaultLogin.h"
#include "tests/serverflow/ServerProcess.h"

namespace kof::test {
namespace {

using nlohmann::json;
using testserver::flow::TApi;
using testserver::flow::TServerProcess;
using wfxhost::Entry;
using wfxhost::Request;

constexpr uint32_t kFolder = 16;
constexpr uint32_t kUnixMode = 0x80000000u;
const std::string kHelp = "__ use F3 to view HELP __";

bool NoTime(const wfx::FILETIME& t) { return t.dwHighDateTime == 0xFFFFFFFFu && t.dwLowDateTime == 0xFFFFFFFEu; }

uint64_t Ticks(const wfx::FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

uint64_t NowTicks() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
  return 116444736000000000ULL + static_cast<uint64_t>(seconds) * 10000000ULL;
}

json DemoVault() {
  const char* source = std::getenv("KOF_SOURCE_DIR");
  std::ifstream in(std::string(source ? source : ".") + "/tests/server/demo-vault.json");
  return json::parse(in);
}

class DcQuirks : public PluginFlow {
 protected:
  void SetUp() override {
    PluginFlow::SetUp();
    FPlugin.GetAnswers().SetFallback([this](const Request& r) { return AnswerLogin(FLogin, r, {}); });
  }

  void TearDown() override {
    FPlugin.Unload();
    FApi.reset();
    FServer.reset();
    PluginFlow::TearDown();
  }

  void StartVault() {
    FServer = std::make_unique<TServerProcess>(DemoVault());
    FApi = std::make_unique<TApi>(*FServer);
    AddSession("Demo");
  }

  void AddSession(const std::string& name) {
    const std::string url =
        FServer ? "https://127.0.0.1:" + std::to_string(FServer->Port()) + "/" : "https://127.0.0.1:1/";
    WriteFile(Local(name + ".KOF"), SessionFileText(url, FLogin));
    ASSERT_EQ(FPlugin.Put(Local(name + ".KOF"), "/" + name + ".KOF", wfx::FS_COPYFLAGS_OVERWRITE).Code,
              wfx::FS_FILE_OK);
  }

  // Enter on the session entry, answering the certificate and the login.
  void LogIn() {
    std::string newPath;
    ASSERT_EQ(FPlugin.Exec("open", "/Demo.<KOF>", &newPath).Code, wfx::FS_EXEC_SYMLINK);
    ASSERT_EQ(newPath, "/Demo");
    FPlugin.GetAnswers().ClearAsked();
  }

  // How many requests the server has answered for this path.
  int Served(const std::string& path) {
    auto answer = FApi->Get("/__control/requests");
    int n = 0;
    if (answer && answer->status == 200)
      for (const json& r : json::parse(answer->body))
        if (r.value("path", "") == path) ++n;
    return n;
  }

  // Every entry of every folder below these, with the folder it was listed in.
  std::vector<std::pair<std::string, Entry>> Walk(std::deque<std::string> folders) {
    std::vector<std::pair<std::string, Entry>> all;
    std::set<std::string> seen;
    while (!folders.empty()) {
      const std::string folder = folders.front();
      folders.pop_front();
      if (!seen.insert(folder).second) continue;
      for (const Entry& e : FPlugin.List(folder)) {
        all.emplace_back(folder, e);
        if (e.Attributes & kFolder) folders.push_back((folder == "/" ? "" : folder) + "/" + e.Name);
      }
    }
    return all;
  }

  const std::vector<Request>& Asked() { return FPlugin.GetAnswers().Asked(); }

  TLogin FLogin;
  std::unique_ptr<TServerProcess> FServer;
  std::unique_ptr<TApi> FApi;
};

// The "no time" value makes Double Commander's time conversion overflow before
// it copies or views an entry; a mode that is not a regular file turns an
// entry into a folder, link or device for it.
TEST_F(DcQuirks, EveryListedEntryHasARealTimeAndSpecialEntriesReadAsRegularFiles) {
  StartVault();
  LogIn();
  std::vector<std::pair<std::string, Entry>> entries = Walk({"/", "/Demo"});
  for (const auto& e : FPlugin.List("/Gone")) entries.emplace_back("/Gone", e);  // the way-back entry
  ASSERT_GT(entries.size(), 20u);
  std::set<std::string> folders;
  for (const auto& [folder, e] : entries) {
    SCOPED_TRACE(folder + "/" + e.Name);
    folders.insert(folder);
    EXPECT_FALSE(NoTime(e.WriteTime));
    EXPECT_FALSE(NoTime(e.CreationTime));
    EXPECT_FALSE(NoTime(e.AccessTime));
    EXPECT_NE(e.Size, 0xFFFFFFFFFFFFFFFEull);
    if (e.Attributes & kUnixMode) {
      EXPECT_EQ(e.Reserved0 & S_IFMT, static_cast<uint32_t>(S_IFREG));
    }
  }
  // The walk reached the sessions folder, a box in a group, the bin and the accessories.
  for (const char* folder : {"/", "/Demo/Company/Servers (demo)", "/Demo/!!__Bin_Deleted__!!",
                             "/Demo/!!_ Accessories _!!", "/Gone"})
    EXPECT_TRUE(folders.count(folder)) << folder;
}

TEST_F(DcQuirks, SessionEntriesAreEmptyPrivateFilesOfNowThatEnterTheSession) {
  StartVault();
  const uint64_t before = NowTicks();
  const std::vector<Entry> root = FPlugin.List("/");
  ASSERT_EQ(root.size(), 2u);
  const Entry& session = root[1];
  EXPECT_EQ(session.Name, "Demo.<KOF>");
  EXPECT_EQ(session.Attributes, kUnixMode);
  EXPECT_EQ(session.Reserved0, static_cast<uint32_t>(S_IFREG | 0600));
  EXPECT_EQ(session.Reserved1, 0u);
  EXPECT_EQ(session.Size, 0u);
  EXPECT_GE(Ticks(session.WriteTime), before);
  EXPECT_LE(Ticks(session.WriteTime), NowTicks() + 10000000ULL);
  // The help document is as old as the library that carries it.
  EXPECT_LE(Ticks(root[0].WriteTime), before + 10000000ULL);
  LogIn();
}

TEST_F(DcQuirks, FolderChangesNameThePluginSoTheHostStaysInIt) {
  StartVault();
  AddSession("tmp");  // /tmp exists on every machine: a plain path would leave the plugin
  struct Case {
    const char* verb;
    std::string path;
    const char* buffer;
    const char* newPath;
  } cases[] = {
      {"open", "/tmp.<KOF>", "wfx://Koffra5/tmp", "/tmp"},
      {"open", "/tmp/!!_ Accessories _!!/__Logout Session__", "wfx://Koffra5/", "/"},
      {"open", "/" + kHelp, "wfx://Koffra5/", "/"},
      {"open", "/Demo.<KOF>", "wfx://Koffra5/Demo", "/Demo"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string newPath;
    const wfxhost::Result r = FPlugin.Exec(c.verb, c.path, &newPath);
    EXPECT_EQ(r.Code, wfx::FS_EXEC_SYMLINK);
    EXPECT_EQ(r.Buffer, c.buffer);
    EXPECT_EQ(newPath, c.newPath);
  }
}

TEST(HostLink, APathTooLongForTheLinkFormIsGivenPlain) {
  char16_t buffer[24];
  PluginToHostLink("\\Demo", "Koffra5", buffer, 24);
  EXPECT_EQ(std::u16string(buffer), u"wfx://Koffra5/Demo");
  PluginToHostLink("\\", "Koffra5", buffer, 24);
  EXPECT_EQ(std::u16string(buffer), u"wfx://Koffra5/");
  // 18 units and a terminating zero fit in 19 ...
  PluginToHostLink("\\Demo", "Koffra5", buffer, 19);
  EXPECT_EQ(std::u16string(buffer), u"wfx://Koffra5/Demo");
  // ... not in 18: a cut link would name another folder.
  PluginToHostLink("\\Demo", "Koffra5", buffer, 18);
  EXPECT_EQ(std::u16string(buffer), u"/Demo");
}

TEST_F(DcQuirks, ConfiguringThePluginShowsItsVersionConfigurationAndSessions) {
  AddSession("Work");
  AddSession("Home");
  FPlugin.GetAnswers().ClearAsked();
  EXPECT_EQ(FPlugin.Exec("properties", "/").Code, wfx::FS_EXEC_OK);
  ASSERT_EQ(Asked().size(), 1u);
  const Request& shown = Asked()[0];
  EXPECT_EQ(shown.Type, wfx::RT_MsgOK);
  EXPECT_EQ(shown.Title, "Koffra5");
  for (const std::string& part : {std::string("Koffra plugin 5.0.0, built "), std::string("Sessions:\t2"),
                                  (FDir / "user" / "registry.json").string(), std::string("/Koffra5.wfx")})
    EXPECT_NE(shown.Text.find(part), std::string::npos) << part << " in\n" << shown.Text;
}

TEST_F(DcQuirks, CommandLineLogoutReturnsToTheSessionsWithoutAskingToLogInAgain) {
  StartVault();
  LogIn();
  ASSERT_FALSE(FPlugin.List("/Demo/Company").empty());
  std::string newPath;
  const wfxhost::Result r = FPlugin.Exec("quote logout", "/Demo/Company/", &newPath);
  EXPECT_EQ(r.Code, wfx::FS_EXEC_SYMLINK);
  EXPECT_EQ(r.Buffer, "wfx://Koffra5/");
  // Double Commander lists the folder the command was typed in once more before it moves.
  EXPECT_TRUE(FPlugin.List("/Demo/Company").empty());
  EXPECT_FALSE(FPlugin.List("/").empty());
  EXPECT_TRUE(Asked().empty());
  // Logged out for real: entering the session asks for the password again.
  LogIn();
  FPlugin.GetAnswers().ClearAsked();
  EXPECT_EQ(FPlugin.Exec("quote logout", "/").Code, wfx::FS_EXEC_OK);
  EXPECT_TRUE(Asked().empty());
}

TEST_F(DcQuirks, CommandLineReloadLetsTheHostListTheFolderAgain) {
  StartVault();
  LogIn();
  ASSERT_FALSE(FPlugin.List("/Demo/Company/Servers (demo)").empty());
  const int before = Served("/safe/boxes/2/records");
  // On FS_EXEC_OK the host lists the folder again; that reads the server.
  EXPECT_EQ(FPlugin.Exec("quote reload", "/Demo/Company/Servers (demo)/").Code, wfx::FS_EXEC_OK);
  EXPECT_FALSE(FPlugin.List("/Demo/Company/Servers (demo)").empty());
  EXPECT_GT(Served("/safe/boxes/2/records"), before);

  // In the sessions folder it reads the sessions another host stored meanwhile.
  const std::string other = Local("Other.KOF");
  WriteFile(other, SessionFileText("https://127.0.0.1:1/", FLogin));
  const std::string host = BuildDir() + "/wfxhost";
  ASSERT_EQ(std::system((host + " -c 'put " + other + " /Other.KOF' >/dev/null").c_str()), 0);
  EXPECT_EQ(FPlugin.Exec("quote  Reload ", "/").Code, wfx::FS_EXEC_OK);
  std::set<std::string> names;
  for (const Entry& e : FPlugin.List("/")) names.insert(e.Name);
  EXPECT_TRUE(names.count("Other.<KOF>"));
  EXPECT_TRUE(Asked().empty());
}

TEST_F(DcQuirks, OtherCommandLineTextIsToldAndChangesNothing) {
  FPlugin.GetAnswers().ClearAsked();
  EXPECT_EQ(FPlugin.Exec("quote ls -l", "/").Code, wfx::FS_EXEC_OK);
  ASSERT_EQ(Asked().size(), 1u);
  EXPECT_EQ(Asked()[0].Type, wfx::RT_MsgOK);
  EXPECT_NE(Asked()[0].Text.find("\"ls -l\" is not a command of the plugin"), std::string::npos);
  EXPECT_NE(Asked()[0].Text.find("logout"), std::string::npos);
}

// wfxhost follows the plugin's links as a file manager does.
TEST_F(DcQuirks, WfxHostFollowsALinkThatNamesThePlugin) {
  const std::string dir = BuildDir();
  const std::string out = Local("wfxhost.out");
  const std::string command = dir + "/wfxhost --plugin " + dir + "/Koffra5.wfx -c 'exec open \"/" + kHelp +
                              "\"; pwd' >" + out + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("newpath=wfx://Koffra5/\ncd /\n/\n"), std::string::npos) << text.str();
}

}  // namespace
}  // namespace kof::test
