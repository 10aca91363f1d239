// Status, catalogues, login, user state, access codes and the second factor.
#include <sodium.h>

#include <chrono>
#include <thread>

#include "tests/server/KofTestTotp.h"
#include "tests/server/KofTestWire.h"
#include "tests/serverflow/ServerFixture.h"

namespace kof::testserver::flow {
namespace {

using nlohmann::json;

class LoginTest : public ServerTest {};

std::string CurrentCode(const char* base32) {
  auto key = Base32Decode(base32);
  return TotpCode(*key, NowMs() / 1000);
}

TEST_F(LoginTest, StatusNamesTheProductWithoutKeyWhileEncryptionIsOff) {
  TApi api = NewApi();
  const json status = JsonOf(api.Get("/public/api/status"));
  EXPECT_EQ(status["product"], "Koffra5");
  EXPECT_EQ(status["version"], "5.3.12");
  EXPECT_TRUE(status["gmtTime"].is_number_integer());
  EXPECT_EQ(status["secondFactorRequired"], false);
  EXPECT_FALSE(status.contains("cePublicKey"));
}

TEST_F(LoginTest, StatusAnnouncesTheServerKeyWhenEncryptionIsOn) {
  TApi api = NewApi();
  Control(api, "POST", "/__control/settings", {{"clientEncryption", true}});
  const json status = JsonOf(api.Get("/public/api/status"));
  EXPECT_EQ(status["ceAlgorithm"], "NaCL");
  const std::string key = status.value("cePublicKey", "");
  EXPECT_EQ(key.size(), 44u);
  auto bytes = Base64Decode(key);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), 32u);
}

TEST_F(LoginTest, CataloguesExistForTheFourLanguagesOnly) {
  TApi api = NewApi();
  for (const char* lang : {"en", "cs", "de", "fr"}) {
    const json catalogue = JsonOf(api.Get(std::string("/public/api/messages/") + lang));
    ASSERT_TRUE(catalogue.is_object()) << lang;
    for (const char* key : {"login.failed", "AccessCodeValidator.invalid.password", "AccessCodeValidator.missing",
                            "AccessCode.banned", "err.secondfactor.invalid"})
      EXPECT_TRUE(catalogue.contains(key)) << lang << " " << key;
  }
  EXPECT_EQ(JsonOf(api.Get("/public/api/messages/en"))["err.box.notFound"], "Safe box {0} not found");
  EXPECT_EQ(api.Get("/public/api/messages/xx")->status, 404);
}

TEST_F(LoginTest, PasswordLoginAcceptsEveryFormOfTheLoginFields) {
  struct Case {
    const char* Name;
    const char* Body;
    int Status;
  } cases[] = {
      {"plain login", "login=john&password=secret%20pw", 200},
      {"domain in login", "username=tina&domain=CORP&login=CORP%5Ctina&password=pw", 200},
      {"domain case", "login=corp%5Ctina&password=pw", 200},
      {"SYSTEM is the default domain", "login=SYSTEM%5Cjohn&password=secret%20pw", 200},
      {"wrong password", "login=john&password=secret", 401},
      {"wrong domain", "login=OTHER%5Ctina&password=pw", 401},
      {"unknown user", "login=nobody&password=x", 401},
      {"user without password", "login=carl&password=", 401},
      {"no fields", "", 401},
  };
  for (const auto& c : cases) {
    TApi api = NewApi();
    auto result = api.Post("/api/login", c.Body);
    ASSERT_TRUE(result) << c.Name;
    EXPECT_EQ(result->status, c.Status) << c.Name;
    if (c.Status == 200) {
      EXPECT_EQ(JsonOf(result)["authenticated"], true) << c.Name;
      EXPECT_TRUE(result->has_header("Set-Cookie")) << c.Name;
    } else {
      EXPECT_EQ(ErrorKeyOf(result), "login.failed") << c.Name;
      EXPECT_FALSE(result->has_header("Set-Cookie")) << c.Name;
    }
  }
}

TEST_F(LoginTest, LoginAnswerCarriesRolesAndAccessCodeState) {
  TApi api = NewApi();
  const json status = JsonOf(api.Login("john", "secret%20pw"));
  EXPECT_EQ(status["uid"], "uid-john");
  EXPECT_EQ(status["KOF_USER"], true);
  EXPECT_EQ(status["AUDITOR"], true);
  EXPECT_EQ(status["KOF_ADMIN"], false);
  EXPECT_EQ(status["hasAccessCode"], true);
  EXPECT_EQ(status["accessCodeTimeout"], 300);
  EXPECT_EQ(status["secondFactorRequired"], false);
}

