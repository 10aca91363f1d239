#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <optional>

#include "client/KofClients.h"
#include "support/KofText.h"
#include "tests/client/KofRawServer.h"
#include "tests/client/KofTestTLS.h"

namespace kof {
namespace {

class TLSTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { FCert = new test::TTestCertificate(test::MakeSelfSignedCertificate()); }
  static void TearDownTestSuite() { delete FCert; }

  TLSTest() : FServer(*FCert) {
    FServer.Server().Get("/ping", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(R"({"pong":true})", "application/json");
    });
    FServer.Server().Get("/public/api/status", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(R"({"product":"Koffra5"})", "application/json");
    });
    FServer.Start();
  }
  bool Ping(TRESTsend& http) {
    std::string answer;
    return http.Get(FServer.BaseURL() + "ping", &answer) && answer == R"({"pong":true})";
  }
  TBytes CABytes() const { return TBytes(FCert->DER.begin(), FCert->DER.end()); }

  static test::TTestCertificate* FCert;
  test::THttpsServer FServer;
  TRESTsend FHttp{nullptr, SecureString()};
};
test::TTestCertificate* TLSTest::FCert = nullptr;

TEST_F(TLSTest, WithoutVerificationAnyCertificateIsAcceptedOverOneConnection) {
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(Ping(FHttp)) << FHttp.LastErrorDesc();
  EXPECT_EQ(FHttp.ConnectionCount(), 1);
  EXPECT_NE(FHttp.SSL().PeerSubject().find("CN=127.0.0.1"), std::string::npos);
}

TEST_F(TLSTest, VerificationNeedsTheCAFromMemory) {
  FHttp.SSL().SetVerifyCert(true);
  EXPECT_FALSE(Ping(FHttp));
  EXPECT_NE(FHttp.LastError(), 0);
  FHttp.SSL().SetCertCABytes(CABytes());
  EXPECT_TRUE(Ping(FHttp)) << FHttp.LastErrorDesc();
  FHttp.SSL().SetCertCABytes({});
  FHttp.SSL().SetCertCA(FCert->DER);
  EXPECT_TRUE(Ping(FHttp)) << FHttp.LastErrorDesc();
}

TEST_F(TLSTest, BrokenCAInMemoryFailsTheRequest) {
  FHttp.SSL().SetVerifyCert(true);
  FHttp.SSL().SetCertCA("not a certificate");
  EXPECT_FALSE(Ping(FHttp));
}

TEST_F(TLSTest, ImprintDecidesWhichServerIsAccepted) {
  struct Case {
    const char* Name;
    bool Verify;
    std::string Imprint;
    bool Accepted;
  };
  const std::string sha1 = FCert->Digest(EVP_sha1());
  const std::string sha256 = FCert->Digest(EVP_sha256());
  std::string wrong = sha1;
  wrong[0] = static_cast<char>(wrong[0] ^ 1);
  const Case cases[] = {
      {"SHA-1 match", true, sha1, true},
      {"SHA-256 match", true, sha256, true},
      {"SHA-1 mismatch", true, wrong, false},
      {"19 bytes never match", true, sha1.substr(0, 19), false},
      {"pin without chain check, match", false, sha1, true},
      {"pin without chain check, mismatch", false, wrong, false},
  };
  for (const auto& c : cases) {
    TRESTsend http(nullptr, SecureString());
    http.SSL().SetVerifyCert(c.Verify);
    if (c.Verify) http.SSL().SetCertCABytes(CABytes());
    http.SSL().SetImprint(c.Imprint);
    EXPECT_EQ(Ping(http), c.Accepted) << c.Name << ": " << http.LastErrorDesc();
  }
}

TEST_F(TLSTest, ChangedPinIsCheckedOnTheOpenConnectionToo) {
  ASSERT_TRUE(Ping(FHttp));
  FHttp.SSL().SetImprint(std::string(20, 'x'));
  EXPECT_FALSE(Ping(FHttp));
}

TEST_F(TLSTest, ClientSettingsReachItsConnection) {
  TKofClient client(FServer.BaseURL(), TKofLanguage::koflngEnglish);
  client.SetCertCABytes(CABytes());
  EXPECT_TRUE(client.VerifyCertificate());
  client.SetImprint(std::string(20, 'x'));
  EXPECT_FALSE(client.Status(true));
  EXPECT_NE(client.ErrorCode(), 0);
  EXPECT_EQ(client.ErrorMsg(), "Getting Koffra server status failed. This is probably not a valid Koffra URL.");
  client.SetImprint(FCert->Digest(EVP_sha256()));
  EXPECT_TRUE(client.Status(true)) << client.ErrorMsg();
  EXPECT_NE(client.CertifPubKey().find("127.0.0.1"), std::string::npos);
}

