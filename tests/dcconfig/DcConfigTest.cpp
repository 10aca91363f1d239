#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/KofText.h"
#include "tools/dcconfig/DcConfig.h"

namespace kof {
namespace {

const TDcPlugin kKoffra{"Koffra5", "/home/u/.local/lib/koffra/Koffra5.wfx"};

// Laid out as Double Commander 1.0.10 writes its configuration.
const std::string kHostFile = R"(<?xml version="1.0" encoding="UTF-8"?>
<doublecmd DCVersion="1.0.10" ConfigVersion="13">
  <Behaviours>
    <RunInTerminalStayOpenParams>-e sh -c '{command}; read a'</RunInTerminalStayOpenParams>
  </Behaviours>
  <ColumnsSets DefaultTitleHash="540805403">
    <ColumnsSet UseFrameCursor="False">
      <FileSystem>&lt;General&gt;</FileSystem>
    </ColumnsSet>
  </ColumnsSets>
  <Plugins>
    <DsxPlugins/>
    <WfxPlugins>
      <WfxPlugin Enabled="True">
        <Name>FTP</Name>
        <Path>%commander_path%/plugins/wfx/ftp/ftp.wfx</Path>
      </WfxPlugin>
    </WfxPlugins>
    <WlxPlugins/>
  </Plugins>
</doublecmd>
)";

const std::string kFtpEnd = "ftp.wfx</Path>\n      </WfxPlugin>\n";

std::string KoffraElement(const std::string& path = kKoffra.Path) {
  return "      <WfxPlugin Enabled=\"True\">\n        <Name>Koffra5</Name>\n        <Path>" + path +
         "</Path>\n      </WfxPlugin>\n";
}

std::string WithKoffra(const std::string& element = KoffraElement()) {
  return ReplaceAll(kHostFile, kFtpEnd, kFtpEnd + element);
}

std::string ReadFixture(const std::string& name) {
  std::ifstream in(std::string(KOF_DCCONFIG_FIXTURES) + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(DcConfig, AddsThePluginAfterTheOthersInTheHostsLayout) {
  const TDcEdit edit = RegisterWfxPlugin(kHostFile, kKoffra);
  ASSERT_TRUE(edit.Ok) << edit.Error;
  EXPECT_EQ(edit.Change, TDcChange::Added);
  EXPECT_EQ(edit.Document, WithKoffra());
  EXPECT_TRUE(edit.KeptOtherBytes);
}

TEST(DcConfig, RegisteringAgainOrRemovingWhatIsAbsentLeavesTheBytesAlone) {
  const std::string registered = RegisterWfxPlugin(kHostFile, kKoffra).Document;
  const TDcEdit again = RegisterWfxPlugin(registered, kKoffra);
  ASSERT_TRUE(again.Ok) << again.Error;
  EXPECT_EQ(again.Change, TDcChange::Unchanged);
  EXPECT_EQ(again.Document, registered);

  const TDcEdit absent = UnregisterWfxPlugin(kHostFile, kKoffra);
  ASSERT_TRUE(absent.Ok) << absent.Error;
  EXPECT_EQ(absent.Change, TDcChange::Absent);
  EXPECT_EQ(absent.Document, kHostFile);
}

TEST(DcConfig, UnregisteringGivesBackTheFileAsItWas) {
  const std::string ftp = kHostFile.substr(kHostFile.find("    <WfxPlugins>"),
                                           kHostFile.find("    <WlxPlugins/>") - kHostFile.find("    <WfxPlugins>"));
  const std::string noWfx = ReplaceAll(kHostFile, ftp, "    <WfxPlugins/>\n");
  for (const std::string& original : {kHostFile, noWfx, ReadFixture("doublecmd-1.0.10.xml")}) {
    SCOPED_TRACE(original.substr(0, 120));
    ASSERT_FALSE(original.empty());
    const TDcEdit added = RegisterWfxPlugin(original, kKoffra);
    ASSERT_TRUE(added.Ok) << added.Error;
    EXPECT_TRUE(added.KeptOtherBytes);
    EXPECT_NE(added.Document.find(KoffraElement()), std::string::npos);
    const TDcEdit removed = UnregisterWfxPlugin(added.Document, kKoffra);
    ASSERT_TRUE(removed.Ok) << removed.Error;
    EXPECT_EQ(removed.Change, TDcChange::Removed);
    EXPECT_EQ(removed.Document, original);
  }
}

TEST(DcConfig, UpdatesTheOnePluginElementInPlace) {
  const std::string current = KoffraElement();
  struct Case {
    const char* name;
    std::string element;  // what the file holds after FTP
  } cases[] = {
      {"another path", KoffraElement("/old/build/Koffra5.wfx")},
      {"disabled", ReplaceAll(current, "\"True\"", "\"False\"")},
      {"no Enabled attribute", ReplaceAll(current, " Enabled=\"True\"", "")},
      {"name in another case", ReplaceAll(current, "Koffra5<", "KOFFRA5<")},
      // Paths of the form wfx://Koffra5/... reach the plugin by this name.
      {"renamed by the user", ReplaceAll(current, "<Name>Koffra5", "<Name>Vault")},
      {"no path", ReplaceAll(current, "\n        <Path>" + kKoffra.Path + "</Path>", "")},
      {"registered twice", KoffraElement("/a/Koffra5.wfx") + KoffraElement("/b/Koffra5.wfx")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TDcEdit edit = RegisterWfxPlugin(WithKoffra(c.element), kKoffra);
    ASSERT_TRUE(edit.Ok) << edit.Error;
    EXPECT_EQ(edit.Change, TDcChange::Updated);
    EXPECT_EQ(edit.Document, WithKoffra());
  }
}

TEST(DcConfig, CreatesWhatTheConfigurationLacks) {
  struct Case {
    const char* name;
    std::string input;
    std::string expected;
  } cases[] = {
      {"minimal configuration", MinimalDcConfig(),
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<doublecmd DCVersion=\"1.0.10\" ConfigVersion=\"13\">\n"
       "  <Plugins>\n    <WfxPlugins>\n" +
           KoffraElement() + "    </WfxPlugins>\n  </Plugins>\n</doublecmd>\n"},
      {"no plugin lists", "<doublecmd>\n  <Tabs/>\n</doublecmd>\n",
       "<doublecmd>\n  <Tabs/>\n  <Plugins>\n    <WfxPlugins>\n" + KoffraElement() +
           "    </WfxPlugins>\n  </Plugins>\n</doublecmd>\n"},
      {"all on one line", "<doublecmd DCVersion=\"1.0.10\"><Plugins><WfxPlugins/></Plugins></doublecmd>",
       "<doublecmd DCVersion=\"1.0.10\"><Plugins><WfxPlugins><WfxPlugin Enabled=\"True\"><Name>Koffra5</Name><Path>" +
           kKoffra.Path + "</Path></WfxPlugin></WfxPlugins></Plugins></doublecmd>\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TDcEdit edit = RegisterWfxPlugin(c.input, kKoffra);
    ASSERT_TRUE(edit.Ok) << edit.Error;
    EXPECT_EQ(edit.Change, TDcChange::Added);
    EXPECT_EQ(edit.Document, c.expected);
  }
}

TEST(DcConfig, PathsAreWrittenAsTextAndReadBackTheSame) {
  const TDcPlugin odd{"Koffra5", "/home/jürgen/a&b <c>/Koffra5.wfx"};
  const TDcEdit edit = RegisterWfxPlugin(kHostFile, odd);
  ASSERT_TRUE(edit.Ok) << edit.Error;
  EXPECT_NE(edit.Document.find("<Path>/home/jürgen/a&amp;b &lt;c&gt;/Koffra5.wfx</Path>"), std::string::npos);
  EXPECT_EQ(RegisterWfxPlugin(edit.Document, odd).Change, TDcChange::Unchanged);
}

TEST(DcConfig, RefusesWhatIsNotAHostConfiguration) {
  struct Case {
    const char* name;
    std::string input;
    TDcPlugin plugin;
    const char* error;
  } cases[] = {
      {"empty file", "", kKoffra, "not an XML document"},
      {"cut short", kHostFile.substr(0, kHostFile.size() / 2), kKoffra, "line"},
      {"another program's file", "<config><Plugins/></config>", kKoffra, "<doublecmd>"},
      {"no plugin name", kHostFile, {"", kKoffra.Path}, "name"},
      {"no plugin file", kHostFile, {"Koffra5", "/some/folder/"}, "file name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const TDcEdit& edit : {RegisterWfxPlugin(c.input, c.plugin), UnregisterWfxPlugin(c.input, c.plugin)}) {
      EXPECT_FALSE(edit.Ok);
      EXPECT_NE(edit.Error.find(c.error), std::string::npos) << edit.Error;
      EXPECT_TRUE(edit.Document.empty());
    }
  }
}

TEST(DcConfig, SaysWhenOtherBytesOfTheFileChange) {
  const TDcEdit edit = RegisterWfxPlugin("<doublecmd DCVersion='1.0.10'><Plugins/></doublecmd>", kKoffra);
  ASSERT_TRUE(edit.Ok) << edit.Error;
  EXPECT_FALSE(edit.KeptOtherBytes);
  EXPECT_NE(edit.Document.find("DCVersion=\"1.0.10\""), std::string::npos);
}

}  // namespace
}  // namespace kof
