#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "client/KofClients.h"
#include "tests/client/KofRawServer.h"

namespace kof {
namespace {

using test::JsonReply;
using test::TRawRequest;
using test::TRawServer;
using test::TReply;
using TRoute = std::function<TReply(const TRawRequest&)>;

std::string ErrorBody(const std::string& message) {
  return R"({"msg":[{"severity":"ERROR","message":")" + message + R"(","translationKey":"","recordId":null}]})";
}

// A vault that answers the login flow; tests replace single routes.
class ClientTest : public ::testing::Test {
 protected:
  ClientTest()
      : FServer([this](const TRawRequest& r) {
          std::lock_guard lock(FRoutesLock);
          const std::string path = r.Target.substr(1, r.Target.find('?') - 1);
          const auto route = FRoutes.find(path);
          return route == FRoutes.end() ? test::TextReply(404, "") : route->second(r);
        }) {
    Route("public/api/status", R"({"product":"Koffra5","apiVersion":"2","version":"5.3.12b","gmtTime":1700000000000})");
    Route("public/api/messages/en",
          R"({"login.failed":"Login failed!","AccessCodeValidator.invalid.password":"Wrong access code",)"
          R"("AccessCodeValidator.missing":"Access code missing","err.secondfactor.invalid":"Bad code"})");
    Route("public/api/messages/cs", R"({"login.failed":"Přihlášení selhalo"})");
    Route("api/login", R"({"authenticated":true,"uid":"u1","KOF_USER":true,"accessCodeTimeout":300,)"
                       R"("hasAccessCode":true,"locale":"en"})");
    Route("api/certlogin", R"({"authenticated":true})");
    Route("public/api/loginStatus", R"({"authenticated":true})");
    FClient = std::make_unique<TKofClient>(FServer.BaseURL(), "user", "pa&ss", "", "DOM", TKofLanguage::koflngEnglish);
    FClient->SetConnectionTimeout(3000);
  }

  void Route(const std::string& path, TRoute route) {
    std::lock_guard lock(FRoutesLock);
    FRoutes[path] = std::move(route);
  }
  void Route(const std::string& path, const std::string& json) {
    Route(path, [json](const TRawRequest&) { return JsonReply(200, json); });
  }
  std::vector<TRawRequest> RequestsTo(const std::string& path) const {
    std::vector<TRawRequest> result;
    for (const auto& r : FServer.Requests())
      if (r.Target.substr(1, r.Target.find('?') - 1) == path) result.push_back(r);
    return result;
  }
  void Login() {
    ASSERT_TRUE(FClient->Status(true)) << FClient->ErrorMsg();
    ASSERT_TRUE(FClient->Connect(nullptr, "TotalCmd plugin", "5.0", "1", false)) << FClient->ErrorMsg();
  }

