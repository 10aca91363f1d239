// Login, second factor and relogin, as a panel drives them.
#include <string>
#include <utility>
#include <vector>

#include "crypto/KofNaCL.h"
#include "tests/clientflow/ClientFlowFixture.h"

namespace kof::clientflow {
namespace {

using testserver::flow::BasicSeed;
using testserver::flow::kCarlCertificate;

class LoginFlow : public ClientFlowTest {
 protected:
  static void SetUpTestSuite() { StartServer(BasicSeed()); }
  static void TearDownTestSuite() { StopServer(); }
};

TEST_F(LoginFlow, PasswordLoginReadsUserStateAndWipesThePassword) {
  auto client = NewClient(kJohn);
  ASSERT_TRUE(client->Status()) << client->ErrorMsg();
  EXPECT_EQ(client->KofProduct(), "Koffra5");
  EXPECT_FALSE(client->KofVersion().empty());

  ASSERT_TRUE(client->Connect(nullptr, "clientflow", "1.0", "1")) << client->ErrorCode() << " " << client->ErrorMsg();
  EXPECT_TRUE(client->Connected());
  EXPECT_FALSE(client->ConnectedByCertificate());
  EXPECT_TRUE(client->Password().Empty());
  EXPECT_TRUE(client->HasAccessCode());
  EXPECT_TRUE(client->Auditor());
  EXPECT_TRUE(client->SafeBoxUser());
  EXPECT_FALSE(client->SecondFactorRequired());
  EXPECT_EQ(client->ErrorCode(), 0);

  bool authenticated = false;
  EXPECT_TRUE(client->LoginStatus(authenticated, true)) << client->ErrorMsg();
  EXPECT_TRUE(authenticated);
  EXPECT_TRUE(client->GetUserConfiguration("", false)) << client->ErrorMsg();
  EXPECT_EQ(client->UserName(), "john");
  EXPECT_EQ(client->Language(), TKofLanguage::koflngCzech);
  EXPECT_TRUE(client->ReadBoxes()) << client->ErrorMsg();
}

TEST_F(LoginFlow, CertificateLoginConnectsByCertificate) {
  TLoginData carl{"carl", "", "SYSTEM", ""};
  auto client = NewClient(carl);
  ASSERT_TRUE(client->Status()) << client->ErrorMsg();
  const std::string certificate = "client certificate of carl";
  ASSERT_EQ(Base64Encode(certificate), kCarlCertificate);
  ASSERT_TRUE(client->Connect(&certificate, "clientflow", "", "")) << client->ErrorCode() << " " << client->ErrorMsg();
  EXPECT_TRUE(client->ConnectedByCertificate());
  EXPECT_TRUE(client->ReadBoxes()) << client->ErrorMsg();

  auto stranger = NewClient(carl);
  const std::string unknown = "certificate of nobody";
  EXPECT_FALSE(stranger->Connect(&unknown, "", "", ""));
  EXPECT_FALSE(stranger->Connected());
  EXPECT_FALSE(stranger->ConnectedByCertificate());
  EXPECT_EQ(stranger->ErrorCode(), 401);
}

TEST_F(LoginFlow, RejectedLoginLeavesTheServersErrorWithoutThePassword) {
  struct Case {
    const char* Name;
    TLoginData Login;
  };
  const Case cases[] = {
      {"wrong password", {"john", "not the password", "SYSTEM", ""}},
      {"unknown user", {"nobody", "some password", "SYSTEM", ""}},
      {"wrong domain", {"john", "secret pw", "CORP", ""}},
      {"empty password", {"john", "", "SYSTEM", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto client = NewClient(c.Login);
    ASSERT_TRUE(client->Status()) << client->ErrorMsg();
    EXPECT_FALSE(client->Connect(nullptr, "clientflow", "1.0", "1"));
    EXPECT_FALSE(client->Connected());
    EXPECT_EQ(client->ErrorCode(), 401);
    EXPECT_EQ(client->ErrorKey(), "login.failed");
    EXPECT_FALSE(client->ErrorMsg().empty());
    EXPECT_TRUE(MessageHidesSecrets(*client, {c.Login.Password}));
    // Nothing to repeat: the vault still refuses the client.
    EXPECT_FALSE(client->ReadBoxes());
    EXPECT_EQ(client->ErrorCode(), 401);
  }
}

TEST_F(LoginFlow, UntrustedServerCertificateIsRefused) {
  auto client = std::make_unique<TFlowClient>(BaseURL(), TKofLanguage::koflngEnglish);
  client->SetVerifyCertificate(true);  // the system's trust store does not know the test server
  EXPECT_FALSE(client->Status());
  EXPECT_NE(client->ErrorCode(), 0);
  EXPECT_NE(client->ErrorCode(), 200);
  EXPECT_EQ(client->ErrorMsg(), "Getting Koffra server status failed. This is probably not a valid Koffra URL.");
}

TEST_F(LoginFlow, SecondFactorRefusesAWrongCodeAndAcceptsTheCurrentOne) {
  auto client = LoggedIn(kTina);
  ASSERT_TRUE(client->Connected());
  EXPECT_TRUE(client->SecondFactorRequired());
  EXPECT_FALSE(client->ReadBoxes());
  EXPECT_EQ(client->ErrorCode(), 403);
  EXPECT_EQ(client->ErrorKey(), "err.secondfactor.required");

  std::string wrong = CurrentTotp("tina", "CORP");
  wrong.back() = wrong.back() == '0' ? '1' : '0';
  EXPECT_FALSE(client->SecondFactor(wrong, ""));
  EXPECT_EQ(client->ErrorCode(), 500);
  // The key survives, so a relogin can ask for the code again.
  EXPECT_EQ(client->ErrorKey(), "err.secondfactor.invalid");
  EXPECT_TRUE(MessageHidesSecrets(*client, {wrong}));
  EXPECT_FALSE(client->ReadBoxes());

  EXPECT_TRUE(client->SecondFactor(CurrentTotp("tina", "CORP"), "")) << client->ErrorCode() << " " << client->ErrorMsg();
  EXPECT_EQ(client->ErrorCode(), 0);
  EXPECT_TRUE(client->ReadBoxes()) << client->ErrorMsg();
}

// Records what the relogin callbacks were asked and answers from a script.
struct TReloginScript {
  explicit TReloginScript(std::vector<std::string> APasswords = {}) : Passwords(std::move(APasswords)) {}

  std::vector<std::string> Passwords;  // one per prompt; past the end: cancel
  int Prompts = 0;
  std::vector<std::string> Asked;  // "base|domain|user" per prompt

  void Attach(TKofClient& AClient) {
    AClient.SetOnUserLogin([this](const std::string& ABaseURL, const std::string& ADomain,
                                  const std::string& AUserName, SecureString& APassword) {
      Asked.push_back(ABaseURL + "|" + ADomain + "|" + AUserName);
      if (Prompts >= static_cast<int>(Passwords.size())) return false;
      APassword.Assign(Passwords[Prompts++]);
      return true;
    });
  }
};

TEST_F(LoginFlow, ExpiredSessionIsRenewedThroughTheLoginCallback) {
  auto client = LoggedIn(kJohn);
  TReloginScript script({"wrong one", "secret pw"});
  script.Attach(*client);
  ASSERT_TRUE(client->ReadBoxes());

  EXPECT_EQ(Control("POST", "/__control/expire-sessions", {{"user", "john"}}).at("expired"), 1);
  EXPECT_TRUE(client->ReadBoxes()) << client->ErrorCode() << " " << client->ErrorMsg();
  EXPECT_TRUE(client->Connected());
  EXPECT_EQ(client->ErrorCode(), 0);
  // A wrong password asks again; the second answer logs in.
  ASSERT_EQ(script.Asked.size(), 2u);
  EXPECT_EQ(script.Asked[0], BaseURL() + "|SYSTEM|john");
  EXPECT_TRUE(client->Password().Empty());
}

TEST_F(LoginFlow, CancelledReloginEndsWithAClearedErrorState) {
  auto client = LoggedIn(kJohn);
  TReloginScript script;  // cancels the first prompt
  script.Attach(*client);
  Control("POST", "/__control/expire-sessions");
  EXPECT_FALSE(client->ReadBoxes());
  EXPECT_EQ(script.Asked.size(), 1u);
  EXPECT_EQ(client->ErrorCode(), 0);
  EXPECT_EQ(client->ErrorKey(), "");
}

TEST_F(LoginFlow, ReloginOfASecondFactorUserRunsTheSecondFactorCheck) {
  auto client = LoggedIn(kTina);
  ASSERT_TRUE(client->SecondFactor(CurrentTotp("tina", "CORP"), "")) << client->ErrorMsg();
  TReloginScript script({"pw"});
  script.Attach(*client);
  int checks = 0;
  client->SetOnCheckSecondFactor([&](TKofClient& AClient) {
    ++checks;
    static_cast<void>(AClient.SecondFactor(CurrentTotp("tina", "CORP"), ""));  // the error state tells
    return true;
  });

  // The "expire" switch ends the session of exactly the request that meets it.
  AddFault({{"path", "/safe/boxes"}, {"method", "GET"}, {"kind", "expire"}, {"times", 1}});
  EXPECT_TRUE(client->ReadBoxes()) << client->ErrorCode() << " " << client->ErrorMsg();
  EXPECT_EQ(script.Asked.size(), 1u);
  EXPECT_EQ(checks, 1);
  EXPECT_TRUE(client->Connected());
}

TEST_F(LoginFlow, CancelledSecondFactorInReloginLogsOut) {
  auto client = LoggedIn(kTina);
  ASSERT_TRUE(client->SecondFactor(CurrentTotp("tina", "CORP"), "")) << client->ErrorMsg();
  TReloginScript script({"pw"});
  script.Attach(*client);
  client->SetOnCheckSecondFactor([](TKofClient&) { return false; });
  Control("POST", "/__control/expire-sessions");
  EXPECT_FALSE(client->ReadBoxes());
  EXPECT_FALSE(client->Connected());
  EXPECT_EQ(client->ErrorCode(), 401);
  EXPECT_EQ(client->ErrorKey(), "login.failed");
  EXPECT_EQ(client->ErrorMsg(), "You have been logged out");
}

}  // namespace
}  // namespace kof::clientflow