TEST_F(LoginTest, CertificateLoginMatchesTheSeededCertificateBytes) {
  TApi api = NewApi();
  const std::string good = "authCert=" + PercentEncode(kCarlCertificate) + "&clientName=TotalCmd%20plugin";
  auto result = api.Post("/api/certlogin", good);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(JsonOf(result)["authenticated"], true);
  EXPECT_EQ(api.Post("/api/certlogin", "authCert=" + PercentEncode(Base64Encode("other")))->status, 401);
  EXPECT_EQ(api.Post("/api/certlogin", "authCert=not*base64")->status, 401);
}

TEST_F(LoginTest, LoginStatusAndConfigurationFollowTheSession) {
  TApi api = NewApi();
  EXPECT_EQ(JsonOf(api.Get("/public/api/loginStatus"))["authenticated"], false);
  auto config = api.Get("/public/api/user/config");
  EXPECT_EQ(config->status, 401);
  EXPECT_EQ(ErrorKeyOf(config), "login.failed");

  api.Login("john", "secret%20pw");
  EXPECT_EQ(JsonOf(api.Get("/public/api/loginStatus"))["authenticated"], true);
  const json user = JsonOf(api.Get("/public/api/user/config"));
  EXPECT_EQ(user["username"], "john");
  EXPECT_EQ(user["domain"], "SYSTEM");
  EXPECT_EQ(user["lang"], "cs");
  EXPECT_EQ(user["hasAccessCode"], true);
  EXPECT_TRUE(user["accessCodeRequirements"].is_object());
}

TEST_F(LoginTest, InvitationLinkQueryFindsTheInvitedUser) {
  TApi api = NewApi();
  for (const char* path :
       {"/public/api?code=INV-1", "/public/api?code=code=INV-1", "/public/api?code=code=INV-1&x=1"}) {
    const json user = JsonOf(api.Get(path));
    EXPECT_EQ(user["username"], "ivan") << path;
    EXPECT_EQ(user["hasAccessCode"], false) << path;
  }
  auto bad = api.Get("/public/api?code=WRONG");
  EXPECT_EQ(bad->status, 404);
  EXPECT_EQ(ErrorKeyOf(bad), "err.invitation.invalid");
}

TEST_F(LoginTest, ExpiredSessionAnswersLoginFailed) {
  TApi api = LoggedIn();
  EXPECT_EQ(api.Get("/safe/boxes")->status, 200);
  EXPECT_EQ(Control(api, "POST", "/__control/expire-sessions")["expired"], 1);
  auto result = api.Get("/safe/boxes");
  EXPECT_EQ(result->status, 401);
  EXPECT_EQ(ErrorKeyOf(result), "login.failed");
  EXPECT_EQ(JsonOf(api.Get("/public/api/loginStatus"))["authenticated"], false);
}

TEST_F(LoginTest, IdleSessionExpiresAfterItsLifetime) {
  TApi api = LoggedIn();
  Control(api, "POST", "/__control/settings", {{"sessionTtlSeconds", 1}});
  EXPECT_EQ(api.Get("/safe/boxes")->status, 200);
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  EXPECT_EQ(ErrorKeyOf(api.Get("/safe/boxes")), "login.failed");
}

TEST_F(LoginTest, AccessCodeHeaderIsCheckedWhereverItIsSent) {
  struct Case {
    const char* Name;
    const char* Header;  // nullptr: no header
    int Status;
    const char* Key;
  } cases[] = {
      {"missing", nullptr, 403, "AccessCodeValidator.missing"},
      {"wrong", "9999", 403, "AccessCodeValidator.invalid.password"},
      {"right", "1234", 200, ""},
  };
  for (const auto& c : cases) {
    TApi api = LoggedIn();
    if (c.Header) api.SetAccessCode(c.Header);
    auto secret = api.Get("/safe/records/11/passwords");
    EXPECT_EQ(secret->status, c.Status) << c.Name;
    EXPECT_EQ(ErrorKeyOf(secret), c.Key) << c.Name;
    // Listings need no code, but a wrong one is refused there too.
    EXPECT_EQ(api.Get("/safe/boxes")->status, c.Header && c.Status != 200 ? 403 : 200) << c.Name;
  }
}