  std::mutex FRoutesLock;
  std::map<std::string, TRoute> FRoutes;
  TRawServer FServer;
  std::unique_ptr<TKofClient> FClient;
};

TEST_F(ClientTest, StatusAcceptsOnlyTheVaultProductsAndLoadsTheCatalogue) {
  struct Case {
    const char* Product;
    bool Accepted;
  };
  for (const Case c : {Case{"Koffra5", true}, Case{"Koffra", true}, Case{"koffra", false}, Case{"", false}}) {
    Route("public/api/status", std::string(R"({"product":")") + c.Product + R"(","version":"5.3.12b"})");
    TKofClient client(FServer.BaseURL(), TKofLanguage::koflngEnglish);
    EXPECT_EQ(client.Status(true), c.Accepted) << c.Product;
    if (!c.Accepted) {
      EXPECT_EQ(client.ErrorMsg(), "Getting Koffra server status failed. This is probably not a valid Koffra URL.");
    }
    EXPECT_FALSE(client.ErrorMessages().Empty());
  }
  Route("public/api/status", R"({"product":"Koffra5","version":"5.3.12b","gmtTime":1700000000000})");
  const TKofVersion v = FClient->Status(true) ? FClient->KofVersionEncoded() : TKofVersion{};
  EXPECT_EQ(v.Encoded, 5003012);
  EXPECT_EQ(FClient->KofGmtTime(), 1700000000000);
}

TEST_F(ClientTest, StatusOfAnUnreachableOrBrokenServerKeepsTheUnderlyingCode) {
  TKofClient dead("http://127.0.0.1:1/", TKofLanguage::koflngEnglish);
  dead.SetConnectionTimeout(2000);
  EXPECT_FALSE(dead.Status(true));
  EXPECT_EQ(dead.ErrorCode(), rfCouldNotConnect);
  EXPECT_EQ(dead.ErrorMsg(), "Getting Koffra server status failed. This is probably not a valid Koffra URL.");

  Route("public/api/status", [](const TRawRequest&) { return test::TextReply(502, "<html>proxy</html>"); });
  EXPECT_FALSE(FClient->Status(true));
  EXPECT_EQ(FClient->ErrorCode(), 502);
  Route("public/api/status", [](const TRawRequest&) { return test::TextReply(200, "<html>not json</html>"); });
  EXPECT_FALSE(FClient->Status(true));
}

TEST(KofVersion, IsEncodedFromItsLeadingNumbers) {
  struct Case {
    const char* Text;
    TKofVersion Expected;
  };
  const Case cases[] = {
      {"5.3.12b", {5, 3, 12, 5003012}},
      {"", {1, 0, 0, 1000000}},
      {"7", {7, 0, 0, 7000000}},
      {"6.x.2", {6, 0, 2, 6000002}},
  };
  for (const auto& c : cases) {
    // The version only arrives through a status answer.
    TRawServer server([&](const TRawRequest&) {
      return JsonReply(200, std::string(R"({"product":"Koffra","version":")") + c.Text + "\"}");
    });
    TKofClient client(server.BaseURL(), TKofLanguage::koflngEnglish);
    EXPECT_TRUE(client.Status(true)) << c.Text;
    const TKofVersion v = client.KofVersionEncoded();
    EXPECT_EQ(v.Version, c.Expected.Version) << c.Text;
    EXPECT_EQ(v.Revision, c.Expected.Revision) << c.Text;
    EXPECT_EQ(v.Build, c.Expected.Build) << c.Text;
    EXPECT_EQ(v.Encoded, c.Expected.Encoded) << c.Text;
  }
}

TEST_F(ClientTest, PasswordLoginSendsTheFormAndWipesThePassword) {
  Login();
  const auto logins = RequestsTo("api/login");
  ASSERT_EQ(logins.size(), 1u);
  EXPECT_EQ(logins[0].Body,
            "username=user&domain=DOM&login=DOM%5Cuser&password=pa%26ss&clientName=TotalCmd%20plugin&clientVersion=5.0&"
            "clientBuild=1");
  EXPECT_TRUE(FClient->Connected());
  EXPECT_TRUE(FClient->Password().Empty());
  EXPECT_TRUE(FClient->KofUser());
  EXPECT_EQ(FClient->AccessCodeValidityTimoutSec(), 300);

  EXPECT_TRUE(FClient->Connect(nullptr, "", "", "", false));  // already connected: nothing sent
  EXPECT_EQ(RequestsTo("api/login").size(), 1u);
}

TEST_F(ClientTest, LoginAnswersThatDoNotAuthenticate) {
  Route("api/login", R"({"authenticated":false})");
  EXPECT_FALSE(FClient->Connect(nullptr, "", "", "", false));
  EXPECT_FALSE(FClient->Connected());
  EXPECT_EQ(FClient->ErrorCode(), 0);
  EXPECT_TRUE(FClient->Password().Empty());

  FClient->SetPassword("secret-pw");
  Route("api/login", [](const TRawRequest&) { return JsonReply(401, ErrorBody("m:login.failed")); });
  EXPECT_FALSE(FClient->Connect(nullptr, "", "", "", false));
  EXPECT_EQ(FClient->ErrorCode(), 401);
  EXPECT_EQ(FClient->ErrorKey(), "login.failed");  // Connect loads the English catalogue first
  EXPECT_EQ(FClient->ErrorMsg(), "Login failed!");
  EXPECT_EQ(FClient->ErrorMsg().find("secret-pw"), std::string::npos);

  Route("api/login", [](const TRawRequest&) { return test::TextReply(200, "<html>"); });
  EXPECT_FALSE(FClient->Connect(nullptr, "", "", "", false));
  EXPECT_EQ(FClient->ErrorCode(), kErrException);
  EXPECT_EQ(FClient->ErrorKey(), "EKofResponseError");
}

TEST_F(ClientTest, CertificateLoginSendsBase64AndNoAccessCode) {
  FClient->SetAccessCode("1234");
  const std::string cert("\x30\x82\x01\xff", 4);
  ASSERT_TRUE(FClient->Connect(&cert, "n", "", "", false));
  const auto logins = RequestsTo("api/certlogin");
  ASSERT_EQ(logins.size(), 1u);
  EXPECT_EQ(logins[0].Body, "authCert=MIIB%2Fw%3D%3D&clientName=n");
  EXPECT_EQ(logins[0].Header("KOF-Access-Code"), nullptr);
  EXPECT_TRUE(FClient->ConnectedByCertificate());
}

TEST_F(ClientTest, StatusOfAConnectedClientRenewsTheEncryptionEngine) {
  Login();
  EXPECT_FALSE(FClient->DecryptNaCL());
  TBytes serverKey;
  SecureBytes serverSecret;
  ASSERT_TRUE(TSaltyClientEncryption::GetKeyPair(serverKey, serverSecret));
  Route("public/api/status", R"({"product":"Koffra5","ceAlgorithm":"NaCL","cePublicKey":")" +
                                 Base64Encode(serverKey) + "\"}");
  ASSERT_TRUE(FClient->Status(true));
  ASSERT_TRUE(FClient->DecryptNaCL());
  const std::string first = FClient->NaCLEncryption()->ClientPublicKeyAsBase64();
  ASSERT_TRUE(FClient->Status(true));
  EXPECT_NE(FClient->NaCLEncryption()->ClientPublicKeyAsBase64(), first);
  EXPECT_EQ(FClient->KOFServerPublicKeyBytes(), serverKey);

  Route("public/api/status", R"({"product":"Koffra5","ceAlgorithm":"NaCL","cePublicKey":"c2hvcnQ="})");
  EXPECT_FALSE(FClient->Status(true));  // a 5-byte key cannot encrypt anything
}

TEST_F(ClientTest, FailedRequestWordingFromTheStatusTable) {
  Login();
  Route("public/api/loginStatus", [](const TRawRequest&) { return test::TextReply(404, ""); });
  bool authenticated = true;
  EXPECT_FALSE(FClient->LoginStatus(authenticated, false));
  EXPECT_FALSE(authenticated);
  EXPECT_EQ(FClient->ErrorCode(), 404);
  EXPECT_EQ(FClient->ErrorKey(), "");
  EXPECT_EQ(FClient->ErrorMsg(), "404 Not found ");
}

TEST_F(ClientTest, ReloginThroughTheCallbackRepeatsTheRequest) {
  Login();
  int statusCalls = 0;
  Route("public/api/loginStatus", [&](const TRawRequest&) {
    return ++statusCalls == 1 ? JsonReply(401, ErrorBody("m:login.failed")) : JsonReply(200, R"({"authenticated":true})");
  });
  std::vector<std::string> asked;
  FClient->SetOnUserLogin([&](const std::string& url, const std::string& domain, const std::string& user,
                              SecureString& password) {
    asked.push_back(url + "|" + domain + "|" + user);
    password.Assign("new&pw");
    return true;
  });
  bool authenticated = false;
  ASSERT_TRUE(FClient->LoginStatus(authenticated, true)) << FClient->ErrorMsg();
  EXPECT_TRUE(authenticated);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], FServer.BaseURL() + "|DOM|user");
  const auto logins = RequestsTo("api/login");
  ASSERT_EQ(logins.size(), 2u);
  EXPECT_NE(logins[1].Body.find("password=new%26pw"), std::string::npos);
  EXPECT_EQ(logins[1].Body.find("clientName"), std::string::npos);
  EXPECT_TRUE(FClient->Password().Empty());
}

