#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include "client/GWardenAPI.h"
#include "client/GWardenUtils.h"
#include "client/GWardenx64Support.h"
#include "support/KofJSON.h"
#include "tests/platform/KofTestConfigHome.h"
#include "tests/server/KofTestTls.h"
#include "tests/sso/KofSsoFixture.h"

namespace kof {
namespace {

using nlohmann::json;
using testserver::CertificateToDer;
using testserver::CertificateToPem;
using testserver::IssueClientCertificate;
using testserver::PrivateKeyToPem;
using testserver::TTlsIdentity;

const TTlsIdentity& Ca() {
  static const TTlsIdentity ca = testserver::GenerateSelfSigned();
  return ca;
}

std::string CertWith(const std::string& names) {
  return CertificateToDer(IssueClientCertificate(Ca(), "user", names).Cert.get());
}

TEST(GWardenFrame, LengthIsFourBytesLittleEndianBeforeTheMessage) {
  EXPECT_EQ(EncodeHostFrame("{\"sessionId\":1234}"), std::string("\x12\0\0\0", 4) + "{\"sessionId\":1234}");
  EXPECT_EQ(EncodeHostFrame(std::string(0x0102, 'x')).substr(0, 4), std::string("\x02\x01\0\0", 4));
}

TEST(GWardenFrame, OnlyACompleteFrameWithinTheBoundIsAMessage) {
  struct Case {
    const char* name;
    std::string bytes;
    std::optional<std::string> message;
  };
  const std::string big(kGWardenMaxAnswer + 1, 'x');
  const Case cases[] = {
      {"empty", "", std::nullopt},
      {"short length", std::string("\x02\0\0", 3), std::nullopt},
      {"claims more than it holds", std::string("\x05\0\0\0abc", 7), std::nullopt},
      {"exact", std::string("\x03\0\0\0abc", 7), "abc"},
      {"bytes after the frame are not the message", std::string("\x02\0\0\0abc", 7), "ab"},
      {"empty message", std::string("\0\0\0\0", 4), ""},
      {"larger than the bound", EncodeHostFrame(big), std::nullopt},
      {"length near 4 GiB", std::string("\xff\xff\xff\xff", 4) + "ab", std::nullopt},
  };
  for (const Case& c : cases) {
    const auto got = DecodeHostFrame(c.bytes);
    EXPECT_EQ(got.has_value(), c.message.has_value()) << c.name;
    if (got && c.message) {
      EXPECT_EQ(*got, *c.message) << c.name;
    }
  }
}

TEST(GWardenAnswer, StatusIsANumberOrATextHoldingOneElseDisconnected) {
  struct Case {
    std::string message;
    TGWardenStatus status;
  };
  const std::string deep = std::string(kMaxJSONDepth, '[') + std::string(kMaxJSONDepth, ']');
  const Case cases[] = {
      {R"({"status":3})", TGWardenStatus::gwAuthenticated},
      {R"({"status":"3"})", TGWardenStatus::gwAuthenticated},
      {R"({"status":1})", TGWardenStatus::gwConnecting},
      {R"({"status":"x"})", TGWardenStatus::gwDisconnected},
      {R"({"status":"3x"})", TGWardenStatus::gwDisconnected},
      {R"({"status":2.5})", TGWardenStatus::gwDisconnected},
      {R"({"status":259})", TGWardenStatus::gwDisconnected},  // not 3 by wrapping to a byte
      {R"({"status":-253})", TGWardenStatus::gwDisconnected},
      {R"({"status":18446744073709551363})", TGWardenStatus::gwDisconnected},  // -253 as a 64-bit pattern
      // Refused like any answer from outside nested beyond the parser's bound.
      {R"({"status":3,"x":)" + deep + "}", TGWardenStatus::gwDisconnected},
      {R"({"status":null})", TGWardenStatus::gwDisconnected},
      {R"({})", TGWardenStatus::gwDisconnected},
      {R"([3])", TGWardenStatus::gwDisconnected},
      {"not json", TGWardenStatus::gwDisconnected},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseHostAnswer(c.message).Status, c.status) << c.message;
}

TEST(GWardenAnswer, CertificateIsDecodedFromBase64AndRefusedWhenNotBase64) {
  EXPECT_EQ(ParseHostAnswer(R"({"cert":"AAEC"})").Certificate, std::string("\0\1\2", 3));
  EXPECT_FALSE(ParseHostAnswer(R"({"cert":"A!=="})").Certificate);
  EXPECT_FALSE(ParseHostAnswer(R"({"cert":12})").Certificate);
  EXPECT_FALSE(ParseHostAnswer("no object").Certificate);
}

TEST(GWardenCertificate, SubjectAlternativeNamesFillTheRecord) {
  const std::string der = CertWith(
      "otherName:2.5.4.3;UTF8:alice,otherName:1.3.6.1.1.16.1;UTF8:guid-1,otherName:2.5.4.49;UTF8:cn=alice.o=corp,"
      "otherName:2.5.4.45;UTF8:conn-7,otherName:2.5.4.72;UTF8:hwTokenPresent,email:alice@corp.test,IP:10.1.2.3,"
      "DNS:skipped.test,otherName:1.2.3.4;UTF8:skipped");
  TGWardenCertInfo info;
  info.StationKey = "kept";
  ASSERT_TRUE(ParseGWardenCertificate(der, info));
  EXPECT_EQ(info.Cn, "alice");
  EXPECT_EQ(info.Guid, "guid-1");
  EXPECT_EQ(info.Fdn, "cn=alice.o=corp");
  EXPECT_EQ(info.ConnectorId, "conn-7");
  EXPECT_TRUE(info.HwTokenPresent);
  EXPECT_EQ(info.Mail, "alice@corp.test");
  EXPECT_EQ(info.IpAddress, "10.1.2.3");
  EXPECT_EQ(info.StationKey, "kept");
}

TEST(GWardenCertificate, EdgeCasesOfTheReading) {
  TGWardenCertInfo info;
  info.Cn = "before";
  EXPECT_FALSE(ParseGWardenCertificate(CertWith("DNS:only.test"), info));
  EXPECT_FALSE(ParseGWardenCertificate(CertWith(""), info));
  EXPECT_FALSE(ParseGWardenCertificate(std::string("not a certificate"), info));
  EXPECT_FALSE(ParseGWardenCertificate(std::string(), info));
  EXPECT_EQ(info.Cn, "before");

  ASSERT_TRUE(ParseGWardenCertificate(CertWith("email:first@x.test,email:second@x.test"), info));
  EXPECT_EQ(info.Mail, "second@x.test");
  EXPECT_EQ(info.Cn, "before");  // names the certificate lacks keep their values

  info.HwTokenPresent = true;
  ASSERT_TRUE(ParseGWardenCertificate(CertWith("otherName:2.5.4.72;UTF8:HwTokenPresent"), info));
  EXPECT_FALSE(info.HwTokenPresent);
}

class GWardenQueryTest : public test::TConfigHomeTest {
 protected:
  void Install() {
    FStandIn.emplace(test::TSsoStandIn::Built(KOF_BUILD_DIR), Root() + "/sso");
  }
  TGWardenQueryResult Query(bool anyStatus = false) {
    return GWardenQuery(&FCert, FInfo, FStatus, anyStatus, {.Timeout = std::chrono::milliseconds(1500)});
  }
  void AnswerAsUser(const std::string& login, const json& status = 3) {
    const TTlsIdentity user = IssueClientCertificate(Ca(), login, "otherName:2.5.4.3;UTF8:" + login);
    FStandIn->AnswerWith(CertificateToPem(user.Cert.get()), PrivateKeyToPem(user.Key.get()), status);
    FExpectedDer = CertificateToDer(user.Cert.get());
  }

