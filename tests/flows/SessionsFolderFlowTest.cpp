// The sessions folder driven through the exports, as a file manager drives it.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>

#include "tests/flows/FlowFixture.h"

namespace kof::test {
namespace {

using wfx::FS_FILE_EXISTS;
using wfx::FS_FILE_NOTFOUND;
using wfx::FS_FILE_OK;
using wfx::FS_FILE_READERROR;
using NameList = std::vector<std::string>;

const std::string kHelp = "__ use F3 to view HELP __";

std::string ExpectedSessionFile(const std::string& url, const std::string& domain, const std::string& user) {
  return "[Koffra Session]\r\n"
         "URL=" + url + "\r\n"
         "Domain=" + domain + "\r\n"
         "Username=" + user + "\r\n"
         "Access Code Timeout [sec]=300\r\n"
         "File Versioning Mode=Never\r\n"
         "Allow Change File Versioning=OFF\r\n"
         "Allow Records Modification=ON\r\n"
         "Save File Password=OFF\r\n"
         "Error Print Grouping=OFF\r\n"
         "Allow Copy Password Msg=ON\r\n"
         "Display Help Folder=ON\r\n"
         "Encrypting Files=ON\r\n"
         "Store All Files=OFF\r\n"
         "Buffer Size [MB]=16\r\n"
         "\r\n";
}

class SessionsFolder : public PluginFlow {
 protected:
  std::string StoreFile() const { return (FDir / "user" / "registry.json").string(); }
  static nlohmann::json& SessionValues(nlohmann::json& store, const std::string& name) {
    nlohmann::json& plugin = store["keys"]["Software"]["keys"]["Varnok"]["keys"]["Koffra TC Plugin"];
    return plugin["keys"]["Sessions"]["keys"][name]["values"];
  }
};

TEST_F(SessionsFolder, FreshConfigurationListsOnlyTheHelpEntry) {
  const auto entries = FPlugin.List("/");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Name, kHelp);
  EXPECT_EQ(entries[0].Attributes, 33u);
  EXPECT_GT(entries[0].Size, 100u);
  EXPECT_EQ(FPlugin.RootName(), "Koffra5");
}

TEST_F(SessionsFolder, NewSessionAsksForAddressDomainAndUserAndIsListed) {
  auto r = NewSession("Work");
  EXPECT_NE(r.Code, 0);
  const auto& asked = FPlugin.GetAnswers().Asked();
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[0].Type, wfx::RT_URL);
  EXPECT_EQ(asked[1].Type, wfx::RT_Account);
  EXPECT_EQ(asked[1].Text, "Domain");
  EXPECT_EQ(asked[2].Type, wfx::RT_UserName);
  EXPECT_EQ(asked[0].Title, "Work");

  const auto entries = FPlugin.List("/");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].Name, "Work.<KOF>");
  EXPECT_EQ(entries[1].Attributes, 0x80000000u);
  EXPECT_EQ(entries[1].Size, 0u);  // a Linux host shows the "unknown" size as -2
}

TEST_F(SessionsFolder, NewSessionRefusals) {
  ASSERT_NE(NewSession("Work").Code, 0);
  FPlugin.GetAnswers().ClearAsked();
  struct Case {
    const char* name;
    std::vector<std::string> answers;
    const char* message;  // part of the notice shown; empty: no notice
  } cases[] = {
      {"Work", {}, "Duplicate session name \"Work\""},
      {"work.KOF", {}, "Duplicate session name \"work\""},
      {"Cancelled", {"!cancel"}, ""},
      {"NoUrl", {"   ", "D", "u"}, "address (URL)"},
      {"Back\\slash", {}, "backslash"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& a : c.answers) FPlugin.GetAnswers().Push(a);
    FPlugin.GetAnswers().ClearAsked();
    EXPECT_EQ(FPlugin.MkDir(std::string("/") + c.name).Code, 0);
    bool shown = false;
    for (const auto& q : FPlugin.GetAnswers().Asked())
      if (q.Type == wfx::RT_MsgOK && q.Text.find(c.message) != std::string::npos) shown = true;
    if (*c.message) {
      EXPECT_TRUE(shown);
    }
  }
  EXPECT_EQ(Names("/"), (NameList{kHelp, "Work.<KOF>"}));

  // ".." would be listed as "...<KOF>" and could never be entered.
  for (const char* target : {"/...<KOF>", "/..KOF", "/....KOF"}) {
    SCOPED_TRACE(target);
    FPlugin.GetAnswers().ClearAsked();
    EXPECT_EQ(FPlugin.RenMov("/Work.<KOF>", target, false, false).Code, wfx::FS_FILE_WRITEERROR);
    ASSERT_FALSE(FPlugin.GetAnswers().Asked().empty());
    EXPECT_NE(FPlugin.GetAnswers().Asked().back().Text.find("cannot be used"), std::string::npos);
  }
  EXPECT_EQ(Names("/"), (NameList{kHelp, "Work.<KOF>"}));
}