TEST_F(ClientTest, CancelledReloginEndsWithAClearedError) {
  Login();
  Route("public/api/loginStatus", [](const TRawRequest&) { return JsonReply(401, ErrorBody("m:login.failed")); });
  FClient->SetOnUserLogin([](const std::string&, const std::string&, const std::string&, SecureString&) {
    return false;
  });
  bool authenticated = true;
  EXPECT_FALSE(FClient->LoginStatus(authenticated, true));
  EXPECT_EQ(FClient->ErrorCode(), 0);
  EXPECT_EQ(FClient->ErrorKey(), "");
}

TEST_F(ClientTest, SecondFactorRefusedAfterReloginLogsOut) {
  Login();
  Route("public/api/loginStatus", [](const TRawRequest&) { return JsonReply(401, ErrorBody("m:login.failed")); });
  Route("api/login", R"({"authenticated":true,"secondFactorRequired":true})");
  FClient->SetOnUserLogin([](const std::string&, const std::string&, const std::string&, SecureString& pw) {
    pw.Assign("x");
    return true;
  });
  int checks = 0;
  FClient->SetOnCheckSecondFactor([&](TKofClient&) { return ++checks, false; });
  bool authenticated = true;
  EXPECT_FALSE(FClient->LoginStatus(authenticated, true));
  EXPECT_EQ(checks, 1);
  EXPECT_EQ(FClient->ErrorCode(), 401);
  EXPECT_EQ(FClient->ErrorKey(), "login.failed");
  EXPECT_EQ(FClient->ErrorMsg(), "You have been logged out");
  EXPECT_FALSE(FClient->Connected());
}