  std::optional<test::TSsoStandIn> FStandIn;
  std::string FCert = "untouched";
  std::string FExpectedDer;
  TGWardenCertInfo FInfo;
  TGWardenStatus FStatus = TGWardenStatus::gwAuthenticating;
};

TEST_F(GWardenQueryTest, WithoutTheRegistryEntryNothingIsStartedAndNothingTold) {
  std::string path = "x";
  EXPECT_NE(GetGWardenApiPath(path), 0);
  EXPECT_EQ(path, "");
  const TGWardenQueryResult result = Query();
  EXPECT_FALSE(result.Ok);
  EXPECT_FALSE(result.Installed);

  TKofRegistry registry(TRegRoot::LocalMachine);
  ASSERT_TRUE(registry.OpenKey(kGWardenKey, true));
  registry.WriteString("other", "/x");
  EXPECT_FALSE(Query().Installed);
  registry.WriteString(kGWardenApiValue, std::string(300, 'a'));
  EXPECT_NE(GetGWardenApiPath(path), 0);
  EXPECT_EQ(path, "");
  EXPECT_EQ(FCert, "untouched");
  EXPECT_EQ(FStatus, TGWardenStatus::gwAuthenticating);
}

TEST_F(GWardenQueryTest, AMissingHostProgramIsToldAndLeavesEverythingAsItWas) {
  Install();
  std::filesystem::remove(FStandIn->Folder() / kGWardenHostName);
  const TGWardenQueryResult result = Query();
  EXPECT_FALSE(result.Ok);
  EXPECT_TRUE(result.Installed);
  EXPECT_NE(result.Why.find("was not found"), std::string::npos) << result.Why;
  EXPECT_EQ(FCert, "untouched");
}

TEST_F(GWardenQueryTest, AnAuthenticatedClientHandsOutItsCertificateAndUser) {
  Install();
  AnswerAsUser("alice");
  const TGWardenQueryResult result = Query();
  ASSERT_TRUE(result.Ok) << result.Why;
  EXPECT_EQ(FStatus, TGWardenStatus::gwAuthenticated);
  EXPECT_EQ(FCert, FExpectedDer);
  EXPECT_EQ(FInfo.Cn, "alice");

  // The request: its length, then {"sessionId": N} with N from 1111 to 9999.
  const std::string request = FStandIn->Request();
  ASSERT_GE(request.size(), 4u);
  EXPECT_EQ(DecodeHostFrame(request)->size(), request.size() - 4);
  const json sent = json::parse(request.substr(4));
  ASSERT_EQ(sent.size(), 1u);
  const int id = sent.at("sessionId").get<int>();
  EXPECT_GE(id, 1111);
  EXPECT_LE(id, 9999);
}

TEST_F(GWardenQueryTest, AClientNotYetAuthenticatedFailsButTheCertificateIsKept) {
  Install();
  AnswerAsUser("alice", 2);
  const TGWardenQueryResult result = Query();
  EXPECT_FALSE(result.Ok);
  EXPECT_NE(result.Why.find("authenticating"), std::string::npos) << result.Why;
  EXPECT_EQ(FCert, FExpectedDer);
  EXPECT_EQ(FInfo.Cn, "");
  EXPECT_TRUE(Query(true).Ok);  // the state query of the session dialog takes any state
}

TEST_F(GWardenQueryTest, ACertificateWithoutUserNamesEmptiesTheRecordButTheQueryHolds) {
  Install();
  const TTlsIdentity user = IssueClientCertificate(Ca(), "x", "DNS:only.test");
  FStandIn->AnswerWith(CertificateToPem(user.Cert.get()), PrivateKeyToPem(user.Key.get()));
  FInfo.Cn = "stale";
  EXPECT_TRUE(Query().Ok);
  EXPECT_EQ(FInfo.Cn, "");
}

TEST_F(GWardenQueryTest, ACertificateWhoseKeyIsNotGivenWithItIsNotHandedOut) {
  Install();
  const TTlsIdentity user = IssueClientCertificate(Ca(), "alice", "otherName:2.5.4.3;UTF8:alice");
  const TTlsIdentity other = IssueClientCertificate(Ca(), "bob", "otherName:2.5.4.3;UTF8:bob");
  FStandIn->AnswerWith(CertificateToPem(user.Cert.get()), PrivateKeyToPem(other.Key.get()));
  EXPECT_TRUE(Query().Ok);
  EXPECT_EQ(FCert, "untouched");
}

TEST_F(GWardenQueryTest, EachMisbehaviourOfTheHostFailsWithinTheLimit) {
  Install();
  struct Case {
    const char* behaviour;
    bool installedOk;  // the exchange itself succeeded (state 0)
    const char* why;
  };
  const Case cases[] = {
      {"broken", false, "broken"},
      {"silent", false, "did not answer in time"},
      {"crash", false, "ended abnormally"},
      {"garbage", true, "disconnected"},
  };
  for (const Case& c : cases) {
    FStandIn->Answer({{"behaviour", c.behaviour}, {"status", 3}});
    FCert = "untouched";
    FStatus = TGWardenStatus::gwAuthenticating;
    const auto start = std::chrono::steady_clock::now();
    const TGWardenQueryResult result = Query();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << c.behaviour;
    EXPECT_FALSE(result.Ok) << c.behaviour;
    EXPECT_TRUE(result.Installed) << c.behaviour;
    EXPECT_NE(result.Why.find(c.why), std::string::npos) << c.behaviour << ": " << result.Why;
    EXPECT_EQ(FCert, "untouched") << c.behaviour;
    EXPECT_EQ(FStatus, c.installedOk ? TGWardenStatus::gwDisconnected : TGWardenStatus::gwAuthenticating)
        << c.behaviour;
  }
}

TEST_F(GWardenQueryTest, TheStateQueryOfAnEmptyAnswerIsDisconnected) {
  Install();
  FStandIn->Answer(json::object());
  EXPECT_TRUE(GWardenQuery(nullptr, FInfo, FStatus, true).Ok);
  EXPECT_EQ(FStatus, TGWardenStatus::gwDisconnected);
}

}  // namespace
}  // namespace kof
