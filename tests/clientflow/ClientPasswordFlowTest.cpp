// The password services against the test server: what the client sends,
// byte for byte as the server received it, and what it makes of the answers.
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "client/KofPasswords.h"
#include "tests/clientflow/ClientFlowFixture.h"

namespace kof::clientflow {
namespace {

using nlohmann::json;
using testserver::flow::BasicSeed;
using namespace std::chrono_literals;

constexpr const char* kStationPassword = "St4tion-pw";
constexpr const char* kAgentUserPassword = "Ag3nt/pw";
constexpr const char* kTicketPassword = "T1cket-pw";

json PasswordSeed() {
  json seed = BasicSeed();
  seed["users"][0]["loginPasswordRequirements"] = {{"minLength", 12}, {"minUpper", 2}, {"minDigits", 2},
                                                   {"minSpecial", 1}, {"minEntropy", 60}};
  seed["users"][0]["accessCodeRequirements"] = {{"minLength", 6}};
  seed["users"][2]["loginPasswordRequirements"] = {{"minLength", 8}};
  seed["agents"] = json::parse(R"({
    "configs": [
      {"id": 501, "name": "Office", "seedBase": "s33d", "pattern": "Aa9", "stations": [
        {"id": 601, "stationName": "PC-1", "platform": "WINDOWS", "userName": "admin", "stationIp": "10.0.0.7",
         "registered": 1700000000000, "passwords": {"admin": "St4tion-pw", "agent": "Ag3nt/pw"}},
        {"id": 602, "stationName": "PC 2", "platform": "LINUX", "userName": "root",
         "passwords": {"root": "r00t-pw"}}
      ]},
      {"id": 502, "name": "Lab", "seedBase": "", "pattern": "", "stations": []}
    ],
    "tickets": [{"ticket": "T-17", "station": "PC-1", "platform": "WINDOWS", "user": "admin",
                 "password": "T1cket-pw"}]
  })");
  return seed;
}

// A request as the server received it.
struct TSeen {
  std::string Method;
  std::string Target;
  json Headers;
  std::string Body;
  bool Has(const char* AHeader) const { return Headers.contains(AHeader); }
  std::string Header(const char* AHeader) const { return Headers.value(AHeader, ""); }
};

class PasswordFlow : public ClientFlowTest {
 protected:
  static void SetUpTestSuite() { StartServer(PasswordSeed()); }
  static void TearDownTestSuite() { StopServer(); }

  void SetUp() override {
    ClientFlowTest::SetUp();
    Control("POST", "/__control/capture", {{"path", "/*"}});
  }

  std::vector<TSeen> Seen() const {
    std::vector<TSeen> seen;
    for (const auto& item : Control("GET", "/__control/captured")) {
      const auto body = Base64Decode(item.at("bodyBase64").get<std::string>());
      seen.push_back({item.at("method"), item.at("target"), item.at("headers"),
                      body ? std::string(body->begin(), body->end()) : "?"});
    }
    return seen;
  }
  // The one request the operation sent; fails the test for any other number.
  TSeen Only() const {
    const auto seen = Seen();
    EXPECT_EQ(seen.size(), 1u);
    return seen.empty() ? TSeen{} : seen.back();
  }
  void ForgetSeen() const { Control("POST", "/__control/capture", {{"path", "/*"}}); }