TEST_F(ClientTest, AccessCodeRequestsAskTheCallback) {
  struct Case {
    const char* Name;
    int Status;
    std::string Body;
    bool ExpectInvalid;
  };
  const Case cases[] = {
      {"invalid code", 403, ErrorBody("m:AccessCodeValidator.invalid.password"), true},
      {"missing code", 403, ErrorBody("m:AccessCodeValidator.missing"), false},
      {"missing header", 400, "err,Missing query parameter (KOF-Access-Code) in request", false},
  };
  Login();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    int calls = 0;
    Route("public/api/loginStatus", [&](const TRawRequest& r) {
      ++calls;
      const std::string* code = r.Header("KOF-Access-Code");
      return code && *code == "99%2099" ? JsonReply(200, R"({"authenticated":true})") : JsonReply(c.Status, c.Body);
    });
    FClient->SetAccessCode("old");
    std::vector<bool> invalidFlags;
    FClient->SetOnGetAccessCode([&](SecureString& code, bool invalid) {
      invalidFlags.push_back(invalid);
      code.Assign("99 99");
      return true;
    });
    bool authenticated = false;
    EXPECT_TRUE(FClient->LoginStatus(authenticated, true)) << FClient->ErrorMsg();
    EXPECT_EQ(invalidFlags, std::vector<bool>{c.ExpectInvalid});
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(FClient->AccessCode().View(), "99 99");
  }
}

TEST_F(ClientTest, AccessCodeCallbackIsNotReentered) {
  Login();
  Route("public/api/loginStatus",
        [](const TRawRequest&) { return JsonReply(403, ErrorBody("m:AccessCodeValidator.missing")); });
  int calls = 0;
  FClient->SetOnGetAccessCode([&](SecureString& code, bool) {
    ++calls;
    bool inner = true;
    EXPECT_FALSE(FClient->LoginStatus(inner, true));  // a request made while asking does not ask again
    code.Assign("1");
    return false;
  });
  bool authenticated = true;
  EXPECT_FALSE(FClient->LoginStatus(authenticated, true));
  EXPECT_EQ(calls, 1);
}

TEST_F(ClientTest, ServerFaultGetsTheInternalErrorKey) {
  Login();
  Route("public/api/loginStatus", [](const TRawRequest&) { return JsonReply(500, ErrorBody("Database down")); });
  bool authenticated = true;
  EXPECT_FALSE(FClient->LoginStatus(authenticated, true));
  EXPECT_EQ(FClient->ErrorCode(), 500);
  EXPECT_EQ(FClient->ErrorKey(), "internal.server.Error");
}

TEST_F(ClientTest, WrongAccessCodeAnswerWipesTheCode) {
  Login();
  FClient->SetAccessCode("4321");
  Route("public/api/loginStatus",
        [](const TRawRequest&) { return JsonReply(403, ErrorBody("m:AccessCodeValidator.invalid.password")); });
  bool authenticated = true;
  EXPECT_FALSE(FClient->LoginStatus(authenticated, false));
  EXPECT_TRUE(FClient->AccessCode().Empty());
  EXPECT_TRUE(FClient->HTTP()->AccessCode().Empty());
  EXPECT_EQ(FClient->ErrorMsg(), "Wrong access code");
}