TEST_F(SessionsFolder, ExportWritesTheSessionFileByteForByte) {
  ASSERT_NE(NewSession("Work", " https://vault.example.test/ ", "CORP", "alice").Code, 0);
  auto r = FPlugin.Get("/Work.<KOF>", Local("Work.<KOF>"), 0);
  EXPECT_EQ(r.Code, FS_FILE_OK);
  EXPECT_FALSE(std::filesystem::exists(Local("Work.<KOF>")));
  EXPECT_EQ(ReadFile(Local("Work.KOF")), ExpectedSessionFile("https://vault.example.test/", "CORP", "alice"));

  EXPECT_EQ(FPlugin.Get("/Work.<KOF>", Local("Work.<KOF>"), 0).Code, FS_FILE_EXISTS);
  EXPECT_EQ(FPlugin.Get("/Work.<KOF>", Local("Work.<KOF>"), wfx::FS_COPYFLAGS_OVERWRITE).Code, FS_FILE_OK);
  EXPECT_EQ(FPlugin.Get("/Nobody.<KOF>", Local("Nobody.<KOF>"), 0).Code, FS_FILE_NOTFOUND);

  // Moving out removes the session.
  EXPECT_EQ(FPlugin.Get("/Work.<KOF>", Local("Moved.<KOF>"), wfx::FS_COPYFLAGS_MOVE).Code, FS_FILE_OK);
  EXPECT_TRUE(std::filesystem::exists(Local("Moved.KOF")));
  EXPECT_EQ(Names("/"), NameList{kHelp});
}

TEST_F(SessionsFolder, ImportRoundTripsAnExportedSession) {
  ASSERT_NE(NewSession("Work", "https://vault.example.test/").Code, 0);
  ASSERT_EQ(FPlugin.Get("/Work.<KOF>", Local("Work.KOF"), 0).Code, FS_FILE_OK);
  ASSERT_NE(FPlugin.Delete("/Work.<KOF>").Code, 0);
  EXPECT_EQ(Names("/"), NameList{kHelp});

  EXPECT_EQ(FPlugin.Put(Local("Work.KOF"), "/Work.KOF", 0).Code, FS_FILE_OK);
  EXPECT_EQ(Names("/"), (NameList{kHelp, "Work.<KOF>"}));
  EXPECT_EQ(FPlugin.Put(Local("Work.KOF"), "/Work.KOF", 0).Code, FS_FILE_EXISTS);
  EXPECT_EQ(FPlugin.Put(Local("Work.KOF"), "/Work.KOF", wfx::FS_COPYFLAGS_OVERWRITE).Code, FS_FILE_OK);

  ASSERT_EQ(FPlugin.Get("/Work.<KOF>", Local("Again.KOF"), 0).Code, FS_FILE_OK);
  EXPECT_EQ(ReadFile(Local("Again.KOF")), ReadFile(Local("Work.KOF")));
}

