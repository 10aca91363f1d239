// The plugin object's routing to panels, with panels that stand in for a
// logged-in session.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/KofFolders.h"
#include "plugin/KofPrompts.h"
#include "plugin/TotalCmdKofClasses5.h"
#include "plugin/TotalCmdKofCommon5.h"
#include "sessions/PluginKofConfiguration5.h"
#include "support/KofText.h"
#include "tests/platform/KofTestConfigHome.h"

namespace kof {
namespace {

struct Recorded {
  std::vector<int> RequestTypes;
  std::vector<std::string> Texts;
  bool Answer = false;
};
Recorded gHost;

wfx::BOOL RecordRequest(int, int type, wfx::WCHAR*, wfx::WCHAR* text, wfx::WCHAR*, int) {
  gHost.RequestTypes.push_back(type);
  gHost.Texts.push_back(text ? Utf16ToUtf8(text) : "");
  return gHost.Answer ? wfx::kTrue : wfx::kFalse;
}

// A panel whose login and listing are scripted; it records the paths it was asked for.
class FakePanel : public TPluginKofCommonPanel {
 public:
  FakePanel(TCommonKofPlugin& owner, const std::string& name, TFindHandle handle, bool loginOk,
            std::vector<std::string>* visited)
      : TPluginKofCommonPanel(owner, 1, name, handle), FLoginOk(loginOk), FVisited(visited) {}

  bool LoginSession(int, const std::string&, TLoginOptions) override { return FConnected = FLoginOk; }
  bool Connected() const override { return FConnected; }
  TKofStep MatchLevelTo(int, const TKofHostPath& path, TFileSysStatus) override {
    FVisited->push_back(path.Full());
    return {path.Full().find("Missing") == std::string::npos};
  }
  TKofListing FindFirst(int, const TKofHostPath& path, wfx::WIN32_FIND_DATAW& fd, bool) override {
    ClearFindData(fd);
    SetFindName(fd, "entry of " + path.Full());
    return {PluginHandle()};
  }
  TCodeOutcome GetFile(int, const TKofHostPath&, const std::string&, int, wfx::RemoteInfoStruct*) override {
    return {wfx::FS_FILE_OK};
  }

 private:
  bool FLoginOk;
  bool FConnected = false;
  std::vector<std::string>* FVisited;
};

class ScriptedPlugin : public TTotalCmdKofPlugin {
 public:
  ScriptedPlugin() : TTotalCmdKofPlugin(plugTotalCmd, 0) {}
  std::unique_ptr<TPluginKofCommonPanel> CreatePanel(const std::string& name) override {
    return std::make_unique<FakePanel>(*this, name, GlobalPluginHandle(), LoginOk, &Visited);
  }
  bool LoginOk = true;
  std::vector<std::string> Visited;
};

class PluginObject : public test::TConfigHomeTest {
 protected:
  void SetUp() override {
    TConfigHomeTest::SetUp();
    gHost = {};
    FPlugin = std::make_unique<ScriptedPlugin>();
    // As an export would: the plugin's operations run under its lock.
    FHold = std::make_unique<TKofHold>(FPlugin->Lock());
    FPlugin->SetProcedures({nullptr, nullptr, &RecordRequest});
    ASSERT_TRUE(FPlugin->Init("/opt/koffra/Koffra5.wfx"));
    for (const char* name : {"Work", "Home"}) {
      const TKofPluginConfiguration defaults;
      auto session = defaults.NewSession(name, "https://127.0.0.1:1/", "D", "u");
      ASSERT_TRUE(FPlugin->ManageSession(*session, saNew));
    }
  }
  void TearDown() override {
    FHold.reset();
    FPlugin.reset();
    TConfigHomeTest::TearDown();
  }

  std::string ListFirst(const std::string& path, TFindHandle* handle = nullptr, int* lastError = nullptr) {
    wfx::WIN32_FIND_DATAW fd;
    std::memset(&fd, 0, sizeof fd);
    const TFindOutcome listed = FPlugin->FindFirst(0, TKofHostPath(path), fd);
    if (handle) *handle = listed.Value;
    if (lastError) *lastError = listed.LastError;
    return listed.Value == kNoHandle ? std::string() : GetFindName(fd);
  }

