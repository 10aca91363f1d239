#include "model/KofFilesys.h"

#include <gtest/gtest.h>

#include "support/KofText.h"

namespace kof {
namespace {

// One path component that Linux and Windows both accept as it is.
bool IsSafeComponent(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F || std::string_view("/\\:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
      return false;
  if (name.back() == '.' || name.back() == ' ') return false;
  std::string base = UpperCase(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "COM1", "COM9", "LPT1", "LPT9"})
    if (base == device) return false;
  return true;
}

TEST(FsNames, KnownSubstitutionsAndUnchangedNames) {
  struct Case {
    std::string name, expected;
  } cases[] = {
      {"a/b:c", "a\u0338b\u02F8c"},
      {"x\\y", "x\u01C0y"},
      {"Mail", "Mail"},
      {"report.pdf", "report.pdf"},
      {"Účty a hesla", "Účty a hesla"},
      {"a.b c", "a.b c"},
      {"..", "\u2024\u2024"},
      {"end. ", "end\u2024\u2423"},
      {"q?*", "q\uFF1F\uFF0A"},
      {"tab\there", "tab\u2409here"},
      {"CON", "\u2E2ECON"},
      {"nul.txt", "\u2E2Enul.txt"},
      {"CONSOLE", "CONSOLE"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TKofFileSysList::ReplaceFsName(c.name), c.expected) << c.name;
    EXPECT_EQ(TKofFileSysList::ReplaceFsNameBack(c.expected), c.name) << c.name;
  }
}

TEST(FsNames, PathSyntaxBecomesOneSafeComponentAndRoundTrips) {
  const std::string names[] = {
      "..", ".", "../../etc/passwd", "..\\..\\windows", "C:\\x", "a/b", "trailing.", "trailing ", " . ",
      std::string("nul\0byte", 8), "\x01\x1f\x7f", "<>|\"?*", "COM1", "lpt9.account", "aux .txt",
      // Names that already hold the replacement characters or the marker.
      "a\u0338b", "\u01C0", "\u02F8:", "\u2E2E", "\u2E2E/", "x\u2024.", "\u2409\t", "\uFF0A*", "\u2423 ",
      // Broken UTF-8 stays bytes.
      "\xE2\x90", "\xE2\xB8", "\xff/\xfe",
  };
  for (const std::string& name : names) {
    const std::string fs = TKofFileSysList::ReplaceFsName(name);
    EXPECT_TRUE(IsSafeComponent(fs)) << name << " -> " << fs;
    EXPECT_EQ(TKofFileSysList::ReplaceFsNameBack(fs), name) << name;
  }
}

TEST(FsNames, ExtensionsAndCertificates) {
  EXPECT_EQ(GetKofObjectTypeByExt(".SECRETACCOUNT"), kofAccountSec);
  EXPECT_EQ(GetKofObjectTypeByExt(".extfile"), kofExternalFile);
  EXPECT_EQ(GetKofObjectTypeByExt(".txt"), kofSafeBox);
  EXPECT_TRUE(IsCertificateExtension(".p7b"));
  EXPECT_TRUE(IsCertificateExtension(".Ca-Bundle"));
  EXPECT_FALSE(IsCertificateExtension(".p7c"));
  EXPECT_FALSE(IsCertificateExtension(""));
}

class PopulateTest : public ::testing::Test {
 protected:
  void Load(const char* body) { TKofObject::AddObjects(nullptr, FList, body, "", true, false); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : FNames.Entries()) names.push_back(e.Name);
    return names;
  }
  TKofFileSysList FList;
  TKofNameList FNames;
};

TEST_F(PopulateTest, RecordsGetTheirKindExtension) {
  Load(R"({"records":[
      {"template":"account","id":1,"name":"Mail"},
      {"template":"account-sec","id":2,"name":"Mail"},
      {"template":"file","id":3,"name":"report.pdf"},
      {"template":"ccard","id":4,"name":"Visa"},
      {"template":"external-file","id":5,"name":"big.iso"},
      {"template":"account","id":6,"name":"mail"},
      {"template":"account","id":7,"name":""},
      {"type":"SAFEBOX","id":8,"name":"Box"}]})");
  FList.Populate(FNames, kofRecordKinds, false, false);
  // A nameless account still gets its extension and stays reachable.
  EXPECT_EQ(Names(), (std::vector<std::string>{".account", "big.iso", "Mail.account", "mail.account",
                                               "Mail.secretaccount", "report.pdf", "Visa.creditcard"}));
  EXPECT_EQ(FNames[FNames.IndexOf("REPORT.PDF")].Id, 3);
  FList.Populate(FNames, kofFileKinds, false, false);
  EXPECT_EQ(Names(), (std::vector<std::string>{"big.iso", "report.pdf"}));
}

TEST_F(PopulateTest, BoxesOfOneNameGetOwnerAndSuffix) {
  Load(R"({"safeboxes":[
      {"type":"SAFEBOX","id":1,"name":"Mail","ownerName":"john","boxACL":"C"},
      {"type":"SAFEBOX","id":2,"name":"Mail","ownerName":"john"},
      {"type":"SAFEBOX","id":3,"name":"Mine","privateBox":true},
      {"type":"SAFEBOX_GROUP","id":4,"name":"Mine","privateBox":true},
      {"template":"account","id":5,"name":"stray"}]})");
  FList.Populate(FNames, kofBoxKinds, false, true);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Mail (john)", "Mail (john) - shared", "Mine", "Mine - private"}));
  EXPECT_EQ(FNames[FNames.IndexOf("Mail (john) - shared")].Id, 2);
  // Without AllObjects only boxes that grant the create right are listed.
  FList.Populate(FNames, kofBoxKinds, false, false);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Mail (john)"}));
}

// Listing twice, as a level does, never changes a member's name: an update of
// the member would otherwise store the escaped form as the record's name.
TEST_F(PopulateTest, EscapingChangesTheEntriesNotTheMembers) {
  Load(R"({"records":[{"template":"account","id":1,"name":"a/b:c"},{"template":"file","id":2,"name":".."}]})");
  FList.Populate(FNames, kofRecordKinds, false, false);
  EXPECT_TRUE(FNames.Contains("a/b:c.account"));
  FList.Populate(FNames, kofRecordKinds, true, false);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a\u0338b\u02F8c.account", "\u2024\u2024"}));
  FList.Populate(FNames, kofRecordKinds, true, false);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a\u0338b\u02F8c.account", "\u2024\u2024"}));
  EXPECT_EQ(FList[0]->Name(), "a/b:c");
  EXPECT_EQ(FList[1]->Name(), "..");
  EXPECT_EQ(TKofFileSysList::ReplaceFsNameBack(FNames[0].Name), "a/b:c.account");
}

}  // namespace
}  // namespace kof
