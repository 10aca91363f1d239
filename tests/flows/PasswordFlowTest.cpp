// wfxhost's vault commands against the test server, as a user runs them from
// a terminal: a secret a command obtains reaches standard output only when
// asked for, and no secret ever reaches standard error.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/KofProcess.h"
#include "tests/serverflow/ServerProcess.h"
#include "tests/serverflow/TestSeeds.h"

namespace kof::test {
namespace {

using nlohmann::json;
using testserver::flow::TServerProcess;
using testserver::flow::TTempDir;

constexpr const char* kJohnPassword = "secret pw";
constexpr const char* kStationPassword = "St4tion-pw";
constexpr const char* kTicketPassword = "T1cket-pw";

json Seed() {
  json seed = testserver::flow::BasicSeed();
  seed["agents"] = json::parse(R"({
    "configs": [{"name": "Office", "seedBase": "s33d", "pattern": "Aa9", "stations": [
      {"stationName": "PC-1", "platform": "WINDOWS", "userName": "admin", "stationIp": "10.0.0.7",
       "passwords": {"admin": "St4tion-pw"}}]}],
    "tickets": [{"ticket": "T-17", "station": "PC-1", "platform": "WINDOWS", "user": "admin", "password": "T1cket-pw"}]
  })");
  return seed;
}

std::string BuildDir() {
  const char* bin = std::getenv("KOF_BINARY_DIR");
  return bin ? bin : KOF_BUILD_DIR;
}

struct TRun {
  int Exit = -1;
  std::string Out;
  std::string Err;
  bool Shows(const std::string& AText) const {
    return Out.find(AText) != std::string::npos || Err.find(AText) != std::string::npos;
  }
};

class VaultCommandFlow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { FServer = std::make_unique<TServerProcess>(Seed()); }
  static void TearDownTestSuite() { FServer.reset(); }
  void SetUp() override {
    ASSERT_TRUE(FServer) << "the server did not start";
    testserver::flow::TApi api(*FServer);
    testserver::flow::Control(api, "POST", "/__control/reset");
  }

  static std::string Url() { return "https://127.0.0.1:" + std::to_string(FServer->Port()) + "/"; }

  // wfxhost vault with the server's address and certificate before AArgs;
  // AInput is its standard input.
  TRun Vault(std::vector<std::string> AArgs, const std::string& AInput = "", bool AWithUrl = true) const {
    const std::string errFile = FDir.Path("stderr.txt");
    TKofProcessRequest request;
    request.Program = "/bin/sh";
    request.Args = {"-c", "exec \"$@\" 2>'" + errFile + "'", "sh", BuildDir() + "/wfxhost", "vault", "--ca",
                    FServer->CertFile()};
    if (AWithUrl) request.Args.insert(request.Args.end(), {"--url", Url()});
    request.Args.insert(request.Args.end(), AArgs.begin(), AArgs.end());
    request.Input = AInput;
    request.Timeout = std::chrono::seconds(30);
    const TKofProcessResult result = RunProcess(request);
    EXPECT_TRUE(result.Exited) << "wfxhost vault did not finish";
    std::ifstream err(errFile);
    std::stringstream errText;
    errText << err.rdbuf();
    return {result.ExitCode, std::string(result.Output.View()), errText.str()};
  }

  static inline std::unique_ptr<TServerProcess> FServer;
  TTempDir FDir;
};

TEST_F(VaultCommandFlow, SecretsReachStandardOutputOnlyWhenAsked) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Args;  // without --show
    std::string Input;
    std::string Hidden;           // what stands in for the secret
    std::string Secret;           // what --show prints, or empty when it varies
    std::size_t SecretSize;
  };
  const TCase cases[] = {
      {"station password", {"--user", "john", "station-password", "Office", "WINDOWS", "PC-1", "admin", "2024-03-07"},
       std::string(kJohnPassword) + "\n", "password of 10 characters", kStationPassword, 10},
      {"ticket password without a login", {"ticket-password", "T-17", "PC-1", "WINDOWS", "admin"}, "",
       "password of 9 characters", kTicketPassword, 9},
      {"generated password", {"--user", "john", "generate"}, std::string(kJohnPassword) + "\n",
       "password of 16 characters", "", 16},
      {"generated access code for an invitation", {"--invitation", "generate", "access-code"},
       Url() + "static/inituser.page?code=INV-1\n", "access code of 8 characters", "", 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::string> args = c.Args;
    // An invitation gives the server itself.
    const bool withUrl = args[0] != "--invitation";
    const TRun hidden = Vault(args, c.Input, withUrl);
    EXPECT_EQ(hidden.Exit, 0) << hidden.Err;
    EXPECT_EQ(hidden.Out, c.Hidden + " (--show prints it)\n");
    EXPECT_EQ(hidden.Err, "");
    if (!c.Secret.empty()) {
      EXPECT_FALSE(hidden.Shows(c.Secret));
    }

    args.insert(args.begin(), "--show");
    const TRun shown = Vault(args, c.Input, withUrl);
    EXPECT_EQ(shown.Exit, 0) << shown.Err;
    EXPECT_EQ(shown.Out.size(), c.SecretSize + 1);
    if (!c.Secret.empty()) {
      EXPECT_EQ(shown.Out, c.Secret + "\n");
    }
    EXPECT_EQ(shown.Err, "");
    EXPECT_FALSE(hidden.Shows(kJohnPassword) || shown.Shows(kJohnPassword));
  }
}