TEST_F(ClientTest, UserConfigurationFromAnInvitationLink) {
  TKofClient fresh("", TKofLanguage::koflngEnglish);
  Route("public/api", R"({"username":"new","domain":"D","lang":"cs","loginPasswordRequirements":)"
                      R"({"minLength":12,"minSpecial":2,"minEntropy":40.5}})");
  const std::string link = FServer.BaseURL() + "static/inituser.page?INV42";
  ASSERT_TRUE(fresh.GetUserConfiguration(link, true)) << fresh.ErrorMsg();
  EXPECT_EQ(fresh.BaseURL(), FServer.BaseURL());
  const auto requests = RequestsTo("public/api");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Target, "/public/api?code=INV42");
  EXPECT_EQ(fresh.UserName(), "new");
  EXPECT_EQ(fresh.LoginPasswordRequirements().MinLength, 12);
  EXPECT_EQ(fresh.LoginPasswordRequirements().MinSpecials, 2);
  EXPECT_DOUBLE_EQ(fresh.LoginPasswordRequirements().MinEntropy, 40.5);
  EXPECT_EQ(fresh.Language(), TKofLanguage::koflngCzech);
  EXPECT_EQ(RequestsTo("public/api/messages/cs").size(), 1u);

  EXPECT_FALSE(FClient->GetUserConfiguration("https://elsewhere.example/static/inituser.page?X", true));
  EXPECT_EQ(FClient->ErrorCode(), -1);
  EXPECT_EQ(RequestsTo("public/api").size(), 1u);
}

TEST_F(ClientTest, NewAccessCodeNeedsAConnection) {
  EXPECT_FALSE(FClient->SetNewAccessCode("1111"));
  EXPECT_TRUE(RequestsTo("api/user/accesscode/new").empty());
  Login();
  Route("api/user/accesscode/new", "{}");
  ASSERT_TRUE(FClient->SetNewAccessCode("1\"1"));
  EXPECT_EQ(RequestsTo("api/user/accesscode/new")[0].Body, R"({"accesscode_new":"1\"1","accesscode_repeat":"1\"1"})");
  EXPECT_EQ(FClient->AccessCode().View(), "1\"1");
}

