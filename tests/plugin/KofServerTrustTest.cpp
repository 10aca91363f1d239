#include "plugin/KofServerTrust.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/KofClients.h"
#include "sessions/PluginKofSessions5.h"
#include "tests/serverflow/ServerProcess.h"
#include "tests/serverflow/TestSeeds.h"

namespace kof {
namespace {

using testserver::flow::TServerProcess;

// A running test server and what its certificate looks like from outside.
struct TServer {
  std::unique_ptr<TServerProcess> Process;
  std::string DER;
  std::string Fingerprint;  // SHA-256, "AB:CD:..."
  std::string URL() const { return "https://127.0.0.1:" + std::to_string(Process->Port()) + "/"; }
};

TServer StartServer() {
  TServer server{std::make_unique<TServerProcess>(testserver::flow::BasicSeed()), {}, {}};
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(server.Process->CertFile().c_str(), "r"), &BIO_free);
  std::unique_ptr<X509, decltype(&X509_free)> cert(
      bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr, &X509_free);
  if (!cert) throw std::runtime_error("cannot read " + server.Process->CertFile());
  unsigned char* der = nullptr;
  const int length = i2d_X509(cert.get(), &der);
  server.DER.assign(reinterpret_cast<char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  X509_digest(cert.get(), EVP_sha256(), digest, &digestLength);
  server.Fingerprint = TKofOpenSSL::FingerprintText(std::string(reinterpret_cast<char*>(digest), digestLength));
  return server;
}

// Answers every question the same way and keeps what was asked.
struct TAsker {
  bool Answer = false;
  std::vector<std::string> Questions;
  std::string Title = kServerCertificateTitle;
  TAskYesNo Callback() {
    return [this](const std::string& title, const std::string& question) {
      EXPECT_EQ(title, Title);
      Questions.push_back(question);
      return Answer;
    };
  }
};

std::unique_ptr<TKofSession> NewSession(const std::string& url, const std::string& pin = {}) {
  TKofIniFile ini;
  ini.WriteString(kSessionSection, "URL", url);
  std::unique_ptr<TKofSession> session = TKofSession::Load(nullptr, "Work", ini);
  session->SetCertificatePin(pin);
  return session;
}

class ServerTrustTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { FServer = std::make_unique<TServer>(StartServer()); }
  static void TearDownTestSuite() { FServer.reset(); }

  // One login of a fresh client, as the panel makes it.
  TTrustResult Login(TKofSession& session, TAsker& asker, TKofClient* client = nullptr) {
    TKofClient own(session.URL(), TKofLanguage::koflngEnglish);
    return StatusWithTrustedServer(client ? *client : own, session, asker.Callback());
  }

  static inline std::unique_ptr<TServer> FServer;
};

TEST_F(ServerTrustTest, UnverifiedCertificateIsShownAndPinnedOnlyOnYes) {
  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "Yes" : "No");
    std::unique_ptr<TKofSession> session = NewSession(FServer->URL());
    TAsker asker{yes, {}};
    const TTrustResult result = Login(*session, asker);
    ASSERT_EQ(asker.Questions.size(), 1u);
    EXPECT_NE(asker.Questions[0].find("CN=127.0.0.1"), std::string::npos) << asker.Questions[0];
    EXPECT_NE(asker.Questions[0].find(FServer->Fingerprint), std::string::npos) << asker.Questions[0];
    EXPECT_NE(asker.Questions[0].find("could not be verified: it is self-signed."), std::string::npos)
        << asker.Questions[0];
    EXPECT_EQ(result.Ok, yes) << result.Message;
    EXPECT_EQ(result.PinAdded, yes);
    EXPECT_EQ(session->Modified(), yes);
    EXPECT_EQ(session->CertificatePin(), yes ? FServer->Fingerprint : "");
    if (!yes) {
      EXPECT_EQ(result.Title, kServerCertificateTitle);
      EXPECT_NE(result.Message.find("not trusted"), std::string::npos) << result.Message;
    }
  }
}

TEST_F(ServerTrustTest, PinnedCertificateIsAcceptedWithoutAQuestion) {
  std::unique_ptr<TKofSession> session = NewSession(FServer->URL(), FServer->Fingerprint);
  TAsker asker{false, {}};
  TKofClient client(session->URL(), TKofLanguage::koflngEnglish);
  const TTrustResult result = Login(*session, asker, &client);
  EXPECT_TRUE(result.Ok) << result.Message;
  EXPECT_TRUE(asker.Questions.empty());
  EXPECT_FALSE(result.PinAdded);
  EXPECT_FALSE(session->Modified());
  // The pin keeps guarding the connection the panel goes on using: another server is refused.
  EXPECT_TRUE(client.Status()) << client.ErrorMsg();
  const TServer other = StartServer();
  client.SetBaseURL(other.URL());
  EXPECT_FALSE(client.Status());
}

TEST_F(ServerTrustTest, ChangedCertificateIsRefusedNamingBothFingerprints) {
  const TServer other = StartServer();
  ASSERT_NE(other.Fingerprint, FServer->Fingerprint);
  std::unique_ptr<TKofSession> session = NewSession(other.URL(), FServer->Fingerprint);
  TAsker asker{true, {}};
  const TTrustResult result = Login(*session, asker);
  EXPECT_FALSE(result.Ok);
  EXPECT_TRUE(asker.Questions.empty());
  EXPECT_EQ(result.Title, kServerCertificateTitle);
  EXPECT_NE(result.Message.find(FServer->Fingerprint), std::string::npos) << result.Message;
  EXPECT_NE(result.Message.find(other.Fingerprint), std::string::npos) << result.Message;
  EXPECT_EQ(session->CertificatePin(), FServer->Fingerprint);
  EXPECT_FALSE(session->Modified());
}