TEST_F(SessionsFolder, ImportRefusesFilesThatAreNotSessionFiles) {
  const std::string good = ExpectedSessionFile("https://v/", "D", "u");
  struct Case {
    const char* file;
    std::string bytes;
  } cases[] = {
      {"NoUrl.KOF", "[Koffra Session]\r\nDomain=D\r\n\r\n"},
      {"EmptyUrl.KOF", "[Koffra Session]\r\nURL=\r\n\r\n"},
      {"OtherSection.KOF", "[Other]\r\nURL=https://v/\r\n"},
      {"Latin1.KOF", "[Koffra Session]\r\nURL=https://v/\r\nUsername=\xE9l\xE8ve\r\n"},
      {"Binary.KOF", std::string("\x7f" "ELF\0\0\0[Koffra Session]\nURL=x\n", 30)},
      {"Huge.KOF", good + std::string(1024 * 1024, ';')},
      {"Empty.KOF", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    WriteFile(Local(c.file), c.bytes);
    EXPECT_EQ(FPlugin.Put(Local(c.file), std::string("/") + c.file, 0).Code, FS_FILE_READERROR);
  }
  // A local file without a session extension: refused, whatever the target is called.
  WriteFile(Local("Wrong.txt"), good);
  EXPECT_EQ(FPlugin.Put(Local("Wrong.txt"), "/Wrong.KOF", 0).Code, FS_FILE_READERROR);
  // A target name without a session extension is no entry of the sessions folder at all.
  EXPECT_EQ(FPlugin.Put(Local("Wrong.txt"), "/Wrong.txt", 0).Code, wfx::FS_FILE_WRITEERROR);
  EXPECT_EQ(FPlugin.Put(Local("Missing.KOF"), "/Missing.KOF", 0).Code, FS_FILE_READERROR);
  EXPECT_EQ(Names("/"), NameList{kHelp});

  // The accepted extensions, for contrast.
  for (const char* file : {"A.KOF", "B.cfg", "C.INI"}) {
    WriteFile(Local(file), good);
    EXPECT_EQ(FPlugin.Put(Local(file), std::string("/") + file, 0).Code, FS_FILE_OK) << file;
  }
  EXPECT_EQ(Names("/"), (NameList{kHelp, "A.<KOF>", "B.<KOF>", "C.<KOF>"}));
}

TEST_F(SessionsFolder, RenameCopyMoveAndDelete) {
  ASSERT_NE(NewSession("Work").Code, 0);
  ASSERT_NE(NewSession("Home").Code, 0);

  EXPECT_EQ(FPlugin.RenMov("/Work.<KOF>", "/Office.<KOF>", true, false).Code, FS_FILE_OK);
  EXPECT_EQ(Names("/"), (NameList{kHelp, "Home.<KOF>", "Office.<KOF>"}));

  EXPECT_EQ(FPlugin.RenMov("/Office.<KOF>", "/Office2.KOF", false, false).Code, FS_FILE_OK);
  EXPECT_EQ(Names("/"), (NameList{kHelp, "Home.<KOF>", "Office.<KOF>", "Office2.<KOF>"}));

  EXPECT_EQ(FPlugin.RenMov("/Office.<KOF>", "/Home.<KOF>", true, false).Code, FS_FILE_EXISTS);
  EXPECT_EQ(FPlugin.RenMov("/Office.<KOF>", "/Office.<KOF>", true, false).Code, FS_FILE_EXISTS);
  EXPECT_EQ(FPlugin.RenMov("/Nobody.<KOF>", "/X.<KOF>", true, false).Code, FS_FILE_NOTFOUND);

  // The copy keeps every setting of its source.
  ASSERT_EQ(FPlugin.Get("/Office.<KOF>", Local("a.KOF"), 0).Code, FS_FILE_OK);
  ASSERT_EQ(FPlugin.Get("/Office2.<KOF>", Local("b.KOF"), 0).Code, FS_FILE_OK);
  EXPECT_EQ(ReadFile(Local("a.KOF")), ReadFile(Local("b.KOF")));

  EXPECT_NE(FPlugin.Delete("/Office2.<KOF>").Code, 0);
  EXPECT_EQ(FPlugin.Delete("/Nobody.<KOF>").Code, 0);
  EXPECT_EQ(Names("/"), (NameList{kHelp, "Home.<KOF>", "Office.<KOF>"}));
}

// WORK runs in a forked copy of this host: another file-manager window on the same store.
void InAnotherHost(const std::function<void()>& work) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    work();
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(SessionsFolder, ChangesMadeByAnotherWindowShowOnTheNextListing) {
  ASSERT_NE(NewSession("Work").Code, 0);
  EXPECT_EQ(Names("/"), (NameList{kHelp, "Work.<KOF>"}));
  InAnotherHost([&] {
    EXPECT_NE(NewSession("Home").Code, 0);
    EXPECT_NE(FPlugin.Delete("/Work.<KOF>").Code, 0);
  });
  EXPECT_EQ(Names("/"), (NameList{kHelp, "Home.<KOF>"}));
}

// This window still lists the session the other one deleted: an import over
// it stores the file (the choice is made against the store, not the list),
// and a rename of it finds it gone.
TEST_F(SessionsFolder, StoreOperationsDecideAgainstTheStoreNotAStaleList) {
  ASSERT_NE(NewSession("Work").Code, 0);
  ASSERT_NE(NewSession("Home").Code, 0);
  ASSERT_EQ(FPlugin.Get("/Work.<KOF>", Local("Work.KOF"), 0).Code, FS_FILE_OK);
  EXPECT_EQ(Names("/"), (NameList{kHelp, "Home.<KOF>", "Work.<KOF>"}));
  InAnotherHost([&] {
    EXPECT_NE(FPlugin.Delete("/Work.<KOF>").Code, 0);
    EXPECT_NE(FPlugin.Delete("/Home.<KOF>").Code, 0);
  });
  EXPECT_EQ(FPlugin.Put(Local("Work.KOF"), "/Work.KOF", wfx::FS_COPYFLAGS_OVERWRITE).Code, FS_FILE_OK);
  EXPECT_NE(FPlugin.RenMov("/Home.<KOF>", "/Office.<KOF>", true, false).Code, FS_FILE_OK);
  EXPECT_EQ(Names("/"), (NameList{kHelp, "Work.<KOF>"}));
}

TEST_F(SessionsFolder, SessionsSurviveAReload) {
  ASSERT_NE(NewSession("Work").Code, 0);
  UnloadPlugin();
  LoadPlugin();
  EXPECT_EQ(Names("/"), (NameList{kHelp, "Work.<KOF>"}));
}

TEST_F(SessionsFolder, HelpEntryOpensTheRootAndCopiesOut) {
  std::string newPath;
  auto r = FPlugin.Exec("open", "/" + kHelp, &newPath);
  EXPECT_EQ(r.Code, wfx::FS_EXEC_SYMLINK);
  EXPECT_EQ(newPath, "/");
  EXPECT_EQ(FPlugin.Exec("properties", "/" + kHelp).Code, wfx::FS_EXEC_OK);

  ASSERT_EQ(FPlugin.Get("/" + kHelp, Local("help.html"), 0).Code, FS_FILE_OK);
  const std::string help = ReadFile(Local("help.html"));
  EXPECT_NE(help.find("<html"), std::string::npos);
  EXPECT_EQ(help.size(), FPlugin.List("/")[0].Size);
}

TEST_F(SessionsFolder, PathsInsideUnknownSessionsOfferTheWayBack) {
  wfxhost::Result r;
  const auto entries = FPlugin.List("/Nosuch/Box", &r);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Name, "__Press Enter here to go to Sessions folder__");
  EXPECT_EQ(entries[0].Attributes, 0x80000000u);
  std::string back;
  EXPECT_EQ(FPlugin.Exec("open", "/Nosuch/__Press Enter here to go to Sessions folder__", &back).Code,
            wfx::FS_EXEC_SYMLINK);
  EXPECT_EQ(back, "/");
  EXPECT_EQ(FPlugin.Exec("open", "/Nosuch/Box/x.account").Code, wfx::FS_EXEC_ERROR);
  EXPECT_EQ(FPlugin.Get("/Nosuch/Box/x.account", Local("x"), 0).Code, FS_FILE_NOTFOUND);
  EXPECT_EQ(FPlugin.Put(Local("x"), "/Nosuch/Box/x", 0).Code, wfx::FS_FILE_WRITEERROR);
}