TEST_F(ClientTest, SecondFactorAndRegistration) {
  Login();
  Route("api/user/secondfactor", "{}");
  Route("api/user/secondfactor-reg", R"({"secretKeyUri":"otpauth://totp/x"})");
  ASSERT_TRUE(FClient->SecondFactor("123456", "K"));
  EXPECT_EQ(RequestsTo("api/user/secondfactor")[0].Body, "securityCode=123456&key=K");
  std::string uri;
  ASSERT_TRUE(FClient->RegisterSecondFactor(uri, "KEY", "Koffra", "", ""));
  EXPECT_EQ(uri, "otpauth://totp/x");
  const auto reg = RequestsTo("api/user/secondfactor-reg");
  EXPECT_EQ(reg[0].Method, "OPTIONS");
  EXPECT_EQ(reg[0].Body, "issuer=Koffra&account=user%20(DOM)&key=KEY");
  ASSERT_TRUE(FClient->RegisterSecondFactor(uri, "KEY", "", "", ""));
  EXPECT_EQ(RequestsTo("api/user/secondfactor-reg")[1].Method, "POST");
}

TEST_F(ClientTest, DisconnectDropsTheSessionAndWipes) {
  Login();
  FClient->SetAccessCode("777");
  FClient->Disconnect(true);
  EXPECT_FALSE(FClient->Connected());
  EXPECT_EQ(FClient->HTTP(), nullptr);
  EXPECT_TRUE(FClient->AccessCode().Empty());
}

// --- vault operations: guards and wire shapes

TEST(VaultGuards, MissingObjectsIdsKindsAndStreamsRaiseToTheCaller) {
  TKofClient client;
  TKofAccount noId("a", "", "", "", "", "pw", "", "", "");
  TKofCreditCard card("c", "", "", "", "", "4111", "", "", "");
  card.SetId(5);
  TKofFile streamless("f", "", "", "", "", "f.txt", nullptr, false);
  streamless.SetId(5);
  std::int32_t id = 0;
  struct TCase {
    const char* Message;
    std::function<void()> Call;
  };
  const TCase cases[] = {
      {"Object is nil", [&] { static_cast<void>(client.Update(nullptr, false)); }},
      {"Object is nil", [&] { static_cast<void>(client.Delete(nullptr)); }},
      {"Object is nil", [&] { static_cast<void>(client.Add(0, static_cast<TKofObject*>(nullptr), id)); }},
      {"Object.Id = 0", [&] { static_cast<void>(client.Update(&noId, false)); }},
      {"Object.Id = 0", [&] { static_cast<void>(client.UpdatePassword(&noId)); }},
      {"Object must be Account or Secret Account", [&] { static_cast<void>(client.UpdatePassword(&card)); }},
      {"Stream not assigned", [&] { static_cast<void>(client.DownloadFile(&streamless, nullptr)); }},
      {"Stream not assigned", [&] { static_cast<void>(client.UploadFile(&streamless, nullptr)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Message);
    try {
      c.Call();
      ADD_FAILURE() << "no exception";
    } catch (const EKofError& e) {
      EXPECT_STREQ(e.what(), c.Message);
    }
    EXPECT_EQ(client.ErrorCode(), 0);
  }
}

TEST_F(ClientTest, MissingListsGiveFalseWithoutARequest) {
  Login();
  const std::size_t before = FServer.Requests().size();
  EXPECT_FALSE(FClient->GetSafeBoxes(0, nullptr, true, true, false));
  EXPECT_FALSE(FClient->GetRecords(1, nullptr, false, false, false));
  EXPECT_FALSE(FClient->GetRecordTags(1, static_cast<TDomainTagsList*>(nullptr)));
  EXPECT_FALSE(FClient->GetRecordTags(static_cast<std::vector<std::string>*>(nullptr), ""));
  EXPECT_FALSE(FClient->Search("x", nullptr));
  EXPECT_FALSE(FClient->SearchByNote("x", nullptr));
  EXPECT_FALSE(FClient->GetDeletedRecords(nullptr));
  EXPECT_FALSE(FClient->RemoveDeletedRecords(nullptr));
  EXPECT_EQ(FServer.Requests().size(), before);
}

TEST_F(ClientTest, BinChangesSendTheIdsUnderBoxesInListOrder) {
  Route("safe/deleted", "{}");
  Login();
  TIntegerList ids;
  ids.SetSorted(false);
  ids.Add(9);
  ids.Add(5);
  ASSERT_TRUE(FClient->RestoreDeletedRecords(&ids)) << FClient->ErrorMsg();
  ASSERT_TRUE(FClient->RemoveDeletedRecord(5)) << FClient->ErrorMsg();
  const auto sent = RequestsTo("safe/deleted");
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].Method, "PUT");
  EXPECT_EQ(sent[0].Body, R"({"boxes":[9,5]})");
  EXPECT_EQ(sent[1].Method, "DELETE");
  EXPECT_EQ(sent[1].Body, R"({"boxes":[5]})");
}

TEST_F(ClientTest, SearchByNoteKeepsPositiveWholeIdsWithTheirBox) {
  Route("safe/searchIdsByNote/vpn",
        R"({"recordIds":[{"id":11,"parentId":2},{"id":12},{"id":0,"parentId":3},7,-4,2.5,"13",{"id":1.5}]})");
  Login();
  TIntegerList ids;
  ASSERT_TRUE(FClient->SearchByNote("vpn", &ids)) << FClient->ErrorMsg();
  ASSERT_EQ(ids.Count(), 3);
  const struct {
    std::int32_t Id;
    std::uint32_t Box;
  } expected[] = {{7, 0}, {11, 2}, {12, 0xFFFFFFFFu}};
  for (const auto& e : expected) {
    const int index = ids.IndexOf(e.Id);
    ASSERT_GE(index, 0) << e.Id;
    EXPECT_EQ(ids.GetDWord(index), e.Box) << e.Id;
  }
}

TEST_F(ClientTest, AddAsksForTagCreationOnlyForATaggedRecord) {
  Route("safe/boxes/2/records", R"({"id":40})");
  Login();
  struct TCase {
    const char* Tags;
    bool Force;
    const char* Target;
  };
  const TCase cases[] = {
      {"mail", true, "/safe/boxes/2/records?forceCreateTags=true"},
      {"", true, "/safe/boxes/2/records"},
      {"mail", false, "/safe/boxes/2/records"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Tags) + (c.Force ? " forced" : ""));
    TKofAccount account("a", "", c.Tags, "", "", "pw", "", "", "");
    std::int32_t id = 0;
    ASSERT_TRUE(FClient->Add(2, &account, id, false, {}, c.Force)) << FClient->ErrorMsg();
    EXPECT_EQ(id, 40);
    EXPECT_EQ(RequestsTo("safe/boxes/2/records").back().Target, c.Target);
  }
}