// A trusted CA vouches only for the names in the certificate: another name
// of the same host is a question for the user like any unverified chain.
TEST_F(ServerTrustTest, TrustedCAIsEnoughOnlyForTheCertificatesOwnName) {
  struct Case {
    const char* Host;
    bool Asked;
  };
  for (const Case& c : {Case{"127.0.0.1", false}, Case{"localhost", true}}) {
    SCOPED_TRACE(c.Host);
    std::unique_ptr<TKofSession> session =
        NewSession("https://" + std::string(c.Host) + ":" + std::to_string(FServer->Process->Port()) + "/");
    TAsker asker{true, {}};
    TKofClient client(session->URL(), TKofLanguage::koflngEnglish);
    client.SetCertCA(FServer->DER);
    const TTrustResult result = Login(*session, asker, &client);
    EXPECT_TRUE(result.Ok) << result.Message;
    ASSERT_EQ(asker.Questions.size(), c.Asked ? 1u : 0u);
    EXPECT_EQ(session->CertificatePin(), c.Asked ? FServer->Fingerprint : "");
    if (c.Asked) {
      EXPECT_NE(asker.Questions[0].find("it is issued for another name than localhost"), std::string::npos)
          << asker.Questions[0];
    }
  }
}

TEST_F(ServerTrustTest, OtherFailuresAreNotQuestionsAboutTheCertificate) {
  struct Case {
    const char* Name;
    std::string URL;
    std::string Pin;
    bool CertificateTitle;
  };
  const Case cases[] = {
      {"nobody listens", "https://127.0.0.1:1/", "", false},
      {"stored pin is no fingerprint", FServer->URL(), "12:34", true},
  };
  for (const auto& c : cases) {
    std::unique_ptr<TKofSession> session = NewSession(c.URL, c.Pin);
    TAsker asker{true, {}};
    TKofClient client(session->URL(), TKofLanguage::koflngEnglish);
    const TTrustResult result = Login(*session, asker, &client);
    EXPECT_FALSE(result.Ok) << c.Name;
    EXPECT_TRUE(asker.Questions.empty()) << c.Name;
    EXPECT_FALSE(result.PinAdded) << c.Name;
    EXPECT_EQ(session->CertificatePin(), c.Pin) << c.Name;
    EXPECT_FALSE(result.Message.empty()) << c.Name;
    EXPECT_EQ(result.Title, c.CertificateTitle ? kServerCertificateTitle : "") << c.Name << ": " << result.Message;
    // Failures of the connection keep the client's own words.
    if (!c.CertificateTitle) {
      EXPECT_EQ(result.Message, client.ErrorMsg()) << c.Name;
    }
  }
}

// Plain http shows no certificate: the user is asked once per session and
// address, and a session that trusts a certificate never goes there.
TEST_F(ServerTrustTest, PlainHttpIsAskedAboutOnceAndNeverUsedWithAPin) {
  const std::string plain = "http://127.0.0.1:" + std::to_string(FServer->Process->Port()) + "/";
  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "Yes" : "No");
    std::unique_ptr<TKofSession> session = NewSession(plain);
    TAsker asker{yes, {}, kPlainHttpTitle};
    TKofClient client(session->URL(), TKofLanguage::koflngEnglish);
    const TTrustResult result = Login(*session, asker, &client);
    ASSERT_EQ(asker.Questions.size(), 1u);
    EXPECT_NE(asker.Questions[0].find("passwords and records will travel unencrypted"), std::string::npos)
        << asker.Questions[0];
    EXPECT_EQ(result.PlainHttpAccepted, yes);
    EXPECT_EQ(result.SessionChanged(), yes);
    EXPECT_EQ(session->Modified(), yes);
    EXPECT_EQ(session->PlainHttpURL(), yes ? plain : "");
    // The server there speaks TLS, so even an accepted address fails here; a refused one is never tried.
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(client.HTTP() != nullptr, yes);
    if (!yes) {
      EXPECT_EQ(result.Title, kPlainHttpTitle);
      EXPECT_NE(result.Message.find("https://"), std::string::npos) << result.Message;
    }
    // Asked once: the answer stands for the session and this address.
    TAsker again{false, {}, kPlainHttpTitle};
    static_cast<void>(Login(*session, again));
    EXPECT_EQ(again.Questions.size(), yes ? 0u : 1u);
  }

  std::unique_ptr<TKofSession> elsewhere = NewSession(plain);
  elsewhere->SetPlainHttpURL("http://127.0.0.1:1/");
  TAsker asker{false, {}, kPlainHttpTitle};
  static_cast<void>(Login(*elsewhere, asker));
  EXPECT_EQ(asker.Questions.size(), 1u) << "an answer for another address";

  std::unique_ptr<TKofSession> pinned = NewSession(plain, FServer->Fingerprint);
  pinned->SetPlainHttpURL(plain);
  TAsker never{true, {}, kPlainHttpTitle};
  TKofClient client(pinned->URL(), TKofLanguage::koflngEnglish);
  const TTrustResult result = Login(*pinned, never, &client);
  EXPECT_FALSE(result.Ok);
  EXPECT_TRUE(never.Questions.empty());
  EXPECT_EQ(client.HTTP(), nullptr) << "nothing was sent";
  EXPECT_EQ(result.Title, kPlainHttpTitle);
  EXPECT_NE(result.Message.find("trusts a certificate"), std::string::npos) << result.Message;
}

}  // namespace
}  // namespace kof
