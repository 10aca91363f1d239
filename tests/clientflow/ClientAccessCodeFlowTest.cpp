// Access codes asked through the callback, in clear and with client encryption.
#include <optional>
#include <string>
#include <vector>

#include "tests/clientflow/ClientFlowFixture.h"

namespace kof::clientflow {
namespace {

using nlohmann::json;
using testserver::flow::BasicSeed;

// Answers access-code prompts from a script and records the Invalid flags.
struct TAccessCodeScript {
  std::vector<std::optional<std::string>> Answers;  // nullopt: the user cancels
  std::vector<bool> InvalidFlags;

  void Attach(TKofClient& AClient) {
    AClient.SetOnGetAccessCode([this](SecureString& ACode, bool AInvalid) {
      const std::size_t ask = InvalidFlags.size();
      InvalidFlags.push_back(AInvalid);
      if (ask >= Answers.size() || !Answers[ask]) return false;
      ACode.Assign(*Answers[ask]);
      return true;
    });
  }
};

struct TAccessCodeCase {
  const char* Name;
  std::string StoredCode;
  std::vector<std::optional<std::string>> Answers;
  std::vector<bool> ExpectedFlags;
  bool ExpectedResult;
  std::string ExpectedKey;  // when the read fails
};

const std::vector<TAccessCodeCase>& AccessCodeCases() {
  static const std::vector<TAccessCodeCase> cases = {
      {"stored code is used without asking", "1234", {}, {}, true, ""},
      {"missing code is asked, then accepted", "", {"1234"}, {false}, true, ""},
      {"wrong answer is asked again as invalid", "", {"9999", "1234"}, {false, true}, true, ""},
      {"wrong stored code is asked as invalid", "0000", {"1234"}, {true}, true, ""},
      {"cancel on the first ask", "", {std::nullopt}, {false}, false, "AccessCodeValidator.missing"},
      {"cancel after a wrong answer", "", {"9999", std::nullopt}, {false, true}, false,
       "AccessCodeValidator.invalid.password"},
  };
  return cases;
}

void RunAccessCodeCase(TFlowClient& AClient, const TAccessCodeCase& ACase) {
  TAccessCodeScript script{ACase.Answers, {}};
  script.Attach(AClient);
  AClient.SetAccessCode(ACase.StoredCode);
  SecureString password;
  EXPECT_EQ(AClient.ReadPassword(11, password), ACase.ExpectedResult) << AClient.ErrorMsg();
  EXPECT_EQ(script.InvalidFlags, ACase.ExpectedFlags);
  if (ACase.ExpectedResult) {
    EXPECT_EQ(password.View(), "pop3pw");
    EXPECT_EQ(AClient.AccessCode().View(), "1234");
  } else {
    EXPECT_TRUE(password.Empty());
    EXPECT_EQ(AClient.ErrorCode(), 403);
    EXPECT_EQ(AClient.ErrorKey(), ACase.ExpectedKey);
    // A refused code is not kept for the next request.
    EXPECT_TRUE(AClient.AccessCode().Empty());
  }
  EXPECT_TRUE(MessageHidesSecrets(AClient, {"9999", "1234", "0000", "pop3pw"}));
}

class AccessCodeFlow : public ClientFlowTest {
 protected:
  static void SetUpTestSuite() { StartServer(BasicSeed()); }
  static void TearDownTestSuite() { StopServer(); }
};

TEST_F(AccessCodeFlow, SecretReadAsksForTheCodeThroughTheCallback) {
  for (const auto& c : AccessCodeCases()) {
    SCOPED_TRACE(c.Name);
    auto client = LoggedIn(kJohn);
    RunAccessCodeCase(*client, c);
  }
}

TEST_F(AccessCodeFlow, BannedCodeEndsTheAskingAndIsForgotten) {
  Control("POST", "/__control/settings", {{"accessCodeMaxAttempts", 2}});
  auto client = LoggedIn(kJohn);
  TAccessCodeScript script{{"9999", "9998", "1234"}, {}};
  script.Attach(*client);
  SecureString password;
  EXPECT_FALSE(client->ReadPassword(11, password));
  EXPECT_EQ(script.InvalidFlags, std::vector<bool>({false, true}));
  EXPECT_EQ(client->ErrorKey(), "AccessCode.banned");
  EXPECT_TRUE(client->AccessCode().Empty());
  EXPECT_TRUE(password.Empty());
  EXPECT_TRUE(MessageHidesSecrets(*client, {"9999", "9998"}));
}

TEST_F(AccessCodeFlow, CodeTravelsInTheHeaderInClear) {
  auto client = LoggedIn(kJohn);
  client->SetAccessCode("1234");
  Control("DELETE", "/__control/requests");
  SecureString password;
  ASSERT_TRUE(client->ReadPassword(11, password)) << client->ErrorMsg();
  EXPECT_EQ(client->LastWirePassword(), "pop3pw");
  const json log = Control("GET", "/__control/requests");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0]["headers"], json({"KOF-Access-Code", "Cookie"}));
}

json EncryptedSeed() {
  json seed = BasicSeed();
  seed["server"]["clientEncryption"] = true;
  return seed;
}

class EncryptedAccessCodeFlow : public ClientFlowTest {
 protected:
  static void SetUpTestSuite() { StartServer(EncryptedSeed()); }
  static void TearDownTestSuite() { StopServer(); }

  // The panel's order: status, login, login status (which switches encryption on).
  std::unique_ptr<TFlowClient> EncryptingClient() {
    auto client = LoggedIn(kJohn);
    bool authenticated = false;
    EXPECT_TRUE(client->LoginStatus(authenticated, true)) << client->ErrorMsg();
    EXPECT_TRUE(authenticated);
    EXPECT_TRUE(client->DecryptNaCL());
    return client;
  }
};

TEST_F(EncryptedAccessCodeFlow, CodeAndClientKeyTravelInTheHeaders) {
  auto client = EncryptingClient();
  client->SetAccessCode("1234");
  Control("DELETE", "/__control/requests");
  SecureString password;
  ASSERT_TRUE(client->ReadPassword(11, password)) << client->ErrorCode() << " " << client->ErrorMsg();
  EXPECT_EQ(password.View(), "pop3pw");
  EXPECT_NE(client->LastWirePassword(), "pop3pw");
  const json log = Control("GET", "/__control/requests");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0]["headers"], json({"KOF-Access-Code", "KOF-Encryption", "KOF-PublicKey", "Cookie"}));
}

TEST_F(EncryptedAccessCodeFlow, EncryptedCodeIsCheckedLikeAClearOne) {
  for (const auto& c : AccessCodeCases()) {
    SCOPED_TRACE(c.Name);
    auto client = EncryptingClient();
    RunAccessCodeCase(*client, c);
  }
}

TEST_F(EncryptedAccessCodeFlow, NewAccessCodeIsAcceptedAndUsed) {
  auto client = EncryptingClient();
  client->SetAccessCode("1234");
  ASSERT_TRUE(client->SetNewAccessCode("5678")) << client->ErrorCode() << " " << client->ErrorMsg();
  EXPECT_EQ(client->AccessCode().View(), "5678");
  SecureString password;
  EXPECT_TRUE(client->ReadPassword(11, password)) << client->ErrorMsg();
  EXPECT_EQ(password.View(), "pop3pw");
}

}  // namespace
}  // namespace kof::clientflow