// The body is the record's text as written: an account carries "site" twice
// (the record's, then the login's), which a JSON object value would keep once.
TEST_F(ClientTest, AddAndUpdateSendTheRecordTextByteForByte) {
  Route("safe/boxes/2/records", R"({"id":40})");
  Route("safe/records/40", "{}");
  Login();
  FClient->SetAccessCode("1234");
  TKofAccount account("a", "", "", "", "", "pw", "joe", "", "login.example");
  account.SetSite("record.example");
  std::int32_t id = 0;
  ASSERT_TRUE(FClient->Add(2, &account, id, false, {}, false)) << FClient->ErrorMsg();
  EXPECT_EQ(RequestsTo("safe/boxes/2/records").back().Body,
            R"({"template":"account","name":"a","description":"","tags":"","note":"","site":"record.example",)"
            R"("site":"login.example","password":"pw","passwordRe":"pw","loginName":"joe","serverAddress":"",)"
            R"("attributes":{"passwordPattern":""}})");
  account.SetId(40);
  ASSERT_TRUE(FClient->Update(&account, false)) << FClient->ErrorMsg();
  const TRawRequest put = RequestsTo("safe/records/40").back();
  EXPECT_EQ(put.Method, "PUT");
  EXPECT_EQ(put.Body,
            R"({"id":40,"template":"account","name":"a","description":"","tags":"","note":"","site":"record.example",)"
            R"("site":"login.example","loginName":"joe","serverAddress":"","attributes":{"passwordPattern":""}})");
}

TEST_F(ClientTest, FailedSecretReadKeepsNoObject) {
  Route("safe/records/21", R"({"record":{"id":21,"template":"account","name":"a"}})");
  Route("safe/records/21/passwords", [](const TRawRequest&) { return test::TextReply(503, "err,maintenance"); });
  Login();
  FClient->SetAccessCode("1234");
  EXPECT_FALSE(FClient->GetRecord(21, true, false));
  EXPECT_EQ(FClient->ErrorCode(), 503);
  EXPECT_NE(FClient->ErrorMsg().find("maintenance"), std::string::npos);
}

TEST_F(ClientTest, BrokenSecretAnswersFailWithoutCrashOrSecretInTheMessage) {
  struct Case {
    const char* name;
    const char* kind;  // of the record the caller holds
    std::string record;
    std::string passwords;
  } cases[] = {
      {"no record in the answer", "ccard", R"({"records":[]})", R"({"password":"x"})"},
      {"password answer cut off", "account", R"({"record":{"id":21,"template":"account","name":"a"}})",
       R"({"password":"s3cretValue)"},
  };
  Login();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Route("safe/records/21", c.record);
    Route("safe/records/21/passwords", c.passwords);
    FClient->SetAccessCode("1234");
    const std::unique_ptr<TKofObject> held =
        TKofObject::CreateObject(TJSONObject{{"id", 21}, {"template", c.kind}, {"name", "a"}}, nullptr);
    ASSERT_TRUE(held);
    EXPECT_FALSE(FClient->ReadSecretFields(held.get(), false, false));
    EXPECT_NE(FClient->ErrorCode(), 0);
    EXPECT_EQ(FClient->ErrorMsg().find("s3cret"), std::string::npos) << FClient->ErrorMsg();
  }
}

