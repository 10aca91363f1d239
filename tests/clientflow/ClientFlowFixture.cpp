#include "tests/clientflow/ClientFlowFixture.h"

#include <nlohmann/json.hpp>

namespace kof::clientflow {

using nlohmann::json;
using testserver::flow::TApi;
using testserver::flow::TServerProcess;

bool TFlowClient::ReadPassword(int ARecordId, SecureString& APassword) {
  APassword.Clear();
  return Guarded([&] {
    CreateHTTP();
    ClearError(true);
    std::string answer;
    const std::string url = URL(api::RecordPasswords(ARecordId));
    const auto send = [&](TRESTsend& http) { return http.Get(url, &answer, true); };
    bool ok = RunRequest(send, answer);
    if (ok) {
      const json doc = json::parse(answer);
      FLastWirePassword = doc.at("password").get<std::string>();
      if (DecryptNaCL()) {
        APassword = NaCLEncryption()->Decrypt(KOFServerPublicKeyBytes(), FLastWirePassword);
        if (NaCLEncryption()->CryptError()) {
          SetDecryptError();
          ok = false;
        }
      } else {
        APassword.Assign(FLastWirePassword);
      }
    }
    WipeString(answer);
    return ok;
  });
}

bool TFlowClient::ReadBoxes() {
  TKofList boxes;
  return GetSafeBoxes(0, &boxes, false, true, false);
}

void ClientFlowTest::StartServer(const json& seed) { FServer = std::make_unique<TServerProcess>(seed); }

void ClientFlowTest::SetUp() {
  ASSERT_TRUE(FServer) << "the server did not start";
  Control("POST", "/__control/reset");
}

std::string ClientFlowTest::BaseURL() const { return "https://127.0.0.1:" + std::to_string(FServer->Port()) + "/"; }

std::unique_ptr<TFlowClient> ClientFlowTest::NewClient(const TLoginData& ALogin) const {
  auto client = std::make_unique<TFlowClient>(BaseURL(), ALogin.User, ALogin.Password, ALogin.AccessCode,
                                              ALogin.Domain, TKofLanguage::koflngEnglish);
  client->SetCertCAFile(FServer->CertFile());
  return client;
}

std::unique_ptr<TFlowClient> ClientFlowTest::LoggedIn(const TLoginData& ALogin) const {
  auto client = NewClient(ALogin);
  EXPECT_TRUE(client->Status()) << client->ErrorCode() << " " << client->ErrorMsg();
  EXPECT_TRUE(client->Connect(nullptr, "clientflow", "1.0", "1")) << client->ErrorCode() << " " << client->ErrorMsg();
  return client;
}

json ClientFlowTest::Control(const std::string& AMethod, const std::string& APath, const json& ABody) const {
  TApi api(*FServer);
  return testserver::flow::Control(api, AMethod, APath, ABody);
}

std::string ClientFlowTest::CurrentTotp(const std::string& AUser, const std::string& ADomain) const {
  return Control("GET", "/__control/totp?user=" + AUser + "&domain=" + ADomain).at("code").get<std::string>();
}

testing::AssertionResult MessageHidesSecrets(const TKofClient& AClient, std::initializer_list<std::string> ASecrets) {
  const std::string texts = AClient.ErrorMsg() + "\n" + AClient.ErrorKey() + "\n" + AClient.ErrorSubj();
  for (const auto& secret : ASecrets)
    if (!secret.empty() && texts.find(secret) != std::string::npos)
      return testing::AssertionFailure() << "a secret shows in the error texts";
  return testing::AssertionSuccess();
}

}  // namespace kof::clientflow