TEST_F(SessionsFolder, NothingIsListedWhileACopyFromTheSessionsFolderRuns) {
  FPlugin.Status("/", true, 3 /* get multi */);
  wfxhost::Result r;
  EXPECT_TRUE(FPlugin.List("/", &r).empty());
  EXPECT_EQ(r.LastError, wfx::ERROR_NO_MORE_FILES);
  FPlugin.Status("/", false, 3);
  EXPECT_EQ(FPlugin.List("/").size(), 1u);
}

TEST_F(SessionsFolder, HostBuffersAreNeverOverrun) {
  struct Case {
    int size;
    const char* expected;
  } cases[] = {{0, ""}, {1, ""}, {5, "Koff"}, {260, "Koffra5"}};
  for (const auto& c : cases) EXPECT_EQ(FPlugin.RootName(c.size), c.expected) << c.size;

  // The longest session name (253) with its ".<KOF>" fills the name field's 259 units; a
  // longer one would be listed cut and could never be entered.
  ASSERT_EQ(NewSession(std::string(254, 'n')).Code, 0);
  ASSERT_NE(NewSession(std::string(253, 'n')).Code, 0);
  const auto entries = FPlugin.List("/");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].Name, std::string(253, 'n') + ".<KOF>");
}

TEST_F(SessionsFolder, ExecuteVerbsAndDisconnect) {
  ASSERT_NE(NewSession("Work").Code, 0);
  EXPECT_EQ(FPlugin.Exec("chmod 755", "/Work.<KOF>").Code, wfx::FS_EXEC_OK);
  EXPECT_EQ(FPlugin.Exec("quote ls -l", "/Work.<KOF>").Code, wfx::FS_EXEC_OK);
  EXPECT_EQ(FPlugin.Exec("MODE I", "").Code, wfx::FS_EXEC_OK);
  EXPECT_TRUE(FPlugin.Disconnect("/Work"));
  EXPECT_EQ(FPlugin.Icon("/Work.<KOF>", wfx::FS_ICONFLAG_SMALL), wfx::FS_ICON_USEDEFAULT);
}

