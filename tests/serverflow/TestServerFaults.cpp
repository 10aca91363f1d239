// Fault switches, and the life of the server process itself.
#include <openssl/pem.h>
#include <signal.h>

#include <chrono>

#include "tests/server/KofTestTls.h"
#include "tests/serverflow/ServerFixture.h"

namespace kof::testserver::flow {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

class FaultTest : public ServerTest {};

TEST_F(FaultTest, FailAnswersTheGivenStatusAndBodyAsOftenAsAsked) {
  TApi api = LoggedIn();
  Control(api, "POST", "/__control/faults",
          {{"path", "/safe/boxes"},
           {"kind", "fail"},
           {"status", 503},
           {"body", "err,maintenance"},
           {"contentType", "text/plain"},
           {"times", 2}});
  for (int i = 0; i < 2; ++i) {
    auto result = api.Get("/safe/boxes");
    EXPECT_EQ(result->status, 503);
    EXPECT_EQ(result->body, "err,maintenance");
  }
  EXPECT_EQ(api.Get("/safe/boxes")->status, 200);
  EXPECT_TRUE(Control(api, "GET", "/__control/faults").empty());
}

TEST_F(FaultTest, FaultsMatchMethodAndPathPrefix) {
  TApi api = LoggedIn();
  Control(api, "POST", "/__control/faults", {{"path", "/safe/records/*"}, {"method", "DELETE"}, {"status", 500}});
  EXPECT_EQ(api.Get("/safe/records/11")->status, 200);
  EXPECT_EQ(api.Delete("/safe/records/11")->status, 500);
  EXPECT_EQ(api.Delete("/safe/records/12")->status, 500);
  Control(api, "DELETE", "/__control/faults");
  EXPECT_EQ(api.Delete("/safe/records/12")->status, 200);
}

TEST_F(FaultTest, DelayHoldsTheAnswerBack) {
  TApi api = LoggedIn();
  Control(api, "POST", "/__control/faults",
          {{"path", "/public/api/status"}, {"kind", "delay"}, {"delayMs", 400}, {"times", 1}});
  const auto start = std::chrono::steady_clock::now();
  auto result = api.Get("/public/api/status");
  EXPECT_EQ(result->status, 200);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 400ms);
}

TEST_F(FaultTest, DropCutsTheConnectionInTheMiddleOfTheBody) {
  TApi api = LoggedIn();
  Control(api, "POST", "/__control/faults", {{"path", "/safe/boxes"}, {"kind", "drop"}, {"times", 1}});
  auto result = api.Get("/safe/boxes");
  EXPECT_FALSE(result) << "a truncated answer was delivered whole";
  EXPECT_EQ(api.Get("/safe/boxes")->status, 200);
}

TEST_F(FaultTest, GarbageIsNeitherJsonNorAnErrorBody) {
  TApi api = LoggedIn();
  Control(api, "POST", "/__control/faults", {{"path", "/safe/boxes"}, {"kind", "garbage"}, {"times", 1}});
  auto result = api.Get("/safe/boxes");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_TRUE(JsonOf(result).is_discarded());
}

TEST_F(FaultTest, ExpireEndsTheCallersSessionBeforeTheRequest) {
  TApi api = LoggedIn();
  Control(api, "POST", "/__control/faults", {{"path", "/safe/boxes"}, {"kind", "expire"}, {"times", 1}});
  EXPECT_EQ(ErrorKeyOf(api.Get("/safe/boxes")), "login.failed");
  api.Login("john", "secret%20pw");
  EXPECT_EQ(api.Get("/safe/boxes")->status, 200);
}

TEST_F(FaultTest, BadFaultDefinitionsAreRefused) {
  TApi api = NewApi();
  for (const char* body : {R"({"kind":"fail"})", R"({"path":"/x","kind":"explode"})", R"({"path":"/x","status":42})",
                           R"({"path":"/x","times":0})", "[1]", "not json"}) {
    EXPECT_EQ(api.Raw().Post("/__control/faults", body, "application/json")->status, 400) << body;
  }
}

