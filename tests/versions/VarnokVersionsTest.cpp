#include "versions/VarnokVersions.h"

#include <gtest/gtest.h>

#include <string>

namespace kof {
namespace {

constexpr TVersionDate kToday{2024, 3, 7};
const TVersionUser kOperator{"operator", "OFFICE"};
const TEditedInfo kEdited{42};

std::string Versioned(std::string_view name, TVersionType mode, const TVersionUser& user = kOperator) {
  return TVersionEngine::CreateVersionedFilename(user, name, mode, &kEdited, nullptr, kToday);
}

TEST(TVersionEngine, NamesByMode) {
  const struct {
    TVersionType Mode;
    const char* Name;
    const char* Expected;
  } cases[] = {
      {verUserDomainDaily, "report.docx", "report_ver_240307_operator_OFFICE.docx"},
      {verUserDomainDaily, "report_ver_240307_operator_OFFICE.docx", "report_ver_240307_operator_OFFICE.docx"},
      {verUserDaily, "report_ver_3.docx", "report_ver_240307_operator.docx"},
      {verNumber, "report.docx", "report_ver_1.docx"},
      {verNumber, "report_ver_7.docx", "report_ver_8.docx"},
      {verNumber, "report_ver7.docx", "report_ver_8.docx"},
      {verNumber, "Report_VER_7.docx", "Report_ver_8.docx"},
      {verNumber, "report_ver_240307_operator.docx", "report_ver_1.docx"},
      {verNumber, "archive.tar.gz", "archive.tar_ver_1.gz"},
      {verNumber, "README", "README_ver_1"},
      {verUserDailyIndex, "report.docx", "report_ver_240307_operator~1.docx"},
      {verUserDailyIndex, "report_ver_240307_operator~1.docx", "report_ver_240307_operator~2.docx"},
      {verUserDailyIndex, "report_ver_240306_operator~4.docx", "report_ver_240307_operator~1.docx"},
      {verUserDailyIndex, "report_ver_240307_auditor~4.docx", "report_ver_240307_operator~1.docx"},
      {verUserDailyIndex, "report_ver_9.docx", "report_ver_240307_operator~1.docx"},
      {verUserDomainDailyIndex, "report_ver_240307_operator_OFFICE~4.docx", "report_ver_240307_operator_OFFICE~5.docx"},
      {verUserDomainDailyIndex, "report_ver_240307_operator_office~4.docx", "report_ver_240307_operator_OFFICE~5.docx"},
      {verUserDomainDailyIndex, "report_ver_240307_operator_HOME~4.docx", "report_ver_240307_operator_OFFICE~1.docx"},
      {verUserDomainDailyIndex, "report_ver_240307_operator~4.docx", "report_ver_240307_operator_OFFICE~1.docx"},
      {verNone, "report_ver_7.docx", "report_ver_7.docx"},
  };
  for (const auto& c : cases) EXPECT_EQ(Versioned(c.Name, c.Mode), c.Expected) << int(c.Mode) << " " << c.Name;
}

TEST(TVersionEngine, NothingChangesWhileNoRecordIsEdited) {
  const TEditedInfo none{-1}, zero{0};
  for (int mode = 0; mode < kVersionTypeCount; ++mode) {
    for (const TEditedInfo* info : {&none, &zero}) {
      bool different = true;
      EXPECT_EQ(TVersionEngine::CreateVersionedFilename(kOperator, "report.docx", TVersionType(mode), info, &different,
                                                        kToday),
                "report.docx");
      EXPECT_FALSE(different);
    }
  }
  // Without edit information the mode applies.
  EXPECT_EQ(TVersionEngine::CreateVersionedFilename(kOperator, "a.txt", verNumber, nullptr, nullptr, kToday),
            "a_ver_1.txt");
}

TEST(TVersionEngine, UsersAndDomainsAreWrittenSoTheNameSplitsAgain) {
  const struct {
    TVersionUser User;
    const char* Expected;
  } cases[] = {
      {{"a_b~c", "OFFICE"}, "report_ver_240307_a-b-c_OFFICE.docx"},
      {{"__", "OFFICE"}, "report_ver_240307_usr_OFFICE.docx"},
      {{"operator", "~"}, "report_ver_240307_operator_dom.docx"},
      {{"", "OFFICE"}, "report_ver_240307__OFFICE.docx"},
      {{"operator", ""}, "report_ver_240307_operator_.docx"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Versioned("report.docx", verUserDomainDaily, c.User), c.Expected) << c.User.UserName;
    TParsedFilename parts;
    const std::string name = c.Expected;
    EXPECT_EQ(TVersionEngine::ParseFilename(name.substr(0, name.size() - 5), parts), verUserDomainDaily);
    EXPECT_EQ(parts.PureFilename, "report");
  }
  TParsedFilename parts;
  TVersionEngine::ParseFilename("report_ver_240307__OFFICE", parts);
  EXPECT_EQ(parts.Username, "");
  EXPECT_EQ(parts.Domain, "OFFICE");
}

TEST(TVersionEngine, ParsingNames) {
  const struct {
    const char* Name;
    TVersionType Kind;
    const char* Pure;
    const char* User;
    const char* Domain;
    int Version, DomainIndex, UserIndex;
    TVersionDate Date;
  } cases[] = {
      {"a~b_ver_240307_operator~2", verUserDailyIndex, "a~b", "operator", "", 0, 0, 2, {2024, 3, 7}},
      {"x_ver_991231_op_DOM~12", verUserDomainDailyIndex, "x", "op", "DOM", 0, 12, 0, {2099, 12, 31}},
      {"x_ver_240307_op~", verUserDailyIndex, "x", "op", "", 0, 0, 0, {2024, 3, 7}},
      {"x_ver_240307_op~z", verUserDailyIndex, "x", "op", "", 0, 0, 0, {2024, 3, 7}},
      {"x_ver_240307_op_D", verUserDomainDaily, "x", "op", "D", 0, 0, 0, {2024, 3, 7}},
      {"x_VER_007", verNumber, "x", "", "", 7, 0, 0, {}},
      {"x_ver_0", verNumber, "x", "", "", 0, 0, 0, {}},
      {"x_ver12", verNumber, "x", "", "", 12, 0, 0, {}},
      {"x_ver0", verNone, "x_ver0", "", "", 0, 0, 0, {}},
      {"x_ver_99999999999", verNone, "x", "", "", 0, 0, 0, {}},
      {"my_ver_notes", verNone, "my", "", "", 0, 0, 0, {}},
      {"data_verified", verNone, "data_verified", "", "", 0, 0, 0, {}},
      {"x_ver_240307_a_b_c", verNone, "x", "", "", 0, 0, 0, {}},
      {"x_ver_2403_7_op", verNone, "x", "", "", 0, 0, 0, {}},
      {"x_ver_240307", verNumber, "x", "", "", 240307, 0, 0, {}},
      {"x_ver_241332_op", verUserDaily, "x", "op", "", 0, 0, 0, {2024, 13, 32}},  // no calendar date; no harm
      {"plain", verNone, "plain", "", "", 0, 0, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TParsedFilename parts;
    parts.Username = "stale";
    EXPECT_EQ(TVersionEngine::ParseFilename(c.Name, parts), c.Kind);
    EXPECT_EQ(parts.PureFilename, c.Pure);
    EXPECT_EQ(parts.Username, c.User);
    EXPECT_EQ(parts.Domain, c.Domain);
    EXPECT_EQ(parts.Version, c.Version);
    EXPECT_EQ(parts.VerDomainIndex, c.DomainIndex);
    EXPECT_EQ(parts.VerUserIndex, c.UserIndex);
    EXPECT_EQ(parts.VersionDate, c.Date);
  }
}

TEST(TVersionEngine, MarksOfTodayByThisUser) {
  const struct {
    const char* Name;
    bool Outdated;
  } cases[] = {
      {"r_ver_240307_OPERATOR~3.docx", false},
      {"r_ver_240307_operator_office.docx", false},
      {"r_ver_240307_operator_HOME.docx", true},
      {"r_ver_240306_operator.docx", true},
      {"r_ver_240307_auditor.docx", true},
      {"r_ver_5.docx", true},
      {"r.docx", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TVersionEngine::HasFilenameOutdatedVersion(kOperator, true, c.Name, kToday), c.Outdated) << c.Name;
  EXPECT_FALSE(TVersionEngine::HasFilenameOutdatedVersion(kOperator, false, "r.docx", kToday));
}

TEST(TVersionEngine, AnyVersionMark) {
  const struct {
    const char* Name;
    bool Marked;
  } cases[] = {
      {"r_ver_0.txt", true},        {"r_ver12.txt", true},           {"r_ver_240307_op.txt", true},
      {"r_ver_240307_op_D~2.txt", true}, {"dir/r_ver_3", true},       {"r_ver_notes.txt", false},
      {"r_ver0.txt", false},        {"data_verified.txt", false},    {"r_ver_240307_a_b_c.txt", false},
      {"r.txt", false},             {"r_ver_3.txt/other", false},
  };
  for (const auto& c : cases) EXPECT_EQ(TVersionEngine::HasFilenameAnyVersion(c.Name), c.Marked) << c.Name;
}

TEST(TVersionEngine, AutoShorteningKeepsTheMark) {
  const std::string ending = "_ver_240307_operator~3.docx";
  std::string name255(255 - ending.size(), 'n');
  name255 += ending;
  std::string name256 = "m" + name255;
  std::string plain300(300, 'p');
  std::string longTail = "x" + std::string("_ver_") + std::string(260, 't');
  std::string unchanged = name255, shortened = name256;
  TVersionEngine::AutoShortening(unchanged, shortened);
  EXPECT_EQ(unchanged, name255);
  EXPECT_EQ(shortened.size(), 254u);
  EXPECT_EQ(shortened.substr(shortened.size() - ending.size()), ending);
  EXPECT_EQ(shortened.substr(0, 10), "mnnnnnnnnn");
  TVersionEngine::AutoShortening(plain300, longTail);
  EXPECT_EQ(plain300, std::string(254, 'p'));
  EXPECT_EQ(longTail, "_ver_" + std::string(260, 't'));
  // Counted in characters: a cut never splits one.
  std::string wide;
  for (int i = 0; i < 300; ++i) wide += "\xC3\xA9";
  std::string other;
  TVersionEngine::AutoShortening(wide, other);
  EXPECT_EQ(wide.size(), 2 * 254u);
}

struct TFakeClient {
  std::string UserName() const { return "operator"; }
  std::string Domain() const { return "OFFICE"; }
};

TEST(TVersionEngine, TakesTheUserFromTheClient) {
  const TFakeClient client;
  const std::string name = TVersionEngine::CreateVersionedFilename(client, "r.txt", verUserDomainDailyIndex, &kEdited);
  const TVersionDate today = TVersionEngine::Today();
  char date[16];
  std::snprintf(date, sizeof date, "%.2d%.2d%.2d", today.Year % 100, today.Month, today.Day);
  EXPECT_EQ(name, std::string("r_ver_") + date + "_operator_OFFICE~1.txt");
  EXPECT_FALSE(TVersionEngine::HasFilenameOutdatedVersion(client, true, name));
}

}  // namespace
}  // namespace kof
