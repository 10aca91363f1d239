#include <gtest/gtest.h>

#include <cstring>

#include "plugin/PluginKofCommon5.h"
#include "plugin/KofHostPaths.h"
#include "plugin/TotalCmdKofCommon5.h"
#include "support/KofText.h"

namespace kof {
namespace {

TEST(HostPath, SplitsHostPathsIntoPanelAndPanelPath) {
  struct Case {
    const char* path;
    bool asSource;
    const char* panel;
    const char* panelPath;
  } cases[] = {
      {"\\", true, "", "\\"},
      {"\\..", true, "", ".."},
      {"\\Work.<KOF>", true, "", "\\Work.<KOF>"},
      {"\\Work.<KOF>", false, "", "\\Work.<KOF>"},
      {"\\work.<kof>", true, "", "\\work.<kof>"},
      {"\\Work.KOF", false, "", "\\Work.KOF"},
      {"\\Work.cfg", false, "", "\\Work.cfg"},
      {"\\Work.ini", false, "", "\\Work.ini"},
      {"\\Work.KOF", true, "Work.KOF", ""},
      {"\\Work\\Box\\a.account", true, "Work", "\\Box\\a.account"},
      {"\\Work\\Box\\", true, "Work", "\\Box"},
      {"\\Work", true, "Work", ""},
      {"\\Work", false, "Work", ""},
      {"\\Work.KOF\\Box", false, "Work.KOF", "\\Box"},
      {"", true, "", "\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + (c.asSource ? " as source" : " as target"));
    const TKofHostPath r(c.path, c.asSource ? THostRole::Source : THostRole::Target);
    EXPECT_EQ(r.PanelName(), c.panel);
    EXPECT_EQ(r.PanelPath(), c.panelPath);
  }
}

TEST(HostPath, SaysWhichOfThePluginsEntriesItNames) {
  struct Case {
    const char* path;
    TPathKind kind;
    bool help;
    bool logout;
  } cases[] = {
      {"\\", TPathKind::SessionsFolder, false, false},
      {"\\..", TPathKind::SessionsFolder, false, false},
      {"\\Work.<KOF>", TPathKind::SessionEntry, false, false},
      {"\\__ use F3 to view HELP __", TPathKind::SessionsHelp, true, false},
      {"\\Work", TPathKind::SessionRoot, false, false},
      {"\\Nosuch\\Box\\__Press Enter here to go to Sessions folder__", TPathKind::GotoSessions, false, false},
      {"\\Work\\!!_ Accessories _!!", TPathKind::Accessories, false, false},
      {"\\Work\\Box\\!!_ accessories _!!\\", TPathKind::Accessories, false, false},  // names ignore case
      {"\\Work\\Box\\!!_ Accessories _!!\\__Logout Session__", TPathKind::Accessory, false, true},
      {"\\Work\\!!_ Accessories _!!\\__ use F3 to view HELP __", TPathKind::Accessory, true, false},
      {"\\Work\\!!__Bin_Deleted__!!", TPathKind::Bin, false, false},
      {"\\Work\\!!__Bin_Deleted__!!\\Old.account", TPathKind::BinItem, false, false},
      {"\\Work\\Box\\__Logout Session__", TPathKind::Vault, false, false},  // a record of that name
      {"\\Work\\Box\\a__ use F3 to view HELP __b", TPathKind::Vault, false, false},
      {"\\Work\\!!__Bin_Deleted__!! [12]\\a.account", TPathKind::Vault, false, false},  // a box listed escaped
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const TKofHostPath path(c.path);
    EXPECT_EQ(path.Kind(), c.kind);
    EXPECT_EQ(path.IsHelp(), c.help);
    EXPECT_EQ(path.IsLogoutEntry(), c.logout);
  }
  EXPECT_EQ(TKofHostPath("\\Work\\Box\\a.account").Parent().Full(), "\\Work\\Box");
  EXPECT_EQ(TKofHostPath("\\Work\\Box\\a.account").Prefix(1).Kind(), TPathKind::SessionRoot);
}

class NullPanel : public TPluginKofCommonPanel {
 public:
  using TPluginKofCommonPanel::TPluginKofCommonPanel;
};

}  // namespace

class TestPlugin : public TCommonKofPlugin {
 public:
  std::unique_ptr<TPluginKofCommonPanel> CreatePanel(const std::string& name) override {
    return std::make_unique<NullPanel>(*this, Number(), name, 1);
  }
  bool ShowMessageDlg(std::string_view, std::string_view, uint32_t) override { return false; }
};

namespace {

TEST(PanelList, RefreshKeepsFocusedAndNamedPanelsOnly) {
  struct Case {
    const char* focused;
    const char* name1;
    const char* name2;
    std::vector<std::string> kept;
  } cases[] = {
      {"B", "B", "", {"B"}},
      {"B", "A", "", {"A", "B"}},
      {"C", "a", "d", {"A", "C", "D"}},  // names compare without regard to case
      {"A", "", "", {"A"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("focused ") + c.focused);
    TestPlugin owner;
    TPanelList list;
    for (const char* n : {"D", "A", "C", "B"}) list.Add(n, owner.CreatePanel(n));
    const int focused = list.IndexOf(c.focused);
    const int index = list.Refresh(focused, c.name1, c.name2);
    std::vector<std::string> names;
    for (int i = 0; i < list.Count(); ++i) names.push_back(list.NameAt(i));
    EXPECT_EQ(names, c.kept);
    EXPECT_EQ(list.NameAt(index), c.focused);
  }
}

TEST(PanelList, IsSortedCaseSensitiveAndRefusesDuplicates) {
  TestPlugin owner;
  TPanelList list;
  list.Add("b", owner.CreatePanel("b"));
  list.Add("B", owner.CreatePanel("B"));
  EXPECT_EQ(list.NameAt(0), "B");
  EXPECT_EQ(list.IndexOf("b"), 1);
  EXPECT_THROW(list.Add("b", owner.CreatePanel("b")), std::exception);
  EXPECT_EQ(list.Refresh(5, "", ""), -1);
}

TEST(FindData, NamesAreCutTo259UnitsWithoutSplittingACharacter) {
  wfx::WIN32_FIND_DATAW fd;
  struct Case {
    std::string name;
    std::size_t units;
  } cases[] = {
      {std::string(300, 'a'), 259},
      {std::string(258, 'a') + "\xF0\x9F\x94\x91", 258},  // a key emoji needs two units: it does not fit
      {"Účty.<KOF>", 10},
  };
  for (const auto& c : cases) {
    std::memset(&fd, 0x55, sizeof fd);
    SetFindName(fd, c.name);
    EXPECT_EQ(Utf16Length(fd.cFileName, wfx::kMaxPath), c.units) << c.name.substr(0, 12);
    EXPECT_EQ(fd.cFileName[c.units], 0);
  }
}

TEST(FindData, HelpAndGotoEntriesHaveTheirFixedShape) {
  wfx::WIN32_FIND_DATAW fd;
  std::memset(&fd, 0x55, sizeof fd);
  FillHelpEntry(fd, 1234);
  EXPECT_EQ(fd.dwFileAttributes, 33u);
  // A Linux host cannot copy an entry without a time: the help carries the build's.
  EXPECT_EQ(fd.ftLastWriteTime.dwHighDateTime, BuildFileTime() >> 32);
  EXPECT_EQ(fd.ftLastWriteTime.dwLowDateTime, static_cast<uint32_t>(BuildFileTime()));
  EXPECT_EQ(fd.nFileSizeLow, 1234u);
  EXPECT_EQ(fd.nFileSizeHigh, 0u);
  EXPECT_EQ(fd.dwReserved0, 0u);
  EXPECT_EQ(GetFindName(fd), "__ use F3 to view HELP __");

  std::memset(&fd, 0, sizeof fd);
  FillGotoSessionsEntry(fd);
  EXPECT_EQ(fd.dwFileAttributes, 0x80000000u);
  EXPECT_EQ(fd.dwReserved0, 0100600u);  // read as a Unix mode: a regular file
  EXPECT_EQ(fd.nFileSizeHigh, 0u);
  EXPECT_EQ(fd.nFileSizeLow, 0u);
  EXPECT_NE(fd.ftLastWriteTime.dwHighDateTime, 0xFFFFFFFFu);
  EXPECT_EQ(GetFindName(fd), "__Press Enter here to go to Sessions folder__");
}

TEST(FindData, UnixTimesOutsideTheFileTimeRangeSaturate) {
  struct Case {
    std::int64_t seconds;
    uint64_t fileTime;
  } cases[] = {{0, 116444736000000000ULL},
               {-11644473600, 0},
               {INT64_MIN, 0},
               {1, 116444736010000000ULL},
               {-1, 116444735990000000ULL},
               {922000000000, 9336444736000000000ULL},  // beyond a signed multiplication
               {INT64_MAX, 18446744073700000000ULL}};
  for (const auto& c : cases) EXPECT_EQ(UnixTimeToFileTime(c.seconds), c.fileTime) << c.seconds;
}

TEST(HostPaths, SeparatorsAreConvertedAtTheBoundaryOnly) {
  const std::u16string host = u"/Work/Box Ü/a.account";
  EXPECT_EQ(HostToPluginPath(host.c_str()), "\\Work\\Box Ü\\a.account");
  EXPECT_EQ(HostToLocalPath(host.c_str()), "/Work/Box Ü/a.account");
  EXPECT_EQ(PluginToHostPath("\\Work"), "/Work");
  EXPECT_EQ(HostToPluginPath(nullptr), "");
  char16_t buffer[8];
  PluginToHostBuffer("\\Session-with-long-name", buffer, 8);
  EXPECT_EQ(std::u16string(buffer), u"/Sessio");
}

}  // namespace
}  // namespace kof