// A record whose own values do not decrypt must not pass for a good one, nor
// have its ciphertext written back; its passwords decrypt, so only the
// record's own reading can tell.
TEST_F(ClientTest, RecordThatDoesNotDecryptIsAFailureAndNeverWrittenBack) {
  TSaltyClientEncryption server;  // its key pair stands for the server's
  Route("public/api/status",
        R"({"product":"Koffra5","ceAlgorithm":"NaCL","cePublicKey":")" + server.ClientPublicKeyAsBase64() + "\"}");
  Login();
  ASSERT_TRUE(FClient->Status(true));
  ASSERT_TRUE(FClient->DecryptNaCL());
  const TPublicKey clientKey = FClient->NaCLEncryption()->GetClientPublicKey();
  const auto sealed = [&](std::string_view text) { return server.Encrypt(clientKey, text); };
  const std::string record = R"({"id":21,"template":")" + sealed("account") + R"(","name":"not a sealed value"})";
  Route("safe/records/21", R"({"record":)" + record + "}");
  Route("safe/records/21/passwords", R"({"password":")" + sealed("pw") + "\"}");
  FClient->SetAccessCode("1234");

  EXPECT_FALSE(FClient->GetRecord(21, true, false));
  EXPECT_EQ(FClient->ErrorCode(), kErrDecrypt);
  EXPECT_FALSE(FClient->GetRecord(21, false, false));
  EXPECT_EQ(FClient->ErrorCode(), kErrDecrypt);

  // Listed beside a record that decrypts, it is left out and counted: its name is ciphertext.
  const std::string good = R"({"id":22,"template":")" + sealed("account") + R"(","name":")" + sealed("Mail") + "\"}";
  Route("safe/boxes/2/records", R"({"records":[)" + record + "," + good + "]}");
  TKofList listed;
  ASSERT_TRUE(FClient->GetRecords(2, &listed, false, false, false)) << FClient->ErrorMsg();
  ASSERT_EQ(listed.Count(), 1);
  EXPECT_EQ(listed.Items(0)->Name(), "Mail");
  EXPECT_EQ(listed.Unreadable(), 1);
  EXPECT_EQ(FClient->ErrorCode(), kErrDecrypt);

  const std::unique_ptr<TKofObject> held = TKofObject::CreateObject(ParseKofJSON(record), FClient.get());
  ASSERT_TRUE(held->NeedsToBeDecrypted());
  EXPECT_FALSE(FClient->Update(held.get(), false));
  EXPECT_EQ(FClient->ErrorCode(), kErrDecrypt);
  EXPECT_FALSE(FClient->UpdatePassword(held.get()));
  std::int32_t id = 0;
  EXPECT_FALSE(FClient->Add(3, held.get(), id, true));
  for (const char* path : {"safe/records/21", "safe/records/21/passwords"})
    for (const auto& r : RequestsTo(path)) EXPECT_EQ(r.Method, "GET") << path;
  EXPECT_TRUE(RequestsTo("safe/boxes/3/records").empty());
}

// Operations that do not clear the error state first leave an earlier error
// in place when they succeed; those that do, end without one, also after a
// request that went through only on its repeat.
TEST_F(ClientTest, SuccessKeepsOrClearsAnEarlierErrorAsTheOperationSays) {
  Login();
  Route("safe/boxes", [](const TRawRequest&) { return test::TextReply(503, "err,maintenance"); });
  Route("public/api/user/config", R"({"username":"user","hasAccessCode":true})");
  Route("api/user/accesscode/new", "{}");
  Route("safe/fileSizeLimit", R"({"fileSizeLimit":1024})");
  const auto failBoxes = [&] {
    TKofList boxes;
    EXPECT_FALSE(FClient->GetSafeBoxes(0, &boxes, TSafeBoxesOptions{}));
    EXPECT_EQ(FClient->ErrorCode(), 503);
  };
  struct Case {
    const char* Name;
    std::function<bool()> Operation;
  };
  const Case keeping[] = {
      {"GetUserConfiguration", [&] { return FClient->GetUserConfiguration("", false); }},
      {"SetNewAccessCode", [&] { return FClient->SetNewAccessCode("4321"); }},
      {"GetFileSizeLimit", [&] { return FClient->GetFileSizeLimit() == 1024; }},
  };
  for (const auto& c : keeping) {
    SCOPED_TRACE(c.Name);
    failBoxes();
    EXPECT_TRUE(c.Operation());
    EXPECT_EQ(FClient->ErrorCode(), 503);
    EXPECT_NE(FClient->ErrorMsg().find("maintenance"), std::string::npos) << FClient->ErrorMsg();
  }

  failBoxes();
  int calls = 0;
  Route("safe/boxes", [&](const TRawRequest&) {
    return ++calls == 1 ? JsonReply(403, ErrorBody("m:AccessCodeValidator.missing"))
                        : JsonReply(200, R"({"safeboxes":[]})");
  });
  FClient->SetOnGetAccessCode([](SecureString& code, bool) {
    code.Assign("1234");
    return true;
  });
  TKofList boxes;
  EXPECT_TRUE(FClient->GetSafeBoxes(0, &boxes, TSafeBoxesOptions{})) << FClient->ErrorMsg();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(FClient->ErrorCode(), 0);
  EXPECT_EQ(FClient->ErrorKey(), "");
}

TEST(CheckSSL, TheLinkedEngineIsOpenSSL) {
  EXPECT_TRUE(TKofClient::CheckSSL("", false));
  std::string name;
  EXPECT_EQ(TKofClient::CheckSSLLib(1, name), 0);
  EXPECT_EQ(name.rfind("libcrypto", 0), 0u);
  EXPECT_EQ(TKofClient::CheckSSLLib(2, name), 0);
  EXPECT_EQ(name.rfind("libssl", 0), 0u);
}

}  // namespace
}  // namespace kof