  int GetFile(const std::string& remote, const std::string& local) {
    return FPlugin->GetFile(0, TKofHostPath(remote), local, 0, nullptr).Value;
  }

  int Execute(const std::string& remote, std::string& newRemote) {
    return FPlugin->Execute(1, TKofHostPath(remote), vtOpen, newRemote).Value;
  }

  std::unique_ptr<ScriptedPlugin> FPlugin;
  std::unique_ptr<TKofHold> FHold;
};

TEST_F(PluginObject, ASessionPathWithoutPanelLogsInAndWalksDown) {
  TFindHandle h;
  EXPECT_EQ(ListFirst("\\Work\\Group\\Box", &h), "entry of \\Work\\Group\\Box");
  EXPECT_EQ(FPlugin->Visited, (std::vector<std::string>{"\\Work", "\\Work\\Group", "\\Work\\Group\\Box"}));
  ASSERT_EQ(FPlugin->Panels().Count(), 1);
  EXPECT_EQ(h, FPlugin->Panels().GetPanel(0)->PluginHandle());
  EXPECT_EQ(FPlugin->Module(), "/opt/koffra/Koffra5.wfx");
  EXPECT_EQ(FPlugin->PureModule(), "Koffra5");

  // The panel now exists: the next listing goes straight to it.
  FPlugin->Visited.clear();
  EXPECT_EQ(ListFirst("\\Work\\Other"), "entry of \\Work\\Other");
  EXPECT_EQ(FPlugin->Visited, std::vector<std::string>{"\\Work\\Other"});
}

TEST_F(PluginObject, PathsThatCannotBeOpenedGiveTheWayBackEntry) {
  struct Case {
    const char* path;
    bool loginOk;
  } cases[] = {{"\\Nosuch\\Box", true}, {"\\Work\\Box", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    FPlugin->LoginOk = c.loginOk;
    TFindHandle h;
    EXPECT_EQ(ListFirst(c.path, &h), "__Press Enter here to go to Sessions folder__");
    EXPECT_EQ(h, kGotoSessionsHandle);
    EXPECT_EQ(FPlugin->Panels().Count(), 0);
    wfx::WIN32_FIND_DATAW fd;
    EXPECT_FALSE(FPlugin->FindNext(h, fd));
  }
}

TEST_F(PluginObject, AMissingFolderAfterASuccessfulLoginKeepsThePanel) {
  TFindHandle h;
  int lastError = 0;
  EXPECT_EQ(ListFirst("\\Work\\Missing\\Box", &h, &lastError), "");
  EXPECT_EQ(h, kNoHandle);
  EXPECT_EQ(lastError, wfx::ERROR_NO_MORE_FILES);
  // The password was given once; the next listing of the session uses the panel.
  ASSERT_EQ(FPlugin->Panels().Count(), 1);
  FPlugin->Visited.clear();
  EXPECT_EQ(ListFirst("\\Work\\Other"), "entry of \\Work\\Other");
  EXPECT_EQ(FPlugin->Visited, std::vector<std::string>{"\\Work\\Other"});
}

TEST_F(PluginObject, ACopyToTheLocalDiskFreesTheOtherSessionsPanel) {
  ListFirst("\\Work\\Box");
  ListFirst("\\Home\\Box");
  ASSERT_EQ(FPlugin->Panels().Count(), 2);
  // A view copy in the temporary folder keeps both sessions.
  EXPECT_EQ(GetFile("\\Work\\Box\\a.pdf", TemporaryFolder() + "/a.pdf"), wfx::FS_FILE_OK);
  EXPECT_EQ(FPlugin->Panels().Count(), 2);
  EXPECT_EQ(GetFile("\\Work\\Box\\a.pdf", "/home/user/a.pdf"), wfx::FS_FILE_OK);
  ASSERT_EQ(FPlugin->Panels().Count(), 1);
  EXPECT_EQ(FPlugin->Panels().NameAt(0), "Work");
}

TEST_F(PluginObject, OpeningAConnectedSessionAsksBeforeReusingIt) {
  ListFirst("\\Work");
  const TFindHandle old = FPlugin->Panels().GetPanel(0)->PluginHandle();
  std::string newRemote;

  gHost.Answer = false;
  EXPECT_EQ(Execute("\\Work.<KOF>", newRemote), wfx::FS_EXEC_OK);
  ASSERT_EQ(gHost.RequestTypes, std::vector<int>{wfx::RT_MsgYesNo});
  EXPECT_NE(gHost.Texts[0].find("already connected"), std::string::npos);
  EXPECT_EQ(FPlugin->Panels().GetPanel(0)->PluginHandle(), old);

  gHost.Answer = true;
  EXPECT_EQ(Execute("\\Work.<KOF>", newRemote), wfx::FS_EXEC_SYMLINK);
  EXPECT_EQ(newRemote, "\\Work");
  ASSERT_EQ(FPlugin->Panels().Count(), 1);
  EXPECT_NE(FPlugin->Panels().GetPanel(0)->PluginHandle(), old);
}

TEST_F(PluginObject, MessageKindsFollowTheFlags) {
  struct Case {
    uint32_t flags;
    int requestType;
  } cases[] = {{0x40009, wfx::RT_MsgYesNo}, {0x30000, wfx::RT_MsgYesNo}, {0x10009, wfx::RT_MsgOK},
               {0x10000, wfx::RT_MsgOK},   {0x20000, wfx::RT_MsgOKCancel}};
  for (const auto& c : cases) {
    gHost.RequestTypes.clear();
    FPlugin->ShowMessageDlg("t", "m", c.flags);
    EXPECT_EQ(gHost.RequestTypes, std::vector<int>{c.requestType}) << std::hex << c.flags;
  }
}

TEST_F(PluginObject, HandlesWrapAfterTheLargestNumber) {
  FPlugin->SetGlobalPluginHandle(kMaxGlobalHandle - 1);
  EXPECT_EQ(FPlugin->GlobalPluginHandle(), kMaxGlobalHandle);
  EXPECT_EQ(FPlugin->GlobalPluginHandle(), 1u);
}

TEST_F(PluginObject, EverySessionFolderFlagBlocksListing) {
  for (TFileSysStatus op : {fsoGetSingle, fsoGetMulti, fsoGetMultiThread, fsoPutSingle, fsoPutMulti, fsoDelete,
                            fsoSearch}) {
    SCOPED_TRACE(op);
    FPlugin->StatusInfo(TKofHostPath("\\"), op, true);
    int lastError = 0;
    EXPECT_EQ(ListFirst("\\Work\\Box", nullptr, &lastError), "");
    EXPECT_EQ(lastError, wfx::ERROR_NO_MORE_FILES);
    EXPECT_EQ(FPlugin->Panels().Count(), 0);
    FPlugin->StatusInfo(TKofHostPath("\\"), op, false);
  }
  FPlugin->StatusInfo(TKofHostPath("\\"), fsoRenMovMulti, true);  // not a sessions-folder flag
  EXPECT_EQ(ListFirst("\\"), "__ use F3 to view HELP __");
}

// The rule "the export holds the lock" is checked where code relies on it:
// only the holding thread passes, also after a nested hold (a host calling
// back in) has been released.
TEST(PluginLock, OnlyTheHoldingThreadPassesTheCheck) {
  TKofPluginLock lock;
  EXPECT_THROW(lock.AssertHeld(), std::logic_error);
  {
    TKofHold outer(lock);
    { TKofHold inner(lock); }
    EXPECT_NO_THROW(lock.AssertHeld());
    bool otherPassed = true;
    std::thread([&] {
      try {
        lock.AssertHeld();
      } catch (const std::logic_error&) {
        otherPassed = false;
      }
    }).join();
    EXPECT_FALSE(otherPassed);
  }
  EXPECT_THROW(lock.AssertHeld(), std::logic_error);
}

TEST_F(PluginObject, PromptsRefuseToRunWithoutThePluginLock) {
  FHold.reset();
  gHost.RequestTypes.clear();
  EXPECT_THROW(FPlugin->Prompts().ShowMessage("t", "m"), std::logic_error);
  EXPECT_TRUE(gHost.RequestTypes.empty());
  FHold = std::make_unique<TKofHold>(FPlugin->Lock());
}

// The clipboard through a script whose read-back can be made to fail.
class ClipboardNotices : public PluginObject {
 protected:
  void SetUp() override {
    PluginObject::SetUp();
    FDir = Root() + "/clip";
    std::filesystem::create_directories(FDir);
    const std::string program = FDir + "/clipboard";
    test::WriteBytes(program, "#!/bin/sh\nd=$(dirname \"$0\")\n[ -e \"$d/broken\" ] && exit 1\n"
                              "if [ \"$1\" = copy ]; then cat > \"$d/clip\"; else cat \"$d/clip\"; fi\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    FCommand = std::make_unique<test::TScopedEnv>("KOFFRA_CLIPBOARD_CMD", program);
    FPlugin->SetClipboardInterval(std::chrono::milliseconds(50));
  }
  void TearDown() override {
    std::filesystem::remove(FDir + "/broken");
    PluginObject::TearDown();
    FCommand.reset();
  }
  void Copy(bool notify) {
    std::string error;
    ASSERT_TRUE(FPlugin->CopySecretToClipboard("s3cret", notify, error)) << error;
  }
  void Break(bool broken) {
    if (broken) test::WriteBytes(FDir + "/broken", "");
    else std::filesystem::remove(FDir + "/broken");
  }
  std::string Held() const { return test::ReadBytes(FDir + "/clip"); }
  // Waits (bounded) until the timer emptied the clipboard.
  bool ClearedByTimer() const {
    for (int i = 0; i < 500 && !Held().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return Held().empty();
  }
  // Delivers owed notices until one containing PART was shown (bounded).
  bool NoticeShown(std::string_view part) {
    for (int i = 0; i < 500 && Shown(part) == 0; ++i) {
      FPlugin->DeliverClipboardNotice();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Shown(part) > 0;
  }
  int Shown(std::string_view part) const {
    int n = 0;
    for (const std::string& text : gHost.Texts) n += text.find(part) != std::string::npos;
    return n;
  }

  std::string FDir;
  std::unique_ptr<test::TScopedEnv> FCommand;
};

// Whatever panel was used last (a listing of another session resets it), the
// notice follows the setting of the session whose secret was copied.
TEST_F(ClipboardNotices, TheNoticeFollowsTheCopyingSession) {
  for (const bool notify : {true, false}) {
    SCOPED_TRACE(notify);
    gHost = {};
    Copy(notify);
    FPlugin->SetLastUsedPanelIndex(-1);
    ASSERT_TRUE(ClearedByTimer());
    if (notify) {
      EXPECT_TRUE(NoticeShown("The Clipboard was cleared"));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the clearing has surely ended
      FPlugin->DeliverClipboardNotice();
      EXPECT_EQ(Shown("The Clipboard was cleared"), 0);
    }
  }
}

// A dialog opened from inside another (the tags of a record's properties) is
// part of it: the notice owed meanwhile is kept, and shown when the outer one ends.
TEST_F(ClipboardNotices, ANoticeDueDuringNestedDialogsWaitsForTheOutermostEnd) {
  Copy(true);
  {
    const TPromptBracket outer(*FPlugin);
    ASSERT_TRUE(ClearedByTimer());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the clearing has surely ended
    FPlugin->DeliverClipboardNotice();
    { const TPromptBracket inner(*FPlugin); }
    EXPECT_EQ(Shown("The Clipboard was cleared"), 0) << "shown while the outer dialog is still open";
  }
  EXPECT_EQ(Shown("The Clipboard was cleared"), 1);
}

// A clipboard that cannot be read back may still hold the secret: the user is
// told so (once), never that it was cleared, and the timer keeps trying.
TEST_F(ClipboardNotices, AFailedClearingIsToldAndRetriedUntilItWorks) {
  Copy(true);
  Break(true);
  EXPECT_EQ(FPlugin->ClearClipboard(), TClearResult::Failed);  // as at logout
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // several failed retries
  FPlugin->DeliverClipboardNotice();
  EXPECT_EQ(Shown("could not be cleared"), 1);
  EXPECT_EQ(Shown("was cleared"), 0);
  EXPECT_EQ(Held(), "s3cret");

  Break(false);
  ASSERT_TRUE(ClearedByTimer());
  EXPECT_TRUE(NoticeShown("The Clipboard was cleared"));
  EXPECT_EQ(Shown("could not be cleared"), 1);
  EXPECT_EQ(FPlugin->ClearClipboard(), TClearResult::Gone);
}

}  // namespace
}  // namespace kof
