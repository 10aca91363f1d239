#include "extfiles/KofUtils.h"

#include <gtest/gtest.h>

#include <regex>

#include "platform/KofModulePath.h"
#include "support/VarnokCommonCode.h"
#include "tests/platform/KofTestConfigHome.h"

namespace kof {
namespace {

using test::TScopedEnv;

TEST(KofSubstitutionFile, LineFormat) {
  struct Case {
    const char* Line;
    const char* Pattern;  // nullptr: no rule
    const char* Replacement;
  };
  const Case cases[] = {
      {R"(subst \\storage\vault X:\vault)", R"(\\storage\vault)", R"(X:\vault)"},
      {"SUBST   \\\\a    /b  \r", R"(\\a)", "/b"},
      {R"(subst "\\srv\my share" "/mnt/my share")", R"(\\srv\my share)", "/mnt/my share"},
      {R"(subst " a ""q"" b "   c )", R"(a "q" b)", "c"},
      {R"(subst \\srv "/mnt/x y")", R"(\\srv)", "/mnt/x y"},
      {R"(subst "\\open quote)", nullptr, nullptr},
      {R"(subst "\\a b" )", nullptr, nullptr},
      {R"(subst \\a)", nullptr, nullptr},
      {"subst ", nullptr, nullptr},
      {R"(;subst \\a \\b)", nullptr, nullptr},
      {R"(#subst \\a \\b)", nullptr, nullptr},
      {R"(substitute \\a \\b)", nullptr, nullptr},
      {R"( subst \\a \\b)", nullptr, nullptr},
      {"subst\t\\\\a \\\\b", nullptr, nullptr},
      {"", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Line);
    const auto rule = ParseSubstitutionLine(c.Line);
    ASSERT_EQ(rule.has_value(), c.Pattern != nullptr);
    if (!rule) continue;
    EXPECT_EQ(rule->Pattern, c.Pattern);
    EXPECT_EQ(rule->Replacement, c.Replacement);
  }
}

TEST(KofSubstitutionFile, MappingIsAPlainPrefixIgnoringCase) {
  TExtSubstitutions rules;
  AddSubstitutionsFromText(rules, "\xEF\xBB\xBFsubst \\\\srv\\share Z:\r\nsubst \\\\srv\\Účty /u\r\n");
  ASSERT_EQ(rules.Count(), 2u);
  const struct {
    const char* Path;
    const char* Mapped;
  } cases[] = {
      {R"(\\srv\share\box1\a.bin)", R"(Z:\box1\a.bin)"},
      {R"(\\SRV\SHARE\box1\a.bin)", R"(Z:\box1\a.bin)"},
      {R"(\\srv\shared\a.bin)", R"(Z:d\a.bin)"},
      {"//srv/share/a.bin", "Z:/a.bin"},
      {R"(\\other\share\a.bin)", R"(\\other\share\a.bin)"},
      {R"(\\SRV\ÚČTY\a.bin)", R"(/u\a.bin)"},
  };
  for (const auto& c : cases) EXPECT_EQ(rules.Map(c.Path), c.Mapped) << c.Path;
}

TEST(KofSubstitutionFile, RulesAreSortedAndALaterPatternWins) {
  TExtSubstitutions rules;
  AddSubstitutionsFromText(rules, "subst \\\\srv\\share /b\nsubst \\\\srv /a\n");
  ASSERT_EQ(rules.Count(), 2u);
  EXPECT_EQ(rules[0].KofPattern(), R"(\\srv)");
  // The first rule in sorted order maps, even where a longer one matches too.
  EXPECT_EQ(rules.Map(R"(\\srv\share\x)"), R"(/a\share\x)");
  AddSubstitutionsFromText(rules, "subst //SRV/SHARE /c\n");
  ASSERT_EQ(rules.Count(), 2u);
  EXPECT_EQ(rules.Find(R"(\\srv\share)")->Replacement(), "/c");
}

class SubstitutionLoadTest : public test::TConfigHomeTest {};

TEST_F(SubstitutionLoadTest, TheUsersFileOverridesThePluginFolders) {
  const std::string first = Root() + "/plugin/Koffra.subst.cfg", second = Root() + "/user/Koffra.subst.cfg";
  test::WriteBytes(first, "subst \\\\a /from-plugin\nsubst \\\\b /only-plugin\n");
  test::WriteBytes(second, "; the user's own\nsubst \\\\A /from-user\n");
  TExtSubstitutions rules;
  rules.Add(std::make_unique<TExtSubstitution>("\\\\old", "/old", "/old"));
  LoadSubstitutionFiles(rules, {first, Root() + "/missing/Koffra.subst.cfg", second});
  ASSERT_EQ(rules.Count(), 2u);
  EXPECT_EQ(rules.Map("\\\\a\\x"), "/from-user\\x");
  EXPECT_EQ(rules.Map("\\\\b\\x"), "/only-plugin\\x");
}

TEST_F(SubstitutionLoadTest, FilesAreLookedForBesideThePluginThenInTheUsersFolder) {
  const std::string plugin = ExtractFilePath(OwnModuleFileName()) + "Koffra.subst.cfg";
  EXPECT_EQ(SubstitutionFiles(), (std::vector<std::string>{plugin, Root() + "/user/Koffra.subst.cfg"}));
  TScopedEnv home("KOFFRA_CONFIG_HOME", std::nullopt), xdg("XDG_CONFIG_HOME", std::string("/cfg"));
  EXPECT_EQ(SubstitutionFiles(), (std::vector<std::string>{plugin, "/cfg/koffra/Koffra.subst.cfg"}));

  test::WriteBytes(Root() + "/cfg/koffra/Koffra.subst.cfg", "subst \\\\s /mnt/s\n");
  TScopedEnv xdgHere("XDG_CONFIG_HOME", Root() + "/cfg");
  TExtSubstitutions rules;
  LoadSubstitutions(rules);
  EXPECT_EQ(rules.Map("\\\\s\\f"), "/mnt/s\\f");
}

TEST(KofSubstitution, EnvironmentVariablesInReplacements) {
  TScopedEnv x("KOF_X", std::string("/data")), unset("KOF_UNSET", std::nullopt), home("HOME", std::string("/home/u")),
      username("USERNAME", std::nullopt), user("USER", std::string("op"));
  const struct {
    const char* Text;
    const char* Expanded;
  } cases[] = {
      {R"(%KOF_X%\a)", R"(/data\a)"},  {"$KOF_X/a", "/data/a"},       {"${KOF_X}b", "/datab"},
      {"%kof_x%", "%kof_x%"},          {"%KOF_UNSET%/a", "%KOF_UNSET%/a"}, {"$KOF_UNSET/a", "$KOF_UNSET/a"},
      {"${KOF_UNSET}", "${KOF_UNSET}"}, {"100% $ ${} %%", "100% $ ${} %%"}, {"~/v", "/home/u/v"},
      {"a~", "a~"},                     {"~x", "~x"},                    {"/u/%USERNAME%", "/u/op"},
      {"%USERPROFILE%/v", "/home/u/v"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExpandEnvironmentVariables(c.Text), c.Expanded) << c.Text;

  TExtSubstitutions rules;
  AddSubstitutionsFromText(rules, "subst \\\\srv %KOF_X%\\vault\n");
  EXPECT_EQ(rules[0].Replacement(), "%KOF_X%\\vault");
  EXPECT_EQ(rules[0].Expanded(), "/data\\vault");
  EXPECT_EQ(rules[0].InfoStr(),
            "Pattern: \\\\srv\r\n\r\nReplacement: %KOF_X%\\vault\r\nEvaluated: /data\\vault\r\n");
}

TEST(KofSubstitution, StoredPathsBecomeLocalPathsOrNothing) {
  TExtSubstitutions rules;
  AddSubstitutionsFromText(rules, "subst \\\\storage\\vault /mnt/vault\n");
  const struct {
    const char* Stored;
    const char* Local;
  } cases[] = {
      {R"(\\storage\vault\box12\a.bin)", "/mnt/vault/box12/a.bin"},
      {R"(\\STORAGE\Vault\box12\a..b)", "/mnt/vault/box12/a..b"},
      {R"(\mnt\local\a.bin)", "/mnt/local/a.bin"},  // a server-side "/mnt/local/a.bin"
      {R"(\\other\share\a.bin)", ""},
      {R"(X:\vault\a.bin)", ""},
      {R"(\\storage\vault\..\..\home\u\.profile)", ""},
      {R"(\\storage\vault\box\..)", ""},
      {"relative\\a.bin", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(LocalStoredPath(rules, c.Stored), c.Local) << c.Stored;
}

TEST(KofUtils, TextsOfTimeVersionAndFolders) {
  EXPECT_TRUE(std::regex_match(CurrentTimeText(), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
  EXPECT_EQ(FileVersionText("", 1), std::to_string(KOF_VERSION_MAJOR));
  EXPECT_EQ(FileVersionText(OwnModuleFileName(), 2),
            std::to_string(KOF_VERSION_MAJOR) + "." + std::to_string(KOF_VERSION_MINOR));
  EXPECT_EQ(FileVersionText("", 3), std::to_string(KOF_VERSION_MAJOR) + "." + std::to_string(KOF_VERSION_MINOR) + "." +
                                        std::to_string(KOF_VERSION_PATCH));
  EXPECT_EQ(FileVersionText("/usr/lib/other.so", 3), "");
  EXPECT_TRUE(std::regex_match(BuildDateText(false), std::regex(R"(\d{4}-\d\d-\d\d)")));
  EXPECT_TRUE(std::regex_match(BuildDateText(true), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
  TScopedEnv tmp("TMPDIR", std::string("/var/t/"));
  EXPECT_EQ(TempFolderNoDelimiter(), "/var/t");
}

}  // namespace
}  // namespace kof