TEST_F(VaultCommandFlow, StrengthCheckAndFirstPasswordReadTheirSecretsFromStandardInput) {
  const TRun verdict = Vault({"--user", "john", "check-password"}, std::string(kJohnPassword) + "\nab c1&2=\n");
  EXPECT_EQ(verdict.Exit, 0) << verdict.Err;
  EXPECT_NE(verdict.Out.find("length 8\n"), std::string::npos) << verdict.Out;
  EXPECT_NE(verdict.Out.find("digits 2\n"), std::string::npos) << verdict.Out;
  EXPECT_NE(verdict.Out.find("offline 14 hours"), std::string::npos) << verdict.Out;
  EXPECT_FALSE(verdict.Shows("ab c1&2="));

  const std::string link = Url() + "static/inituser.page?code=INV-1";
  const TRun first = Vault({"--invitation", "set-first-password"}, link + "\nN3w-password\n", false);
  EXPECT_EQ(first.Exit, 0) << first.Err;
  EXPECT_EQ(first.Out, "first password set for SYSTEM\\ivan\n");
  EXPECT_FALSE(first.Shows("N3w-password"));
  const TRun login = Vault({"--user", "ivan", "configs"}, "N3w-password\n");
  EXPECT_EQ(login.Exit, 0) << login.Err;
  EXPECT_EQ(login.Out, "Office\n");
}

TEST_F(VaultCommandFlow, FailuresAreToldOnStandardErrorInTheServersWords) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Args;
    std::string Input;
    int ExpectedExit;
    std::string ExpectedErr;  // a part of it
  };
  const TCase cases[] = {
      {"wrong password", {"--user", "john", "configs"}, "wrong pw\n", 1,
       "wfxhost vault: login failed: Login failed (code 401)"},
      {"no password", {"--user", "john", "configs"}, "", 1, "no password on standard input"},
      {"unknown station", {"--user", "john", "station-password", "Office", "WINDOWS", "PC-9", "admin", "2024-03-07"},
       std::string(kJohnPassword) + "\n", 1, "station-password failed: Station PC-9 not found (code 404)"},
      {"refused ticket", {"ticket-password", "T-17", "PC-2", "WINDOWS", "admin"}, "", 1,
       "ticket-password failed: Invalid parameters (code 403)"},
      {"a date that is none", {"station-password", "Office", "WINDOWS", "PC-1", "admin", "2024-02-30"}, "", 2,
       "usage: wfxhost vault"},
      {"login and invitation at once", {"--user", "john", "--invitation", "generate"}, "", 2,
       "usage: wfxhost vault"},
      {"invitation without its link", {"--invitation", "generate"}, "", 1, "no invitation link on standard input"},
      {"unknown command", {"frobnicate"}, "", 2, "usage: wfxhost vault"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRun run = Vault(c.Args, c.Input);
    EXPECT_EQ(run.Exit, c.ExpectedExit);
    EXPECT_NE(run.Err.find(c.ExpectedErr), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_FALSE(run.Shows("wrong pw") || run.Shows(kJohnPassword));
  }
}

TEST_F(VaultCommandFlow, ListsAndTheAboutPageArePrinted) {
  const std::string login = std::string(kJohnPassword) + "\n";
  const TRun stations = Vault({"--user", "john", "stations", "Office"}, login);
  EXPECT_EQ(stations.Exit, 0) << stations.Err;
  EXPECT_EQ(stations.Out, "PC-1\tWINDOWS\tadmin\t10.0.0.7\n");
  const TRun about = Vault({"about"});
  EXPECT_EQ(about.Exit, 0) << about.Err;
  EXPECT_NE(about.Out.find("<h1>Koffra5</h1>"), std::string::npos) << about.Out;
}

}  // namespace
}  // namespace kof::test