// What the last handshake saw, so a caller can tell an untrusted server from
// a changed pin and from any other failure.
TEST_F(TLSTest, HandshakeRecordsTheCertificateAndWhyItWasRefused) {
  struct Case {
    const char* Name;
    bool Verify;
    bool WrongPin;
    bool Accepted;
    bool NotVerified;
    bool PinRefused;
  };
  const Case cases[] = {
      {"no checks", false, false, true, false, false},
      {"chain not trusted", true, false, false, true, false},
      {"pin does not match", false, true, false, false, true},
  };
  for (const auto& c : cases) {
    TRESTsend http(nullptr, SecureString());
    http.SSL().SetVerifyCert(c.Verify);
    if (c.WrongPin) http.SSL().SetImprint(std::string(32, 'x'));
    EXPECT_EQ(Ping(http), c.Accepted) << c.Name;
    EXPECT_EQ(http.SSL().PeerDigest(), FCert->Digest(EVP_sha256())) << c.Name;
    EXPECT_EQ(http.SSL().NotVerified(), c.NotVerified) << c.Name;
    EXPECT_EQ(http.SSL().WhyNotVerified().empty(), !c.NotVerified) << c.Name << ": " << http.SSL().WhyNotVerified();
    EXPECT_EQ(http.SSL().PinRefused(), c.PinRefused) << c.Name;
    // A later failure that never reaches a handshake is not blamed on the certificate.
    EXPECT_FALSE(http.Get("https://127.0.0.1:1/ping", nullptr)) << c.Name;
    EXPECT_FALSE(http.SSL().NotVerified()) << c.Name;
    EXPECT_FALSE(http.SSL().PinRefused()) << c.Name;
  }
}

TEST_F(TLSTest, TheClientsRequestObjectShowsTheFingerprint) {
  TKofClient client(FServer.BaseURL(), TKofLanguage::koflngEnglish);
  client.SetVerifyCertificate(true);
  EXPECT_FALSE(client.Status(true));
  ASSERT_NE(client.HTTP(), nullptr);
  const std::string digest = FCert->Digest(EVP_sha256());
  std::string expected;
  for (const unsigned char byte : digest) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X", byte);
    expected += (expected.empty() ? "" : ":") + std::string(pair);
  }
  EXPECT_EQ(client.HTTP()->SSL().PeerFingerprint(), expected);
  EXPECT_TRUE(client.HTTP()->SSL().NotVerified());
  EXPECT_EQ(TKofOpenSSL::Sha256FromFingerprint(expected), digest);
}

// What a verifying client says about certificates it refuses, each served by
// a server of its own and trusted as its own CA unless it is the untrusted case.
TEST(CertificateProblems, AreNamedAndACommonNameAloneIsNoName) {
  struct Case {
    const char* Name;
    test::TCertificateShape Shape;
    bool Trusted;
    unsigned Problems;
  };
  const Case cases[] = {
      {"trusted, name in the subjectAltName", {}, true, 0},
      {"trusted, name only in the common name", {.AltName = false}, true, TKofOpenSSL::cpWrongName},
      {"not trusted", {}, false, TKofOpenSSL::cpSelfSigned},
      {"trusted, expired", {.ValidFromSec = -7200, .ValidToSec = -3600}, true, TKofOpenSSL::cpExpired},
      {"trusted, not valid yet", {.ValidFromSec = 3600, .ValidToSec = 7200}, true, TKofOpenSSL::cpNotYetValid},
      {"not trusted, expired",
       {.ValidFromSec = -7200, .ValidToSec = -3600},
       false,
       TKofOpenSSL::cpSelfSigned | TKofOpenSSL::cpExpired},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const test::TTestCertificate cert = test::MakeSelfSignedCertificate(c.Shape);
    test::THttpsServer server(cert);
    server.Server().Get("/ping", [](const httplib::Request&, httplib::Response& res) { res.set_content("{}", "x/y"); });
    server.Start();
    TRESTsend http(nullptr, SecureString());
    http.SSL().SetVerifyCert(true);
    if (c.Trusted) http.SSL().SetCertCA(cert.DER);
    std::string answer;
    EXPECT_EQ(http.Get(server.BaseURL() + "ping", &answer), c.Problems == 0) << http.LastErrorDesc();
    EXPECT_EQ(http.SSL().Problems(), c.Problems) << http.SSL().WhyNotVerified();
    if (c.Problems != 0) {
      EXPECT_EQ(http.LastError(), rfNotVerified);
    }
  }
}