TEST_F(LoginTest, AccessCodeIsPercentDecoded) {
  TApi api = NewApi();
  api.Post("/api/certlogin", "authCert=" + PercentEncode(kCarlCertificate));
  api.SetAccessCode("a%26b%20c");
  // carl has no password records; the login status checks a presented code.
  auto status = api.Get("/public/api/loginStatus");
  EXPECT_EQ(status->status, 200);
  EXPECT_EQ(JsonOf(status)["authenticated"], true);
  api.SetAccessCode("a%26b");
  EXPECT_EQ(api.Get("/public/api/loginStatus")->status, 403);
}

TEST_F(LoginTest, AccessCodeIsBannedAfterTooManyWrongAttempts) {
  TApi api = LoggedIn();
  Control(api, "POST", "/__control/settings", {{"accessCodeMaxAttempts", 2}});
  api.SetAccessCode("0000");
  EXPECT_EQ(ErrorKeyOf(api.Get("/safe/records/11/passwords")), "AccessCodeValidator.invalid.password");
  EXPECT_EQ(ErrorKeyOf(api.Get("/safe/records/11/passwords")), "AccessCode.banned");
  api.SetAccessCode("1234");
  EXPECT_EQ(ErrorKeyOf(api.Get("/safe/records/11/passwords")), "AccessCode.banned");
}

TEST_F(LoginTest, NewAccessCodeReplacesTheOldOne) {
  TApi api = LoggedIn();
  auto mismatch = api.PostJson("/api/user/accesscode/new", {{"accesscode_new", "5678"}, {"accesscode_repeat", "5679"}});
  EXPECT_EQ(mismatch->status, 400);
  EXPECT_EQ(ErrorKeyOf(mismatch), "err.accesscode.mismatch");
  auto shortCode = api.PostJson("/api/user/accesscode/new", {{"accesscode_new", "12"}, {"accesscode_repeat", "12"}});
  EXPECT_EQ(ErrorKeyOf(shortCode), "err.accesscode.tooShort");
  EXPECT_EQ(
      api.PostJson("/api/user/accesscode/new", {{"accesscode_new", "5678"}, {"accesscode_repeat", "5678"}})->status,
      200);
  api.SetAccessCode("1234");
  EXPECT_EQ(api.Get("/safe/records/11/passwords")->status, 403);
  api.SetAccessCode("5678");
  EXPECT_EQ(api.Get("/safe/records/11/passwords")->status, 200);
}

TEST_F(LoginTest, SecondFactorGatesTheVaultUntilAValidCode) {
  TApi api = NewApi();
  auto login = api.Post("/api/login", "login=CORP%5Ctina&password=pw");
  EXPECT_EQ(JsonOf(login)["secondFactorRequired"], true);
  std::string cookie = login->get_header_value("Set-Cookie");
  cookie = cookie.substr(0, cookie.find(';'));
  const httplib::Headers session = {{"Cookie", cookie}};
  EXPECT_EQ(JsonOf(api.Get("/public/api/status", session))["secondFactorRequired"], true);
  EXPECT_EQ(api.Get("/public/api/user/config", session)->status, 200);
  auto gated = api.Get("/safe/boxes", session);
  EXPECT_EQ(gated->status, 403);
  EXPECT_EQ(ErrorKeyOf(gated), "err.secondfactor.required");

  auto wrong = api.Post("/api/user/secondfactor", "securityCode=000000", "application/x-www-form-urlencoded", session);
  EXPECT_EQ(wrong->status, 500);
  EXPECT_EQ(ErrorKeyOf(wrong), "err.secondfactor.invalid");
  auto right = api.Post("/api/user/secondfactor", "securityCode=" + CurrentCode(kTinaSecret),
                        "application/x-www-form-urlencoded", session);
  EXPECT_EQ(right->status, 200);
  EXPECT_EQ(api.Get("/safe/boxes", session)->status, 200);
  EXPECT_EQ(JsonOf(api.Get("/public/api/status", session))["secondFactorRequired"], false);
}