TEST_F(FaultTest, RequestLogNamesHeadersButNeverTheirValues) {
  TApi api = LoggedIn();
  Control(api, "DELETE", "/__control/requests");
  api.SetAccessCode("1234");
  api.Get("/safe/records/11/passwords");
  const json log = Control(api, "GET", "/__control/requests");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0]["path"], "/safe/records/11/passwords");
  EXPECT_EQ(log[0]["status"], 200);
  EXPECT_NE(log.dump().find("KOF-Access-Code"), std::string::npos);
  EXPECT_EQ(log.dump().find("1234"), std::string::npos);
}

TEST(ServerProcess, FirstLineNamesTheLoopbackPortAndTheCertificateIsForIt) {
  TServerProcess server(BasicSeed());
  EXPECT_EQ(server.FirstLine(), "listening on https://127.0.0.1:" + std::to_string(server.Port()) + "/\n");
  TApi api(server);  // verifies the certificate, including the IP address
  EXPECT_EQ(api.Get("/public/api/status")->status, 200);
}

TEST(ServerProcess, StopsWhenStandardInputCloses) {
  TServerProcess server(BasicSeed());
  server.CloseStdin();
  const TExit exit = server.WaitForExit(10s);
  EXPECT_TRUE(exit.Exited);
  EXPECT_EQ(exit.Code, 0);
}

TEST(ServerProcess, StopsOnSigtermAlsoWithoutStdinWatch) {
  TServerProcess server(BasicSeed(), {"--no-stdin-watch"});
  server.CloseStdin();
  EXPECT_FALSE(server.WaitForExit(300ms).Exited);
  kill(server.Pid(), SIGTERM);
  const TExit exit = server.WaitForExit(10s);
  EXPECT_TRUE(exit.Exited);
  EXPECT_EQ(exit.Code, 0);
}

TEST(ServerProcess, ServesGivenCertificateFiles) {
  TTempDir dir;
  TTlsIdentity identity = GenerateSelfSigned();
  WriteFile(dir.Path("cert.pem"), CertificateToPem(identity.Cert.get()));
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, identity.Key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  const long len = BIO_get_mem_data(bio, &data);
  WriteFile(dir.Path("key.pem"), std::string(data, static_cast<std::size_t>(len)));
  BIO_free(bio);

  TServerProcess server(BasicSeed(), {"--cert", dir.Path("cert.pem"), "--key", dir.Path("key.pem")});
  httplib::Client client("https://127.0.0.1:" + std::to_string(server.Port()));
  client.set_ca_cert_path(dir.Path("cert.pem").c_str());
  client.enable_server_certificate_verification(true);
  auto result = client.Get("/public/api/status");
  ASSERT_TRUE(result) << httplib::to_string(result.error());
  EXPECT_EQ(result->status, 200);
}

TEST(ServerProcess, StartUpFailuresExitWithAMessage) {
  TTempDir dir;
  WriteFile(dir.Path("bad.json"), "{ not json");
  WriteFile(dir.Path("dup.json"), R"({"boxes":[{"id":1,"name":"a"},{"id":1,"name":"b"}]})");
  WriteFile(dir.Path("cycle.json"), R"({"users":[{"password":"x"}]})");
  struct Case {
    std::vector<std::string> Args;
    const char* Message;
  } cases[] = {
      {{"--seed", dir.Path("missing.json")}, "cannot open seed file"},
      {{"--seed", dir.Path("bad.json")}, "is not JSON"},
      {{"--seed", dir.Path("dup.json")}, "duplicate id 1"},
      {{"--seed", dir.Path("cycle.json")}, "has no login"},
      {{"--port", "70000"}, "bad number"},
      {{"--cert", "x.pem"}, "--cert and --key go together"},
      {{"--bogus", "1"}, "unknown option"},
  };
  for (const auto& c : cases) {
    const TRunResult result = RunServerToExit(c.Args);
    EXPECT_EQ(result.Code, 2) << c.Message;
    EXPECT_NE(result.Stderr.find(c.Message), std::string::npos) << result.Stderr;
  }
}

}  // namespace
}  // namespace kof::testserver::flow
