// Server faults seen from the client: each ends in the error state, in time,
// and the client works again once the fault is gone.
#include <cctype>
#include <chrono>
#include <functional>
#include <ostream>
#include <string>

#include "tests/clientflow/ClientFlowFixture.h"

namespace kof::clientflow {
namespace {

using nlohmann::json;
using testserver::flow::BasicSeed;

constexpr int kReadTimeoutMs = 1500;
constexpr int kCurlTimeout = rfTimedOut;
constexpr int kAnySocketError = -1;
constexpr const char* kStatusFailed = "Getting Koffra server status failed. This is probably not a valid Koffra URL.";

enum class TOperation { opStatus, opLogin, opLoginStatus, opReadPassword, opGetRecords };

struct TFaultCase {
  const char* Name;
  TOperation Operation;
  json Fault;
  int Code;         // kAnySocketError: a socket error (neither 0 nor an HTTP status)
  const char* Key;  // nullptr: not checked
  const char* Msg;  // a part of ErrorMsg; nullptr: not checked
};

void PrintTo(const TFaultCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

json Fault(const char* APath, const char* AKind, json AExtra = json::object()) {
  AExtra["path"] = APath;
  AExtra["kind"] = AKind;
  return AExtra;
}

const json kJsonErrorBody = {
    {"msg", {{{"severity", "ERROR"}, {"message", "m:err.storage.full[disk 1]"}, {"translationKey", "err.storage.full"},
              {"recordId", 11}}}}};

// Deep enough to overflow the stack of any recursive walk over the parsed answer.
const std::string kDeepBody = std::string(100000, '[') + std::string(100000, ']');

const TFaultCase kFaultCases[] = {
    {"status nested too deeply", TOperation::opStatus,
     Fault("/public/api/status", "fail", {{"status", 200}, {"body", kDeepBody}}), kErrException, "EKofResponseError",
     "nested too deeply"},
    {"records nested too deeply", TOperation::opGetRecords,
     Fault("/safe/boxes/2/records", "fail", {{"status", 200}, {"body", "{\"records\":" + kDeepBody + "}"}}), kErrException,
     "EKofJSONError", "nested too deeply"},
    {"error answer nested too deeply", TOperation::opGetRecords,
     Fault("/safe/boxes/2/records", "fail", {{"status", 500}, {"body", kDeepBody}}), kErrException, "EKofResponseError",
     "nested too deeply"},
    {"delayed answer past the read timeout", TOperation::opReadPassword,
     Fault("/safe/records/11/passwords", "delay", {{"delayMs", 4000}}), kCurlTimeout, "", nullptr},
    {"failure with a text body", TOperation::opReadPassword,
     Fault("/safe/records/11/passwords", "fail", {{"status", 503}, {"body", "err,maintenance"}}), 503, "",
     "maintenance"},
    {"failure with a JSON body of an unknown key", TOperation::opReadPassword,
     Fault("/safe/records/11/passwords", "fail",
           {{"status", 500}, {"body", kJsonErrorBody.dump()}, {"contentType", "application/json"}}),
     500, "internal.server.Error", "Err storage full"},
    {"failure without a body", TOperation::opReadPassword,
     Fault("/safe/records/11/passwords", "fail", {{"status", 404}, {"body", ""}}), 404, "", "404 Not found"},
    {"dropped connection", TOperation::opReadPassword, Fault("/safe/records/11/passwords", "drop"), kAnySocketError, "",
     nullptr},
    {"garbage with an error status", TOperation::opReadPassword,
     Fault("/safe/records/11/passwords", "garbage", {{"status", 500}}), 500, "internal.server.Error",
     "500 Internal server error"},
    {"garbage with status 200", TOperation::opLoginStatus, Fault("/public/api/loginStatus", "garbage"), kErrException,
     "EKofResponseError", nullptr},
    {"login failure with a text body", TOperation::opLogin,
     Fault("/api/login", "fail", {{"status", 503}, {"body", "err,maintenance"}}), 503, "", "maintenance"},
    {"login connection dropped", TOperation::opLogin, Fault("/api/login", "drop"), kAnySocketError, "", nullptr},
    {"login answered with garbage", TOperation::opLogin, Fault("/api/login", "garbage"), kErrException, "EKofResponseError",
     nullptr},
    {"status delayed past the read timeout", TOperation::opStatus,
     Fault("/public/api/status", "delay", {{"delayMs", 4000}}), kCurlTimeout, "", kStatusFailed},
    {"status answered with garbage", TOperation::opStatus, Fault("/public/api/status", "garbage"), 0, nullptr,
     kStatusFailed},
    {"records delayed past the read timeout", TOperation::opGetRecords,
     Fault("/safe/boxes/2/records", "delay", {{"delayMs", 4000}}), kCurlTimeout, "", nullptr},
    {"records failure with a text body", TOperation::opGetRecords,
     Fault("/safe/boxes/2/records", "fail", {{"status", 503}, {"body", "err,maintenance"}}), 503, "", "maintenance"},
    {"records connection dropped", TOperation::opGetRecords, Fault("/safe/boxes/2/records", "drop"), kAnySocketError,
     "", nullptr},
    {"records answered with garbage", TOperation::opGetRecords, Fault("/safe/boxes/2/records", "garbage"), kErrException, nullptr,
     nullptr},
    // A byte every 200 ms never lets the line fall silent for the read timeout.
    {"password trickled a byte at a time", TOperation::opReadPassword,
     Fault("/safe/records/11/passwords", "trickle", {{"delayMs", 200}}), kCurlTimeout, "", nullptr},
    {"records trickled a byte at a time", TOperation::opGetRecords,
     Fault("/safe/boxes/2/records", "trickle", {{"delayMs", 200}}), kCurlTimeout, "", nullptr},
    {"status trickled a byte at a time", TOperation::opStatus,
     Fault("/public/api/status", "trickle", {{"delayMs", 200}}), kCurlTimeout, "", kStatusFailed},
};

// A fault that answers a request with a body leaves that body unread on the
// kept-alive connection (see the report of these tests).
class FaultFlow : public ClientFlowTest, public ::testing::WithParamInterface<TFaultCase> {
 protected:
  static void SetUpTestSuite() { StartServer(BasicSeed()); }
  static void TearDownTestSuite() { StopServer(); }

  // The client ready for the operation, with a short read timeout.
  std::unique_ptr<TFlowClient> Prepared(TOperation AOperation) {
    TLoginData login = kJohn;
    login.AccessCode = "1234";
    auto client = AOperation == TOperation::opStatus || AOperation == TOperation::opLogin ? NewClient(login)
                                                                                           : LoggedIn(login);
    if (AOperation == TOperation::opLogin) {
      EXPECT_TRUE(client->Status()) << client->ErrorMsg();
    }
    if (AOperation == TOperation::opStatus) static_cast<void>(client->Status());  // makes the request object
    client->HTTP()->SetTimeout(kReadTimeoutMs);
    return client;
  }

  static bool Run(TFlowClient& AClient, TOperation AOperation) {
    bool authenticated = false;
    SecureString password;
    switch (AOperation) {
      case TOperation::opStatus:
        return AClient.Status();
      case TOperation::opLogin:
        AClient.SetPassword(kJohn.Password);  // a login answered 200 wipes it, whatever came with it
        return AClient.Connect(nullptr, "clientflow", "1.0", "1");
      case TOperation::opLoginStatus:
        return AClient.LoginStatus(authenticated, true) && authenticated;
      case TOperation::opReadPassword:
        return AClient.ReadPassword(11, password) && password.View() == "pop3pw";
      case TOperation::opGetRecords: {
        TKofList records;
        return AClient.GetRecords(2, &records, false, false, true) && records.Count() == 2;
      }
    }
    return false;
  }
};

TEST_P(FaultFlow, FaultEndsInTheErrorStateAndTheClientRecovers) {
  const TFaultCase& c = GetParam();
  {
    auto client = Prepared(c.Operation);
    AddFault(c.Fault);

    const auto start = std::chrono::steady_clock::now();
    bool result = true;
    EXPECT_NO_THROW(result = Run(*client, c.Operation));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(result);
    EXPECT_LT(elapsed, std::chrono::milliseconds(kReadTimeoutMs + 1500));
    if (c.Code == kAnySocketError) {
      EXPECT_NE(client->ErrorCode(), 0);
      EXPECT_NE(client->ErrorCode(), 200);
    } else {
      EXPECT_EQ(client->ErrorCode(), c.Code);
    }
    if (c.Key) {
      EXPECT_EQ(client->ErrorKey(), c.Key);
    }
    if (c.Msg) {
      EXPECT_NE(client->ErrorMsg().find(c.Msg), std::string::npos) << client->ErrorMsg();
    }
    EXPECT_FALSE(client->ErrorMsg().empty());
    EXPECT_TRUE(MessageHidesSecrets(*client, {"secret pw", "1234", "pop3pw"}));

    Control("DELETE", "/__control/faults");
    EXPECT_TRUE(Run(*client, c.Operation)) << "after the fault: " << client->ErrorCode() << " " << client->ErrorMsg();
  }
}

std::string CaseName(const ::testing::TestParamInfo<TFaultCase>& AInfo) {
  std::string name = AInfo.param.Name;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultFlow, ::testing::ValuesIn(kFaultCases), CaseName);

class ListingFlow : public ClientFlowTest {
 protected:
  static void SetUpTestSuite() { StartServer(BasicSeed()); }
  static void TearDownTestSuite() { StopServer(); }
};

// A record of a kind no client knows, or with bytes that are not UTF-8, is left
// out of the listing and counted; the records beside it are listed.
TEST_F(ListingFlow, UnreadableRecordsAreLeftOutAndTheRestIsListed) {
  const std::string body = "{\"records\":[{\"id\":11,\"template\":\"account\",\"name\":\"Inbox\"},"
                           "{\"id\":14,\"template\":\"file\",\"name\":\"bad \xff\xfe name\"},"
                           "{\"id\":15,\"template\":7,\"name\":\"Numbered\"},"
                           "{\"id\":12,\"template\":\"file\",\"name\":\"Keys\"}]}";
  AddFault(Fault("/safe/boxes/2/records", "garbage",
                 {{"bodyBase64", Base64Encode(std::string_view(body))}, {"contentType", "application/json"}}));
  TLoginData login = kJohn;
  login.AccessCode = "1234";
  auto client = LoggedIn(login);
  TKofList records;
  ASSERT_TRUE(client->GetRecords(2, &records, false, false, false)) << client->ErrorMsg();
  ASSERT_EQ(records.Count(), 2);
  EXPECT_EQ(records[0]->Name(), "Inbox");
  EXPECT_EQ(records[1]->Name(), "Keys");
  EXPECT_EQ(records.Unreadable(), 2);
  Control("DELETE", "/__control/faults");
}

}  // namespace
}  // namespace kof::clientflow