TEST_F(LoginTest, RegisteredSecondFactorIsAskedAtTheNextLogin) {
  TApi api = LoggedIn();
  const std::string key = "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ";
  const json answer = JsonOf(api.Post("/api/user/secondfactor-reg", "issuer=Koffra&account=john&key=" + key));
  const std::string uri = answer.value("secretKeyUri", "");
  EXPECT_EQ(uri.rfind("otpauth://totp/", 0), 0u) << uri;
  EXPECT_NE(uri.find("secret=" + key), std::string::npos) << uri;
  EXPECT_EQ(api.Post("/api/user/secondfactor", "securityCode=" + CurrentCode(key.c_str()) + "&key=" + key)->status,
            200);

  TApi again = NewApi();
  EXPECT_EQ(JsonOf(again.Login("john", "secret%20pw"))["secondFactorRequired"], true);
}

TEST_F(LoginTest, QrAnswerIsAPngCarryingTheUri) {
  TApi api = NewApi();
  auto result = api.Get("/public/api/qr?url=otpauth%3A%2F%2Ftotp%2FK%3Aj%3Fsecret%3DABC");
  ASSERT_EQ(result->status, 200);
  EXPECT_EQ(result->get_header_value("Content-Type"), "image/png");
  EXPECT_EQ(result->body.substr(0, 8), std::string("\x89PNG\r\n\x1a\n"));
  EXPECT_NE(result->body.find("otpauth://totp/K:j?secret=ABC"), std::string::npos);
  EXPECT_EQ(api.Get("/public/api/qr")->status, 400);
}

TEST_F(LoginTest, EncryptedAccessCodeOpensSecretsThatComeBackEncrypted) {
  TApi api = LoggedIn();
  Control(api, "POST", "/__control/settings", {{"clientEncryption", true}});
  auto serverKey = DecodeBoxKey(JsonOf(api.Get("/public/api/status"))["cePublicKey"].get<std::string>());
  ASSERT_TRUE(serverKey);
  TBoxKey pk{}, sk{};
  crypto_box_keypair(pk.data(), sk.data());
  // The client's side of the box: encrypt with our secret key for the server's public key.
  auto encryptForServer = [&](const std::string& plain) {
    unsigned char nonce[crypto_box_NONCEBYTES];
    randombytes_buf(nonce, sizeof nonce);
    std::string box(plain.size() + crypto_box_MACBYTES, '\0');
    EXPECT_EQ(crypto_box_easy(reinterpret_cast<unsigned char*>(box.data()),
                              reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), nonce,
                              serverKey->data(), sk.data()),
              0);
    return Base64Encode(std::string(reinterpret_cast<char*>(nonce), sizeof nonce)) + ":" + Base64Encode(box);
  };
  const std::string ourKey = Base64Encode(std::string(reinterpret_cast<char*>(pk.data()), pk.size()));
  httplib::Headers headers = {{"KOF-Access-Code", PercentEncode(encryptForServer("1234"))},
                              {"KOF-Encryption", "record"},
                              {"KOF-PublicKey", PercentEncode(ourKey)}};
  auto answer = api.Get("/safe/records/11/passwords", headers);
  ASSERT_EQ(answer->status, 200);
  const std::string text = JsonOf(answer)["password"];
  const auto colon = text.find(':');
  auto nonce = Base64Decode(text.substr(0, colon));
  auto box = Base64Decode(text.substr(colon + 1));
  ASSERT_TRUE(nonce && box);
  std::string plain(box->size() - crypto_box_MACBYTES, '\0');
  ASSERT_EQ(crypto_box_open_easy(reinterpret_cast<unsigned char*>(plain.data()),
                                 reinterpret_cast<const unsigned char*>(box->data()), box->size(),
                                 reinterpret_cast<const unsigned char*>(nonce->data()), serverKey->data(), sk.data()),
            0);
  EXPECT_EQ(plain, "pop3pw");

  headers.erase("KOF-Access-Code");
  headers.emplace("KOF-Access-Code", PercentEncode(encryptForServer("9999")));
  EXPECT_EQ(ErrorKeyOf(api.Get("/safe/records/11/passwords", headers)), "AccessCodeValidator.invalid.password");
  headers.erase("KOF-Access-Code");
  headers.emplace("KOF-Access-Code", "1234");  // clear text where an encrypted one is due
  EXPECT_EQ(ErrorKeyOf(api.Get("/safe/records/11/passwords", headers)), "AccessCodeValidator.invalid.password");
}

}  // namespace
}  // namespace kof::testserver::flow
