#pragma once
// The real client against a kof-test-server child process, trusting only the
// certificate that server generated.
#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "client/KofClients.h"
#include "support/SecureString.h"
#include "tests/serverflow/ServerProcess.h"
#include "tests/serverflow/TestSeeds.h"

namespace kof::clientflow {

// The client with a password read that keeps the password's wire form, so
// tests can see what travelled; built like every client operation.
class TFlowClient : public TKofClient {
 public:
  using TKofClient::TKofClient;

  // GET safe/records/ID/passwords (access code in the headers); decrypted
  // when client encryption is on.
  bool ReadPassword(int ARecordId, SecureString& APassword);
  // The top-level boxes (GetSafeBoxes), as any vault request.
  bool ReadBoxes();
  // The raw text of the last password answer's "password" member.
  const std::string& LastWirePassword() const { return FLastWirePassword; }

 private:
  std::string FLastWirePassword;
};

struct TLoginData {
  std::string User;
  std::string Password;
  std::string Domain = "SYSTEM";
  std::string AccessCode;
};

inline const TLoginData kJohn{"john", "secret pw", "SYSTEM", ""};
inline const TLoginData kTina{"tina", "pw", "CORP", "1234"};

class ClientFlowTest : public ::testing::Test {
 protected:
  static void StartServer(const nlohmann::json& seed);
  static void StopServer() { FServer.reset(); }
  void SetUp() override;

  std::string BaseURL() const;
  // A client that trusts the server's certificate and has not sent anything yet.
  std::unique_ptr<TFlowClient> NewClient(const TLoginData& ALogin) const;
  // Status, then a password login; fails the test when either fails.
  std::unique_ptr<TFlowClient> LoggedIn(const TLoginData& ALogin) const;

  nlohmann::json Control(const std::string& AMethod, const std::string& APath,
                         const nlohmann::json& ABody = {}) const;
  void AddFault(const nlohmann::json& AFault) const { Control("POST", "/__control/faults", AFault); }
  std::string CurrentTotp(const std::string& AUser, const std::string& ADomain) const;

  static inline std::unique_ptr<testserver::flow::TServerProcess> FServer;
};

// True when a secret shows in any text the client gives the user.
testing::AssertionResult MessageHidesSecrets(const TKofClient& AClient, std::initializer_list<std::string> ASecrets);

}  // namespace kof::clientflow