// A trusted certificate belongs to the server it was seen on.
TEST_F(SessionsFolder, PropertiesDropATrustedCertificateOnRequestOrWithANewAddress) {
  struct Case {
    const char* name;
    const char* url;       // answered to the address prompt
    const char* forget;    // answer to the question, or nullptr when none may come
    bool pinKept;
  } cases[] = {
      {"same address, keep", "https://vault.example/", "no", true},
      {"same address, forget", "https://vault.example/", "yes", false},
      {"new address", "https://other.example/", nullptr, false},
  };
  std::string pin = "AB";
  for (int i = 1; i < 32; ++i) pin += ":AB";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(Local("Pinned.KOF"), "[Koffra Session]\r\nURL=https://vault.example/\r\nDomain=D\r\nUsername=u\r\n\r\n");
    ASSERT_EQ(FPlugin.Put(Local("Pinned.KOF"), "/Pinned.KOF", wfx::FS_COPYFLAGS_OVERWRITE).Code, FS_FILE_OK);
    // A pin comes only from a login's answer, kept in the store; put one there as a login would.
    nlohmann::json store = nlohmann::json::parse(ReadFile(StoreFile()));
    SessionValues(store, "Pinned")["CertificatePin"] = {{"type", "sz"}, {"data", pin}};
    WriteFile(StoreFile(), store.dump());
    Names("/");  // the listing reads the store again
    FPlugin.GetAnswers().Push(c.url);
    FPlugin.GetAnswers().Push("D");
    FPlugin.GetAnswers().Push("u");
    if (c.forget) FPlugin.GetAnswers().Push(c.forget);
    EXPECT_EQ(FPlugin.Exec("properties", "/Pinned.<KOF>").Code, wfx::FS_EXEC_OK);
    EXPECT_EQ(ReadFile(StoreFile()).find(pin) != std::string::npos, c.pinKept);
  }
}

}  // namespace
}  // namespace kof::test
