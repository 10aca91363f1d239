#include <gtest/gtest.h>

#include "client/KofErrors.h"

namespace kof {
namespace {

TEST(HttpStatusText, HasTrailingBlankAndLanguage) {
  struct Case {
    int Code;
    TKofLanguage Language;
    std::optional<std::string> Expected;
  };
  const Case cases[] = {
      {404, TKofLanguage::koflngEnglish, "404 Not found "},
      {404, TKofLanguage::koflngCzech, "404 Nenalezeno "},
      {404, TKofLanguage::koflngGermany, "404 Not found "},
      {204, TKofLanguage::koflngEnglish, "204 No contrent "},
      {510, TKofLanguage::koflngCzech, "510 Chybí rozšíření "},
      {418, TKofLanguage::koflngEnglish, std::nullopt},
      {0, TKofLanguage::koflngEnglish, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(GetHttpStatusText(c.Code, c.Language), c.Expected) << c.Code;
}

TEST(LanguageCode, RoundTripsAndFallsBackToEnglish) {
  EXPECT_EQ(LanguageFromCode("CS"), TKofLanguage::koflngCzech);
  EXPECT_EQ(LanguageFromCode("fr"), TKofLanguage::koflngFrance);
  EXPECT_EQ(LanguageFromCode("sk"), TKofLanguage::koflngEnglish);
  EXPECT_EQ(LanguageCode(TKofLanguage::koflngGermany), "de");
}

TEST(ServerMessage, SplitsKeyAndParameters) {
  struct Case {
    const char* Name;
    const char* Text;
    std::optional<std::vector<std::string>> Expected;  // key followed by the parameters
  };
  const Case cases[] = {
      {"plain key", "m: login.failed ", std::vector<std::string>{"login.failed"}},
      {"upper-case prefix", "M:x.y", std::vector<std::string>{"x.y"}},
      {"not a message", "login.failed", std::nullopt},
      {"three parameters", "m:box.err[a, b\\,c, \"say \"\"hi\"\"\"]",
       std::vector<std::string>{"box.err", "a", "b,c", "say \"hi\""}},
      {"escaped backslash and quote", "m:k[x\\\\y,a\\\"q]", std::vector<std::string>{"k", "x\\y", "a\"q"}},
      {"empty list", "m:k[]", std::vector<std::string>{"k"}},
      {"no closing bracket", "m:k[a,b", std::vector<std::string>{"k", "a", "b"}},
      {"leading comma stays", "m:k[,a]", std::vector<std::string>{"k", ",a"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto parsed = ParseServerMessage(c.Text);
    ASSERT_EQ(parsed.has_value(), c.Expected.has_value());
    if (!parsed) continue;
    std::vector<std::string> actual{parsed->Key};
    actual.insert(actual.end(), parsed->Params.begin(), parsed->Params.end());
    EXPECT_EQ(actual, *c.Expected);
  }
}

class CatalogueTest : public ::testing::Test {
 protected:
  void Load(std::string json) {
    FCatalogue.SetOnLoad([json](std::string& bytes) {
      bytes = json;
      return true;
    });
    ASSERT_TRUE(FCatalogue.Refresh());
  }
  TKofErrorMessages FCatalogue;
};

TEST_F(CatalogueTest, ReplacesFirstPlaceholderOnlyAndCutsLinks) {
  Load(R"({"a.b":"{0} and {0} and {1}","Dup":"first","dup":"second","link":"Open <a href=x>here</a>"})");
  std::string text;
  EXPECT_TRUE(FCatalogue.GetErrorText("A.B", {"X"}, text));
  EXPECT_EQ(text, "X and {0} and {1}");
  EXPECT_TRUE(FCatalogue.GetErrorText("dup", {}, text));
  EXPECT_EQ(text, "first");
  EXPECT_TRUE(FCatalogue.GetErrorText("link", {}, text));
  EXPECT_EQ(text, "Open ");
  EXPECT_FALSE(FCatalogue.GetErrorText("no.such.key", {}, text));
  EXPECT_EQ(text, "No such key");
  EXPECT_EQ(FCatalogue.KofErrorTable().size(), 4u);
}

TEST_F(CatalogueTest, UnparsableCatalogueIsEmpty) {
  Load("<html>not json</html>");
  EXPECT_TRUE(FCatalogue.Empty());
}

TEST_F(CatalogueTest, CatalogueNestedTooDeeplyIsRefused) {
  const std::string deep = R"({"a":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
  EXPECT_THROW(FCatalogue.LoadFromJSON(deep), EKofResponseError);
  EXPECT_TRUE(FCatalogue.Empty());
}

TEST_F(CatalogueTest, SetLanguageReloadsOnlyWhenNeeded) {
  int loads = 0;
  FCatalogue.SetOnLoad([&](std::string& bytes) {
    ++loads;
    bytes = R"({"k":"v"})";
    return true;
  });
  FCatalogue.SetLanguage(TKofLanguage::koflngEnglish);  // same language but empty: loads
  FCatalogue.SetLanguage(TKofLanguage::koflngEnglish);  // same and filled: nothing
  EXPECT_EQ(loads, 1);
  FCatalogue.SetOnLoad([](std::string&) { return false; });
  FCatalogue.SetLanguage(TKofLanguage::koflngCzech);  // failed load keeps the old language
  EXPECT_EQ(FCatalogue.Language(), TKofLanguage::koflngEnglish);
}

struct ErrorCase {
  const char* Name;
  int Status;
  const char* Body;
  bool Recognised;
  const char* Key;
  const char* Msg;
  int RecordId;
};

class ErrorBodyTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorBodyTest, WordsTheAnswer) {
  const ErrorCase& c = GetParam();
  TKofErrorMessages catalogue;
  catalogue.LoadFromJSON(R"({"login.failed":"Bad login","box.missing":"Box {0} is gone"})");
  TKofError error;
  error.Key = "stale";
  EXPECT_EQ(ParseErrorText(c.Body, c.Status, catalogue, error), c.Recognised);
  EXPECT_EQ(error.Code, c.Status);
  EXPECT_EQ(error.Key, c.Key);
  if (c.Recognised) {
    EXPECT_EQ(error.Msg, c.Msg);
  }
  EXPECT_EQ(error.RecordId, c.RecordId);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ErrorBodyTest,
    ::testing::Values(
        ErrorCase{"err_prefix", 400, "ERR,Something broke", true, "", "Something broke", 0},
        ErrorCase{"known_key", 401,
                  R"({"msg":[{"severity":"ERROR","message":"m:login.failed","translationKey":"t","recordId":null}]})",
                  true, "login.failed", "Bad login", 0},
        ErrorCase{"key_with_params", 404,
                  R"({"msg":[{"severity":"error","message":"m:box.missing[Work]","translationKey":"","recordId":42}]})",
                  true, "box.missing", "Box Work is gone", 42},
        ErrorCase{"unknown_key", 401,
                  R"({"msg":[{"severity":"ERROR","message":"m:session.expired","translationKey":""}]})", true,
                  "http.Error", "401 Unauthorized  (Session expired)", 0},
        ErrorCase{"unknown_key_unknown_status", 499,
                  R"({"msg":[{"severity":"ERROR","message":"m:x.y","translationKey":""}]})", true, "http.Error",
                  "499 X y", 0},
        ErrorCase{"plain_message", 500,
                  R"({"msg":[{"severity":"ERROR","message":"Disk\nfull","translationKey":""}]})", true,
                  "http.Error", "500 Internal server error  (Disk\r\nfull)", 0},
        ErrorCase{"not_an_error", 409, R"({"msg":[{"severity":"WARN","message":"m:x","translationKey":""}]})", true,
                  "", "409 {\"msg\":[{\"severity\":\"WARN\",\"message\":\"m:x\",\"translationKey\":\"\"}]}", 0},
        ErrorCase{"first_entry_not_object", 400, R"({"msg":["text"]})", true, "", "400 {\"msg\":[\"text\"]}", 0},
        ErrorCase{"no_msg_member", 404, R"({"error":"x"})", false, "", "", 0},
        ErrorCase{"not_json", 502, "<html>Bad gateway</html>", false, "", "", 0},
        ErrorCase{"empty", 404, "", false, "", "", 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ErrorBody, MissingMembersAreAFailureOfTheAnswer) {
  TKofErrorMessages catalogue;
  TKofError error;
  for (const char* body : {R"({"msg":[]})", R"({"msg":[{"severity":"ERROR","message":"m:x"}]})",
                           R"({"msg":[{"message":"m:x","translationKey":""}]})"})
    EXPECT_THROW(static_cast<void>(ParseErrorText(body, 400, catalogue, error)), EKofResponseError) << body;
}

TEST(ErrorMsg, ComposesFromStateAndLastStatus) {
  struct Case {
    TKofError Error;
    int LastStatus;
    const char* StatusLine;
    TKofLanguage Language;
    const char* Expected;
  };
  const Case cases[] = {
      {{7, "", "Broken", "box A", 0}, 200, "", TKofLanguage::koflngEnglish, "Broken (box A)"},
      {{12, "", "", "", 0}, 200, "", TKofLanguage::koflngEnglish, "KOF Error #12"},
      {{}, 503, "", TKofLanguage::koflngEnglish, "Error #503 (503 Service unavailable )"},
      {{}, 599, "Odd", TKofLanguage::koflngEnglish, "Error #599 (Odd)"},
      {{}, 599, "", TKofLanguage::koflngEnglish, "Error #599"},
      {{}, 200, "OK", TKofLanguage::koflngEnglish, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ComposeErrorMsg(c.Error, c.LastStatus, c.StatusLine, c.Language), c.Expected);
}

TEST(ErrorKeys, AccessCodeAndDuplicateKeysIgnoreCase) {
  struct Case {
    const char* key;
    bool accessCode, duplicate;
  } cases[] = {
      {"AccessCodeValidator.invalid.password", true, false}, {"accesscodevalidator.MISSING", true, false},
      {"AccessCode.banned", true, false},                    {"login.failed", false, false},
      {"record.duplicate", false, true},                     {"SAFEBOX.DUPLICATE", false, true},
      {"duplicate", false, false},                           {"", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsAccessCodeKey(c.key), c.accessCode) << c.key;
    EXPECT_EQ(IsDuplicateKey(c.key), c.duplicate) << c.key;
  }
}

}  // namespace
}  // namespace kof