  // Logged in as john with his access code; nothing sent yet that a test sees.
  std::unique_ptr<TFlowClient> John() {
    auto client = LoggedIn(kJohn);
    client->SetAccessCode("1234");
    ForgetSeen();
    return client;
  }
  std::string InvitationLink(std::string_view AQuery = "code=INV-1") const {
    return BaseURL() + "static/inituser.page?" + std::string(AQuery);
  }
  std::string Port() const { return std::to_string(FServer->Port()); }
};

// --- generated passwords and access codes ---

TEST_F(PasswordFlow, GeneratedValuesAreAskedForByTypeAndFollowTheUsersRules) {
  auto client = John();
  TKofPasswords passwords(*client);
  SecureString generated;
  ASSERT_TRUE(passwords.GeneratePasswordOrAccCode(TGenerationType::gtPassword, "", generated, true))
      << client->ErrorMsg();
  TSeen seen = Only();
  EXPECT_EQ(seen.Method, "GET");
  EXPECT_EQ(seen.Target, "/public/api/user/generate-password?type=login");
  EXPECT_EQ(seen.Header("KOF-Access-Code"), "1234");
  EXPECT_TRUE(seen.Has("Cookie"));
  EXPECT_GE(generated.Size(), 16u);

  TCheckPasswordResult verdict;
  ASSERT_TRUE(passwords.CheckPasswordCorrectness(TGenerationType::gtPassword, "", generated.View(), verdict, true));
  EXPECT_EQ(verdict.Len, static_cast<int>(generated.Size()));
  EXPECT_FALSE(verdict.UppercaseBad || verdict.DigitsBad || verdict.SpecialBad || verdict.EntropyBad);

  ForgetSeen();
  ASSERT_TRUE(passwords.GeneratePasswordOrAccCode(TGenerationType::gtAccessCode, "", generated, true));
  EXPECT_EQ(Only().Target, "/public/api/user/generate-password?type=accessCode");
  EXPECT_GE(generated.Size(), 8u);
  EXPECT_TRUE(MessageHidesSecrets(*client, {generated.Unprotected()}));
}

TEST_F(PasswordFlow, InvitedUserGetsValuesWithoutALogin) {
  struct TCase {
    const char* Name;
    std::string BaseURL;  // of the client before the call
    std::string Query;    // of the link
  };
  const TCase cases[] = {
      {"client with the link's server", BaseURL(), "code=INV-1"},
      {"client without a server takes the link's", "", "code=INV-1"},
      {"a bare code is the whole query", "", "INV-1"},
      {"the code piece among others", BaseURL(), "lang=en&code=INV-1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ForgetSeen();
    TFlowClient client(c.BaseURL, TKofLanguage::koflngEnglish);
    client.SetCertCAFile(FServer->CertFile());
    TKofPasswords passwords(client);
    SecureString generated;
    ASSERT_TRUE(passwords.GeneratePasswordOrAccCode(TGenerationType::gtPassword, InvitationLink(c.Query), generated,
                                                    true))
        << client.ErrorCode() << " " << client.ErrorMsg();
    EXPECT_EQ(client.BaseURL(), BaseURL());
    const TSeen seen = Only();
    EXPECT_EQ(seen.Target, "/public/api/user/generate-password?code=INV-1&type=login");
    EXPECT_FALSE(seen.Has("Cookie"));
    EXPECT_GE(generated.Size(), 16u);
  }
}

TEST_F(PasswordFlow, LinksAreRefusedWithoutARequestWhereTheyDoNotApply) {
  const std::string foreign = "https://vault.example.test/static/inituser.page?code=INV-1";
  struct TCase {
    const char* Name;
    bool LoggedIn;
    std::string Link;
    int ExpectedCode;  // the client's error code afterwards
    const char* ExpectedMsg;  // a part of the client's error text
  };
  const TCase cases[] = {
      {"a logged-in client with a link", true, InvitationLink(), -1, "not logged in"},
      {"a link to another server", false, foreign, -1, "another server"},
  };
  using TOperation = std::function<bool(TKofPasswords&, const std::string&)>;
  const std::pair<const char*, TOperation> operations[] = {
      {"generate",
       [](TKofPasswords& p, const std::string& link) {
         SecureString value;
         return p.GeneratePasswordOrAccCode(TGenerationType::gtPassword, link, value, true);
       }},
      {"check",
       [](TKofPasswords& p, const std::string& link) {
         TCheckPasswordResult verdict;
         return p.CheckPasswordCorrectness(TGenerationType::gtPassword, link, "Pa55word!", verdict, true);
       }},
      {"first password", [](TKofPasswords& p, const std::string& link) {
         return p.SetPasswordToInvitedUser(link, "N3w-password", true);
       }}};
  for (const auto& c : cases) {
    for (const auto& [name, operation] : operations) {
      SCOPED_TRACE(std::string(c.Name) + ", " + name);
      auto client = c.LoggedIn ? John() : NewClient(kJohn);
      ForgetSeen();
      TKofPasswords passwords(*client);
      EXPECT_FALSE(operation(passwords, c.Link));
      EXPECT_TRUE(Seen().empty());
      EXPECT_EQ(client->ErrorCode(), c.ExpectedCode);
      EXPECT_NE(client->ErrorMsg().find(c.ExpectedMsg), std::string::npos) << client->ErrorMsg();
    }
  }
  // Without the check the link's code goes to the client's own server.
  auto client = NewClient(kJohn);
  TKofPasswords passwords(*client);
  SecureString value;
  EXPECT_TRUE(passwords.GeneratePasswordOrAccCode(TGenerationType::gtAccessCode, foreign, value, false))
      << client->ErrorMsg();
  EXPECT_EQ(Only().Target, "/public/api/user/generate-password?code=INV-1&type=accessCode");
}

// --- the strength verdict ---

TEST_F(PasswordFlow, StrengthCheckSendsTheFormAndReadsTheVerdict) {
  auto client = John();
  TKofPasswords passwords(*client);
  TCheckPasswordResult verdict;
  ASSERT_TRUE(passwords.CheckPasswordCorrectness(TGenerationType::gtPassword, "", "ab c1&2=", verdict, true))
      << client->ErrorMsg();
  const TSeen seen = Only();
  EXPECT_EQ(seen.Method, "OPTIONS");
  EXPECT_EQ(seen.Target, "/public/api/user/generate-password");
  EXPECT_EQ(seen.Body, "password=ab%20c1%262%3D&type=login");
  EXPECT_EQ(seen.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(verdict.Len, 8);
  EXPECT_EQ(verdict.LowerCaseCount, 3);
  EXPECT_EQ(verdict.UpperCaseCount, 0);
  EXPECT_EQ(verdict.DigitCount, 2);
  EXPECT_EQ(verdict.SpecialCharCount, 3);
  EXPECT_NEAR(verdict.Entropy, 8 * std::log2(69.0), 1e-9);
  EXPECT_FALSE(verdict.LowerCaseBad);
  EXPECT_TRUE(verdict.UppercaseBad);
  EXPECT_FALSE(verdict.DigitsBad);
  EXPECT_TRUE(verdict.EntropyBad);
  // 69 ** 8 guesses at the server's two rates
  EXPECT_EQ(verdict.TimeToCrackOffline, "14 hours");
  EXPECT_EQ(verdict.TimeToCrackOnline, "centuries");
  EXPECT_NEAR(double(verdict.SecondsToCrackOffline), std::pow(69.0, 8) / 1e10, 1.0);
  EXPECT_NEAR(double(verdict.SecondsToCrackOnline), std::pow(69.0, 8) / 100, 1e4);

  // An invited user's access code, and a verdict too large for whole seconds.
  auto invited = NewClient(kJohn);
  ASSERT_TRUE(invited->Status());  // the catalogue for the verdict's texts
  TKofPasswords forInvited(*invited);
  ForgetSeen();
  const std::string strong(40, 'x');
  ASSERT_TRUE(forInvited.CheckPasswordCorrectness(TGenerationType::gtAccessCode, InvitationLink(), strong + "Z9!",
                                                  verdict, true))
      << invited->ErrorMsg();
  EXPECT_EQ(Only().Body, "code=INV-1&password=" + strong + "Z9!&type=accessCode");
  EXPECT_EQ(verdict.SecondsToCrackOffline, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(verdict.TimeToCrackOffline, "centuries");
}

TEST_F(PasswordFlow, StrengthAnswerWithMissingOrStrangeMembersKeepsTheInitialValues) {
  auto client = John();
  TKofPasswords passwords(*client);
  AddFault({{"path", "/public/api/user/generate-password"}, {"method", "OPTIONS"}, {"kind", "garbage"},
            {"contentType", "application/json"},
            {"body", R"({"len": 5, "timeToCrackOffline": "3 years", "timeToCrackOnline": "m:no.such.key",
                         "secondsToCrackOnline": 12.5, "entropy": "high", "digitsBad": 1})"}});
  TCheckPasswordResult verdict;
  verdict.DigitsBad = true;  // Init clears what an earlier check left
  ASSERT_TRUE(passwords.CheckPasswordCorrectness(TGenerationType::gtPassword, "", "x", verdict, true));
  EXPECT_EQ(verdict.Len, 5);
  EXPECT_EQ(verdict.TimeToCrackOffline, "");
  EXPECT_EQ(verdict.TimeToCrackOnline, "");
  EXPECT_EQ(verdict.SecondsToCrackOnline, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(verdict.SecondsToCrackOffline, 0);
  EXPECT_EQ(verdict.Entropy, 0.0);
  EXPECT_FALSE(verdict.DigitsBad);
}

// --- the invited user's first password ---

TEST_F(PasswordFlow, InvitedUserSetsTheFirstPasswordAndCanLogInWithIt) {
  TFlowClient client("", TKofLanguage::koflngEnglish);
  client.SetCertCAFile(FServer->CertFile());
  TKofPasswords passwords(client);
  ASSERT_TRUE(passwords.SetPasswordToInvitedUser(InvitationLink("code=INV-1"), "N3w \"pass\"", true))
      << client.ErrorCode() << " " << client.ErrorMsg();
  const TSeen seen = Only();
  EXPECT_EQ(seen.Method, "POST");
  EXPECT_EQ(seen.Target, "/public/api/inituser?code=INV-1");
  EXPECT_EQ(seen.Body, R"({"password_new":"N3w \"pass\"","password_repeat":"N3w \"pass\""})");
  EXPECT_EQ(seen.Header("Content-Type"), "application/json");
  EXPECT_EQ(client.Password().View(), "N3w \"pass\"");
  EXPECT_EQ(client.UserName(), "ivan");
  EXPECT_EQ(client.Domain(), "SYSTEM");
  ASSERT_TRUE(client.Status());
  EXPECT_TRUE(client.Connect(nullptr, "", "", "")) << client.ErrorMsg();

  // The invitation is used up.
  TFlowClient again(BaseURL(), TKofLanguage::koflngEnglish);
  again.SetCertCAFile(FServer->CertFile());
  ASSERT_TRUE(again.Status());
  TKofPasswords secondTry(again);
  EXPECT_FALSE(secondTry.SetPasswordToInvitedUser(InvitationLink("INV-1"), "0ther-password", true));
  EXPECT_EQ(again.ErrorCode(), 404);
  EXPECT_EQ(again.ErrorMsg(), "Invitation is not valid");
  EXPECT_TRUE(again.Password().Empty());
  EXPECT_TRUE(MessageHidesSecrets(again, {"0ther-password"}));
}

TEST_F(PasswordFlow, FirstPasswordRefusedByTheServerIsNotKept) {
  TFlowClient client(BaseURL(), TKofLanguage::koflngEnglish);
  client.SetCertCAFile(FServer->CertFile());
  ASSERT_TRUE(client.Status());
  TKofPasswords passwords(client);
  EXPECT_FALSE(passwords.SetPasswordToInvitedUser(InvitationLink(), "short", true));
  EXPECT_EQ(client.ErrorCode(), 400);
  EXPECT_EQ(client.ErrorMsg(), "Password must have at least 8 characters");
  EXPECT_TRUE(client.Password().Empty());
  EXPECT_TRUE(client.UserName().empty());
}

TEST_F(PasswordFlow, FirstPasswordUnderClientEncryptionTravelsAsTwoCiphertexts) {
  Control("POST", "/__control/settings", {{"clientEncryption", true}});
  testserver::flow::TApi api(*FServer);
  const json status = testserver::flow::JsonOf(api.Get("/public/api/status"));
  const auto serverKey = Base64Decode(status.at("cePublicKey").get<std::string>());
  ASSERT_TRUE(serverKey);
  ForgetSeen();

  TFlowClient client(BaseURL(), TKofLanguage::koflngEnglish);
  client.SetCertCAFile(FServer->CertFile());
  client.SetKOFServerPublicKeyBytes(*serverKey);
  client.SetNaCLEncryption(std::make_unique<TSaltyClientEncryption>());
  TKofPasswords passwords(client);
  ASSERT_TRUE(passwords.SetPasswordToInvitedUser(InvitationLink(), "Encrypted-1st", true))
      << client.ErrorCode() << " " << client.ErrorMsg();
  const TSeen seen = Only();
  EXPECT_EQ(seen.Header("KOF-Encryption"), "record");
  const json body = json::parse(seen.Body);
  const std::string first = body.at("password_new"), second = body.at("password_repeat");
  EXPECT_NE(first, second);
  EXPECT_EQ(seen.Body.find("Encrypted-1st"), std::string::npos);

  auto ivan = NewClient({"ivan", "Encrypted-1st", "SYSTEM", ""});
  ASSERT_TRUE(ivan->Status());
  EXPECT_TRUE(ivan->Connect(nullptr, "", "", "")) << ivan->ErrorMsg();
}

TEST_F(PasswordFlow, GeneratedValueUnderClientEncryptionIsDecryptedOrRefused) {
  Control("POST", "/__control/settings", {{"clientEncryption", true}});
  auto client = LoggedIn(kJohn);
  bool authenticated = false;
  ASSERT_TRUE(client->LoginStatus(authenticated, true));
  ASSERT_TRUE(client->DecryptNaCL());
  client->SetAccessCode("1234");
  ForgetSeen();
  TKofPasswords passwords(*client);
  SecureString generated;
  ASSERT_TRUE(passwords.GeneratePasswordOrAccCode(TGenerationType::gtPassword, "", generated, true))
      << client->ErrorMsg();
  EXPECT_EQ(Only().Header("KOF-Encryption"), "record");
  EXPECT_EQ(generated.Size(), 16u);  // its ciphertext is several times as long

  AddFault({{"path", "/public/api/user/generate-password"}, {"kind", "garbage"},
            {"body", R"({"password": "bm90IGEgbm9uY2U=:bm90IGEgYm94"})"}});
  EXPECT_FALSE(passwords.GeneratePasswordOrAccCode(TGenerationType::gtPassword, "", generated, true));
  EXPECT_EQ(client->ErrorCode(), kErrDecrypt);
  EXPECT_TRUE(generated.Empty());
}

// --- managed stations, agents and tickets ---

TEST_F(PasswordFlow, StationAndAgentPasswordsAskWithEveryParameterInOrder) {
  using TRead = bool (TKofPasswords::*)(std::string_view, std::string_view, std::string_view, std::string_view,
                                        const std::chrono::year_month_day&, SecureString&);
  struct TCase {
    const char* Name;
    TRead Read;
    std::string Path;
    std::string Station, Platform, User;
    std::string ExpectedQuery;
    std::string ExpectedPassword;
  };
  const TCase cases[] = {
      {"station", &TKofPasswords::GetStationPassword, "/private/api/stationPassword", "PC-1", "WINDOWS", "admin",
       "?configName=Office&platform=WINDOWS&stationName=PC-1&userName=admin&passwordDate=07/03/24",
       kStationPassword},
      {"agent", &TKofPasswords::GetAgentPassword, "/agent/getPassword", "PC-1", "WINDOWS", "agent",
       "?configName=Office&platform=WINDOWS&stationName=PC-1&userName=agent&passwordDate=07/03/24",
       kAgentUserPassword},
      {"a blank in a name", &TKofPasswords::GetStationPassword, "/private/api/stationPassword", "PC 2", "LINUX",
       "root", "?configName=Office&platform=LINUX&stationName=PC%202&userName=root&passwordDate=07/03/24", "r00t-pw"},
  };
  auto client = John();
  TKofPasswords passwords(*client);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ForgetSeen();
    SecureString password("stale");
    ASSERT_TRUE((passwords.*c.Read)(c.Station, "Office", c.Platform, c.User, 2024y / 3 / 7, password))
        << client->ErrorMsg();
    EXPECT_EQ(password.View(), c.ExpectedPassword);
    const TSeen seen = Only();
    EXPECT_EQ(seen.Method, "GET");
    EXPECT_EQ(seen.Target, c.Path + c.ExpectedQuery);
    EXPECT_EQ(seen.Header("KOF-Access-Code"), "1234");
  }
  SecureString password("stale");
  EXPECT_FALSE(passwords.GetStationPassword("PC-9", "Office", "WINDOWS", "admin", 2024y / 3 / 7, password));
  EXPECT_EQ(client->ErrorCode(), 404);
  EXPECT_EQ(client->ErrorMsg(), "Station PC-9 not found");
  EXPECT_TRUE(password.Empty());

  AddFault({{"path", "/agent/getPassword"}, {"kind", "garbage"}, {"body", R"({"password": null})"}});
  password.Assign("stale");
  EXPECT_TRUE(passwords.GetAgentPassword("PC-1", "Office", "WINDOWS", "agent", 2024y / 3 / 7, password));
  EXPECT_TRUE(password.Empty());
  EXPECT_EQ(client->ErrorCode(), 0);  // the failure before was cleared
}

TEST_F(PasswordFlow, TicketAnswersAreReadFieldByField) {
  struct TCase {
    const char* Name;
    std::string Ticket;
    std::optional<std::string> Answer;  // a stand-in answer, or the server's own
    bool ExpectedResult;
    int ExpectedCode;
    std::string ExpectedPassword;
  };
  const TCase cases[] = {
      {"the server's ticket", "T-17", std::nullopt, true, 0, kTicketPassword},
      {"OK with a password", "T-17", "OK,x,pw from answer", true, 0, "pw from answer"},
      {"unknown ticket", "T-99", std::nullopt, false, 404, ""},
      {"refused", "T-17", "403,x,y", false, 403, ""},
      {"two fields", "T-17", "bad,x", false, 500, ""},
      {"OK with four fields", "T-17", "OK,x,a,b", false, 500, ""},
  };
  auto client = NewClient(kJohn);  // tickets need no login
  TKofPasswords passwords(*client);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Control("DELETE", "/__control/faults");
    if (c.Answer)
      AddFault({{"path", "/public/api/getPassword"}, {"kind", "garbage"}, {"body", *c.Answer},
                {"contentType", "text/plain"}});
    ForgetSeen();
    SecureString password;
    EXPECT_EQ(passwords.GetTicketPassword(c.Ticket, "PC-1", "WINDOWS", "admin", password), c.ExpectedResult);
    EXPECT_EQ(password.View(), c.ExpectedPassword);
    EXPECT_EQ(client->ErrorCode(), c.ExpectedCode);
    if (!c.ExpectedResult) {
      EXPECT_EQ(client->ErrorMsg(), "Invalid parameters");
    }
    const TSeen seen = Only();
    EXPECT_EQ(seen.Target, "/public/api/getPassword?ticket=" + c.Ticket + "&station=PC-1&platform=WINDOWS&user=admin");
    EXPECT_EQ(seen.Header("Accept"), "text/plain");
  }
}

TEST_F(PasswordFlow, ConfigurationsAndTheirStationsAreListed) {
  auto client = John();
  TKofPasswords passwords(*client);
  TKofList configs;
  ASSERT_TRUE(passwords.GetConfigurations(&configs)) << client->ErrorMsg();
  TSeen seen = Only();
  EXPECT_EQ(seen.Method, "OPTIONS");
  EXPECT_EQ(seen.Target, "/private/api/agentConfigs");
  EXPECT_EQ(seen.Body, "");
  ASSERT_EQ(configs.Count(), 2);
  const auto* office = dynamic_cast<const TKofConfiguration*>(configs[0]);
  ASSERT_NE(office, nullptr);
  EXPECT_EQ(office->Name(), "Office");
  EXPECT_EQ(office->SeedBase(), "s33d");
  EXPECT_EQ(office->Pattern(), "Aa9");

  TKofList stations;
  ForgetSeen();
  ASSERT_TRUE(passwords.GetStations(&stations, "Office")) << client->ErrorMsg();
  EXPECT_EQ(Only().Target, "/private/api/agentConfigs/Office/stations");
  ASSERT_EQ(stations.Count(), 2);
  const auto* pc = dynamic_cast<const TKofStation*>(stations[0]);
  ASSERT_NE(pc, nullptr);
  EXPECT_EQ(pc->StationName(), "PC-1");
  EXPECT_EQ(pc->ConfigName(), "Office");
  EXPECT_EQ(pc->OsPlatform(), "WINDOWS");
  EXPECT_EQ(pc->StationIP(), "10.0.0.7");
  EXPECT_TRUE(pc->CurrentPassword().Empty());

  EXPECT_FALSE(passwords.GetStations(&stations, "Nowhere"));
  EXPECT_EQ(stations.Count(), 0);
  EXPECT_EQ(client->ErrorMsg(), "Agent configuration Nowhere not found");
  ForgetSeen();
  EXPECT_FALSE(passwords.GetStations(nullptr, "Office"));
  EXPECT_FALSE(passwords.GetConfigurations(nullptr));
  EXPECT_TRUE(Seen().empty());
}

// --- the about page ---

TEST_F(PasswordFlow, AboutPageIsFetchedWithoutTheSessionAndWhateverItsStatus) {
  auto client = John();
  TKofPasswords passwords(*client);
  std::string page;
  ASSERT_TRUE(passwords.GetAbout(&page));
  EXPECT_NE(page.find("<h1>Koffra5</h1>"), std::string::npos);
  const TSeen seen = Only();
  EXPECT_EQ(seen.Target, "/static/about.page");
  EXPECT_FALSE(seen.Has("Cookie"));
  EXPECT_FALSE(seen.Has("KOF-Access-Code"));

  // A failure before stays in place: the page neither clears nor sets the error state.
  SecureString password;
  ASSERT_FALSE(passwords.GetStationPassword("PC-9", "Office", "WINDOWS", "admin", 2024y / 3 / 7, password));
  AddFault({{"path", "/static/about.page"}, {"status", 404}, {"body", "<html>no such page</html>"},
            {"contentType", "text/html"}});
  ASSERT_TRUE(passwords.GetAbout(&page));
  EXPECT_EQ(page, "<html>no such page</html>");
  EXPECT_EQ(client->ErrorCode(), 404);
  EXPECT_EQ(client->ErrorMsg(), "Station PC-9 not found");
  EXPECT_FALSE(passwords.GetAbout(nullptr));

  TFlowClient nowhere("https://127.0.0.1:1/", TKofLanguage::koflngEnglish);
  TKofPasswords unreachable(nowhere);
  EXPECT_FALSE(unreachable.GetAbout(&page));
}

// --- failures ---

TEST_F(PasswordFlow, EveryServiceReportsAServerFailureWithTheServersWords) {
  auto client = John();
  TKofPasswords passwords(*client);
  using TOperation = std::function<bool()>;
  SecureString secret;
  TCheckPasswordResult verdict;
  TKofList list;
  const std::pair<const char*, TOperation> operations[] = {
      {"generate", [&] { return passwords.GeneratePasswordOrAccCode(TGenerationType::gtPassword, "", secret, true); }},
      {"check",
       [&] { return passwords.CheckPasswordCorrectness(TGenerationType::gtPassword, "", "S3cret!", verdict, true); }},
      {"agent", [&] { return passwords.GetAgentPassword("PC-1", "Office", "WINDOWS", "a", 2024y / 3 / 7, secret); }},
      {"station",
       [&] { return passwords.GetStationPassword("PC-1", "Office", "WINDOWS", "a", 2024y / 3 / 7, secret); }},
      {"ticket", [&] { return passwords.GetTicketPassword("T-17", "PC-1", "WINDOWS", "admin", secret); }},
      {"configurations", [&] { return passwords.GetConfigurations(&list); }},
      {"stations", [&] { return passwords.GetStations(&list, "Office"); }},
  };
  for (const auto& [name, operation] : operations) {
    SCOPED_TRACE(name);
    Control("DELETE", "/__control/faults");
    AddFault({{"path", "/*"}, {"status", 503}, {"body", "err,Under maintenance"}, {"contentType", "text/plain"}});
    EXPECT_FALSE(operation());
    EXPECT_EQ(client->ErrorCode(), 503);
    EXPECT_NE(client->ErrorMsg().find("Under maintenance"), std::string::npos) << client->ErrorMsg();
    EXPECT_TRUE(MessageHidesSecrets(*client, {"S3cret!", "1234"}));
  }
  // A session that ended is the usual login failure.
  Control("DELETE", "/__control/faults");
  Control("POST", "/__control/expire-sessions");
  EXPECT_FALSE(passwords.GetConfigurations(&list));
  EXPECT_EQ(client->ErrorCode(), 401);
  EXPECT_EQ(client->ErrorKey(), kKeyLoginFailed);
}

}  // namespace
}  // namespace kof::clientflow