TEST(CertificateProblems, ReadAsTheUserSeesThem) {
  const test::TTestCertificate cert = test::MakeSelfSignedCertificate({.AltName = false, .ValidToSec = -60});
  test::THttpsServer server(cert);
  server.Start();
  TRESTsend http(nullptr, SecureString());
  http.SSL().SetVerifyCert(true);
  EXPECT_FALSE(http.Get(server.BaseURL() + "ping", nullptr));
  EXPECT_EQ(http.SSL().WhyNotVerified(),
            "it is self-signed, it has expired, it is issued for another name than 127.0.0.1");
}

// A checked certificate would mean nothing over plain http, so such a
// connection never sends a byte there; an address without a scheme is https.
TEST_F(TLSTest, CheckedConnectionsNeverSpeakPlainHttp) {
  std::atomic<int> plainRequests{0};
  test::TRawServer plain([&](const test::TRawRequest&) {
    ++plainRequests;
    return test::JsonReply(200, "{}");
  });
  struct Case {
    const char* Name;
    bool Verify;
    std::string Imprint;
  };
  const Case cases[] = {
      {"pinned", false, FCert->Digest(EVP_sha256())},
      {"verified", true, ""},
  };
  for (const auto& c : cases) {
    TRESTsend http(nullptr, SecureString());
    http.SSL().SetVerifyCert(c.Verify);
    http.SSL().SetImprint(c.Imprint);
    EXPECT_FALSE(http.Get(plain.BaseURL() + "ping", nullptr)) << c.Name;
    EXPECT_EQ(http.LastError(), rfUnsupportedProtocol) << c.Name;
    EXPECT_NE(http.LastErrorDesc().find("http://"), std::string::npos) << c.Name << ": " << http.LastErrorDesc();
  }
  EXPECT_EQ(plainRequests, 0);

  const std::string withoutScheme = FServer.BaseURL().substr(std::string("https://").size());
  std::string answer;
  EXPECT_TRUE(FHttp.Get(withoutScheme + "ping", &answer)) << FHttp.LastErrorDesc();
  EXPECT_EQ(answer, R"({"pong":true})");
}

TEST(Fingerprint, TextAndDigestConvert) {
  EXPECT_EQ(TKofOpenSSL::FingerprintText(std::string("\x0a\xff\x00", 3)), "0A:FF:00");
  EXPECT_EQ(TKofOpenSSL::FingerprintText(""), "");
  const std::string digest(32, '\xab');
  struct Case {
    const char* Name;
    std::string Text;
    bool Valid;
  };
  const std::string pairs = TKofOpenSSL::FingerprintText(digest);
  const Case cases[] = {
      {"upper case with colons", pairs, true},
      {"lower case without separators", LowerCase(ReplaceAll(pairs, ":", "")), true},
      {"blanks between pairs", ReplaceAll(pairs, ":", " "), true},
      {"one pair short", pairs.substr(3), false},
      {"one pair too many", pairs + ":AB", false},
      {"not hex", ReplaceAll(pairs, "B", "G"), false},
      {"separator inside a pair", "A:B" + pairs.substr(2), false},
      {"empty", "", false},
  };
  for (const auto& c : cases) {
    const std::optional<std::string> parsed = TKofOpenSSL::Sha256FromFingerprint(c.Text);
    EXPECT_EQ(parsed.value_or(""), c.Valid ? digest : "") << c.Name;
  }
}

TEST(ImprintMatches, ComparesByLength) {
  const auto cert = test::MakeSelfSignedCertificate();
  EXPECT_TRUE(TKofOpenSSL::ImprintMatches(cert.Digest(EVP_sha1()), cert.DER));
  EXPECT_TRUE(TKofOpenSSL::ImprintMatches(cert.Digest(EVP_sha256()), cert.DER));
  EXPECT_FALSE(TKofOpenSSL::ImprintMatches(cert.Digest(EVP_sha512()), cert.DER));
  EXPECT_FALSE(TKofOpenSSL::ImprintMatches(cert.Digest(EVP_sha1()), "garbage"));
}

}  // namespace
}  // namespace kof
