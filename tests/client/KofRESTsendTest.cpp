#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "client/KofRESTsend.h"
#include "crypto/KofUrlEncode.h"
#include "tests/client/KofRawServer.h"

namespace kof {
namespace {

using test::JsonReply;
using test::TRawRequest;
using test::TRawServer;
using test::TReply;

class RequestLayerTest : public ::testing::Test {
 protected:
  RequestLayerTest() : FServer([](const TRawRequest&) { return JsonReply(200, R"({"ok":true})"); }) {}

  std::string Url(const std::string& path) const { return FServer.BaseURL() + path; }
  TRawRequest Last() const {
    const auto requests = FServer.Requests();
    return requests.empty() ? TRawRequest{} : requests.back();
  }

  TRawServer FServer;
  TRESTsend FHttp{nullptr, SecureString("a&b c")};
  std::string FAnswer = "left over from before";
  const TDownloadSink FDiscard{{}, [](const char*, std::size_t) { return true; }};
};

// File content handed out in pieces of at most PIECE bytes, as a file read through a small buffer.
TUploadSource SourceOf(const std::string& AData, std::size_t APiece) {
  return {static_cast<std::int64_t>(AData.size()), [&AData, APiece](std::int64_t AOffset, char* ABuffer, std::size_t ALen) {
            const std::size_t n = std::min({ALen, APiece, AData.size() - static_cast<std::size_t>(AOffset)});
            std::copy_n(AData.data() + AOffset, n, ABuffer);
            return static_cast<std::int64_t>(n);
          }};
}

TEST_F(RequestLayerTest, GetSendsFixedHeadersAndPlainAccessCode) {
  ASSERT_TRUE(FHttp.Get(Url("safe/boxes"), &FAnswer));
  EXPECT_EQ(FAnswer, R"({"ok":true})");
  const TRawRequest r = Last();
  EXPECT_EQ(r.Method, "GET");
  EXPECT_EQ(r.Head.substr(0, r.Head.find("\r\n")), "GET /safe/boxes HTTP/1.1");
  EXPECT_EQ(*r.Header("Accept"), "application/json");
  EXPECT_EQ(*r.Header("KOF-Access-Code"), "a%26b%20c");
  EXPECT_EQ(*r.Header("Connection"), "keep-alive");
  EXPECT_EQ(*r.Header("Keep-Alive"), "300");
  EXPECT_EQ(*r.Header("User-Agent"), TRESTsend::kUserAgent);
  EXPECT_EQ(r.Header("Content-Type"), nullptr);
  EXPECT_EQ(r.Header("Cookie"), nullptr);
  EXPECT_EQ(FHttp.ResultCode(), 200);
  EXPECT_EQ(FHttp.MimeType(), "application/json");
}

TEST_F(RequestLayerTest, AccessCodeHeaderFollowsThePreparationRules) {
  struct Case {
    const char* Name;
    std::function<bool(TRESTsend&)> Send;
    bool ExpectAccessCode;
  };
  TBodyStringList form;
  form.Add("a", "1");
  const Case cases[] = {
      {"Get without access code", [&](TRESTsend& h) { return h.Get(Url("x"), nullptr, false); }, false},
      {"Put without access code", [&](TRESTsend& h) { return h.Put(Url("x"), nullptr, nullptr, false); }, false},
      {"GetFileTo", [&](TRESTsend& h) { return h.GetFileTo(Url("x"), form, FDiscard, nullptr); }, false},
      {"PostCert", [&](TRESTsend& h) { return h.PostCert(Url("x"), form, nullptr); }, false},
      {"Delete", [&](TRESTsend& h) { return h.Delete(Url("x"), nullptr); }, true},
      {"OpenOptions", [&](TRESTsend& h) { return h.OpenOptions(Url("x"), &form, nullptr, true); }, true},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(c.Send(FHttp)) << c.Name;
    EXPECT_EQ(Last().Header("KOF-Access-Code") != nullptr, c.ExpectAccessCode) << c.Name;
  }
  FHttp.ClearAccessCode();
  ASSERT_TRUE(FHttp.Get(Url("x"), nullptr));
  EXPECT_EQ(Last().Header("KOF-Access-Code"), nullptr);
}

TEST_F(RequestLayerTest, TextResponseAsksForPlainTextOnce) {
  FHttp.SetTextResponse(true);
  ASSERT_TRUE(FHttp.Get(Url("a"), nullptr));
  EXPECT_EQ(*Last().Header("Accept"), "text/plain");
  ASSERT_TRUE(FHttp.Get(Url("b"), nullptr));
  EXPECT_EQ(*Last().Header("Accept"), "application/json");
}

TEST_F(RequestLayerTest, BodiesAreSentByteForByte) {
  struct Case {
    const char* Name;
    std::function<bool(TRESTsend&)> Send;
    const char* Method;
    const char* Body;
    const char* ContentType;  // nullptr: no such header
  };
  TBodyStringList login;
  login.Add("login", "dom\\user");
  login.Add("password", "p&ss= \xC5\x99");
  TBodyStringList raw;
  raw.Add("KOF-Access-Code", "a%2B");
  raw.Add("KOF-Encryption", "record");
  const std::string json = R"({"name":"Box \u0159"})";
  const Case cases[] = {
      {"form, values encoded", [&](TRESTsend& h) { return h.Post(Url("api/login"), login, nullptr); }, "POST",
       "login=dom%5Cuser&password=p%26ss%3D%20%C5%99", "application/x-www-form-urlencoded"},
      {"certificate form", [&](TRESTsend& h) { return h.PostCert(Url("api/certlogin"), login, nullptr); }, "POST",
       "login=dom%5Cuser&password=p%26ss%3D%20%C5%99", "application/x-www-form-urlencoded"},
      {"download form, values as they are", [&](TRESTsend& h) { return h.GetFileTo(Url("d"), raw, FDiscard, nullptr); },
       "POST",
       "KOF-Access-Code=a%2B&KOF-Encryption=record", "application/x-www-form-urlencoded"},
      {"JSON bytes", [&](TRESTsend& h) { return h.Post(Url("p"), &json, nullptr); }, "POST", json.c_str(),
       "application/json"},
      {"no bytes", [&](TRESTsend& h) { return h.Post(Url("p"), nullptr, nullptr); }, "POST", "", nullptr},
      {"put without body", [&](TRESTsend& h) { return h.Put(Url("p"), nullptr, nullptr); }, "PUT", "", nullptr},
      {"put JSON", [&](TRESTsend& h) { return h.OpenPut(Url("p"), &json, nullptr); }, "PUT", json.c_str(),
       "application/json"},
      {"delete with body", [&](TRESTsend& h) { return h.Delete(Url("safe/deleted"), R"({"boxes":[1]})", nullptr); },
       "DELETE", R"({"boxes":[1]})", "application/json"},
      {"delete without body", [&](TRESTsend& h) { return h.Delete(Url("safe/records/1"), nullptr); }, "DELETE", "",
       nullptr},
      {"options form", [&](TRESTsend& h) { return h.Options(Url("o"), &login, nullptr, true); }, "OPTIONS",
       "login=dom%5Cuser&password=p%26ss%3D%20%C5%99", "application/x-www-form-urlencoded"},
      {"options without body", [&](TRESTsend& h) { return h.OpenOptions(Url("o"), nullptr, nullptr, false); },
       "OPTIONS", "", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_TRUE(c.Send(FHttp));
    const TRawRequest r = Last();
    EXPECT_EQ(r.Method, c.Method);
    EXPECT_EQ(r.Body, c.Body);
    EXPECT_EQ(r.HeaderCount("Content-Type"), c.ContentType ? 1 : 0);
    if (c.ContentType && r.Header("Content-Type")) {
      EXPECT_EQ(*r.Header("Content-Type"), c.ContentType);
    }
    EXPECT_EQ(r.Header("Expect"), nullptr);
  }
}

TEST_F(RequestLayerTest, MultipartUploadHasTheExactLayout) {
  struct Case {
    std::string Data;
    std::size_t Piece;  // most bytes the source hands out at once
  };
  std::string large(300000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7);
  const Case cases[] = {{std::string("bin\0ary\r\n--x", 13), 3}, {std::string(), 1}, {large, 1 << 20}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Data.size());
    const std::string& data = c.Data;
    const TUploadSource source = SourceOf(data, c.Piece);
    ASSERT_TRUE(FHttp.PostFileFrom(Url("safe/records/4/upload/file"), "file", "n\"a\r\nme.txt", source, nullptr));
    const TRawRequest r = Last();
    const std::string type = *r.Header("Content-Type");
    const std::string prefix = "multipart/form-data; boundary=";
    ASSERT_EQ(type.rfind(prefix, 0), 0u) << type;
    const std::string boundary = type.substr(prefix.size());
    ASSERT_EQ(boundary.size(), 8 + std::string("_Synapse_boundary").size()) << boundary;
    EXPECT_EQ(boundary.find_first_not_of("0123456789ABCDEF"), 8u) << boundary;
    EXPECT_EQ(boundary.substr(8), "_Synapse_boundary");
    EXPECT_EQ(r.Body, "--" + boundary +
                          "\r\ncontent-disposition: form-data; name=\"file\"; filename=\"n%22a%0D%0Ame.txt\"\r\n"
                          "Content-Type: Application/octet-string\r\n\r\n" +
                          data + "\r\n--" + boundary + "--\r\n");
  }
}

TEST_F(RequestLayerTest, ADownloadGivesTheSinkOnlyTheContentOfASuccess) {
  const std::string content("file\0bytes", 10);
  FServer.SetHandler([&](const TRawRequest& r) {
    if (r.Target == "/refused") return JsonReply(403, R"({"msg":[]})");
    return test::TextReply(200, content, "application/octet-stream");
  });
  std::string received;
  int begun = 0;
  const TDownloadSink sink{[&] {
                             ++begun;
                             received.clear();
                             return true;
                           },
                           [&](const char* AData, std::size_t ALen) {
                             received.append(AData, ALen);
                             return true;
                           }};
  TBodyStringList form;
  ASSERT_TRUE(FHttp.GetFileTo(Url("file"), form, sink, &FAnswer));
  EXPECT_EQ(received, content);
  EXPECT_EQ(FAnswer, "");
  ASSERT_TRUE(FHttp.GetFileTo(Url("refused"), form, sink, &FAnswer));
  EXPECT_EQ(FHttp.ResultCode(), 403);
  EXPECT_EQ(received, "");
  EXPECT_EQ(FAnswer, R"({"msg":[]})");
  EXPECT_EQ(begun, 2);
}

// A cancel or a local read or write error ends the transfer as stopped, never
// as a success, and the next request is not disturbed by it.
TEST_F(RequestLayerTest, AStreamedTransferEndsWhenItsSourceOrSinkStops) {
  const std::string data(200000, 'd');
  const TUploadSource failing{static_cast<std::int64_t>(data.size()),
                              [&](std::int64_t AOffset, char* ABuffer, std::size_t ALen) -> std::int64_t {
                                if (AOffset >= 100000) return -1;
                                return SourceOf(data, 1 << 20).Read(AOffset, ABuffer, ALen);
                              }};
  // Smaller than it said it was: the declared length can never be met.
  const TUploadSource shrunk{static_cast<std::int64_t>(data.size()) + 10, SourceOf(data, 1 << 20).Read};
  const TDownloadSink refusing{{}, [](const char*, std::size_t) { return false; }};
  const TDownloadSink notBegun{[] { return false; }, [](const char*, std::size_t) { return true; }};
  TBodyStringList form;
  struct Case {
    const char* Name;
    std::function<bool()> Send;
    bool NothingSent;
  };
  const Case cases[] = {
      {"source fails", [&] { return FHttp.PostFileFrom(Url("up"), "file", "f", failing, &FAnswer); }, false},
      {"source shrank", [&] { return FHttp.PostFileFrom(Url("up"), "file", "f", shrunk, &FAnswer); }, false},
      {"sink refuses", [&] { return FHttp.GetFileTo(Url("down"), form, refusing, &FAnswer); }, false},
      {"sink does not begin", [&] { return FHttp.GetFileTo(Url("down"), form, notBegun, &FAnswer); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::size_t before = FServer.Requests().size();
    EXPECT_FALSE(c.Send());
    EXPECT_EQ(FHttp.LastError(), rfStopped);
    EXPECT_NE(FHttp.LastErrorDesc().find("stopped"), std::string::npos) << FHttp.LastErrorDesc();
    if (c.NothingSent) {
      EXPECT_EQ(FServer.Requests().size(), before);
    }
    ASSERT_TRUE(FHttp.Get(Url("after"), &FAnswer));
    EXPECT_EQ(FAnswer, R"({"ok":true})");
  }
}

TEST_F(RequestLayerTest, URLIsEncodedOnceForBlanksAndNonASCII) {
  ASSERT_TRUE(FHttp.Get(Url("safe/search/\xC5\x99 x%41?q=a&b"), nullptr));
  EXPECT_EQ(Last().Target, "/safe/search/%C5%99%20x%41?q=a&b");
}

TEST_F(RequestLayerTest, CookiesComeBackOnOneLineAndOneConnectionServesAll) {
  FServer.SetHandler([](const TRawRequest& r) {
    if (r.Target == "/login")
      return JsonReply(200, "{}", "Set-Cookie: SID=abc; Path=/; HttpOnly\r\nSet-Cookie: T=1\r\n");
    if (r.Target == "/renew") return JsonReply(200, "{}", "Set-Cookie: SID=def; Secure\r\n");
    return JsonReply(200, "{}");
  });
  ASSERT_TRUE(FHttp.Get(Url("login"), nullptr));
  ASSERT_TRUE(FHttp.Get(Url("a"), nullptr));
  EXPECT_EQ(*Last().Header("Cookie"), "SID=abc; T=1");
  ASSERT_TRUE(FHttp.Post(Url("renew"), nullptr, nullptr));
  ASSERT_TRUE(FHttp.Get(Url("b"), nullptr));
  EXPECT_EQ(*Last().Header("Cookie"), "SID=def; T=1");
  for (const auto& r : FServer.Requests()) EXPECT_EQ(r.Connection, 1) << r.Target;
  EXPECT_EQ(FHttp.ConnectionCount(), 1);
}

TEST_F(RequestLayerTest, HttpErrorStatusIsNotAFailureOfTheLayer) {
  FServer.SetHandler([](const TRawRequest&) { return test::TextReply(503, "<html>down</html>", "text/html"); });
  ASSERT_TRUE(FHttp.Get(Url("x"), &FAnswer));
  EXPECT_EQ(FHttp.ResultCode(), 503);
  EXPECT_EQ(FHttp.ResultString(), "Whatever");
  EXPECT_EQ(FAnswer, "<html>down</html>");
}

TEST_F(RequestLayerTest, SlowAnswerEndsAtTheReadTimeout) {
  FServer.SetHandler([](const TRawRequest&) {
    TReply reply = JsonReply(200, "{}");
    reply.DelayMs = 10000;
    return reply;
  });
  FHttp.SetTimeout(1000);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(FHttp.Get(Url("slow"), &FAnswer));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(FHttp.LastError(), rfTimedOut);
  EXPECT_NE(FHttp.LastErrorDesc().find("1000 ms"), std::string::npos);
  EXPECT_TRUE(FAnswer.empty());
}

// A byte now and then keeps the line from falling silent, so only a deadline
// ends such an answer: the read timeout plus what its size allows at the
// minimum rate, or the minimum rate itself once a body has been arriving for
// longer than the read timeout.
TEST_F(RequestLayerTest, TrickledAnswersEndAtTheirDeadline) {
  struct Case {
    const char* Name;
    std::string Raw;
    const char* Says;
  };
  std::string manyHeaderLines = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 500; ++i) manyHeaderLines += "X: 1\r\n";
  const std::string body(2000, ' ');
  const Case cases[] = {
      {"head", manyHeaderLines, "did not complete the exchange"},
      {"body of a declared length", "HTTP/1.1 200 OK\r\nContent-Length: 2000\r\n\r\n" + body, "too slowly"},
      // Of unknown size, so its deadline does not grow beyond what has arrived.
      {"chunked body", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7d0\r\n" + body + "\r\n0\r\n\r\n",
       "did not complete the exchange"},
  };
  FHttp.SetTimeout(1000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FServer.SetHandler([&c](const TRawRequest&) {
      TReply reply{c.Raw, 0, true};
      reply.TrickleMs = 50;
      return reply;
    });
    EXPECT_FALSE(FHttp.Get(Url("trickle"), &FAnswer));
    EXPECT_EQ(FHttp.LastError(), rfTimedOut);
    EXPECT_NE(FHttp.LastErrorDesc().find(c.Says), std::string::npos) << FHttp.LastErrorDesc();
    EXPECT_TRUE(FAnswer.empty());
  }
}

TEST_F(RequestLayerTest, AnswerCutOffMidwayFailsAndTheNextRequestWorks) {
  FServer.SetHandler([](const TRawRequest& r) {
    if (r.Target != "/cut") return JsonReply(200, R"({"fine":1})");
    TReply reply{"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 1000\r\n\r\n{\"partial"};
    reply.CloseAfter = true;
    return reply;
  });
  EXPECT_FALSE(FHttp.Get(Url("cut"), &FAnswer));
  EXPECT_NE(FHttp.LastError(), 0);
  EXPECT_FALSE(FHttp.LastErrorDesc().empty());
  EXPECT_TRUE(FAnswer.empty());
  ASSERT_TRUE(FHttp.Get(Url("again"), &FAnswer));
  EXPECT_EQ(FAnswer, R"({"fine":1})");
}

TEST_F(RequestLayerTest, OversizedAnswersAreRefused) {
  const std::size_t tooBig = TRESTsend::kMaxAnswerSize + 1;
  FServer.SetHandler([tooBig](const TRawRequest& r) {
    if (r.Target == "/declared")
      return TReply{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(tooBig) + "\r\n\r\n{", 0, true};
    // Chunked: the size is only known while it arrives.
    std::string raw = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string chunk(1 << 20, 'x');
    for (std::size_t sent = 0; sent < tooBig; sent += chunk.size()) raw += "100000\r\n" + chunk + "\r\n";
    raw += "0\r\n\r\n";
    return TReply{raw, 0, true};
  });
  for (const char* path : {"declared", "chunked"}) {
    EXPECT_FALSE(FHttp.Get(Url(path), &FAnswer)) << path;
    EXPECT_EQ(FHttp.LastError(), rfTooLarge) << path;
    EXPECT_NE(FHttp.LastErrorDesc().find("64 MiB"), std::string::npos);
    EXPECT_TRUE(FAnswer.empty());
  }
}

TEST_F(RequestLayerTest, MonitorSeesBothDirections) {
  std::size_t written = 0, read = 0;
  FHttp.SetOnMonitor([&](TRESTsend& sender, bool writing, const char*, std::size_t length) {
    EXPECT_EQ(&sender, &FHttp);
    (writing ? written : read) += length;
  });
  const std::string body(300000, 'b');
  ASSERT_TRUE(FHttp.Post(Url("p"), &body, &FAnswer));
  EXPECT_EQ(written, body.size());
  EXPECT_EQ(read, FAnswer.size());
}

TEST_F(RequestLayerTest, RefusedConnectionFailsWithoutLeakingTheAccessCode) {
  const std::string dead = "http://127.0.0.1:1/x";
  FHttp.SetConnectionTimeout(2000);
  EXPECT_FALSE(FHttp.Get(dead, &FAnswer));
  EXPECT_NE(FHttp.LastError(), 0);
  EXPECT_EQ(FHttp.LastErrorDesc().find("a&b"), std::string::npos);
  EXPECT_EQ(FHttp.LastErrorDesc().find("a%26b"), std::string::npos);
}

TEST_F(RequestLayerTest, OnlyHttpAndHttpsAreSpoken) {
  EXPECT_FALSE(FHttp.Get("file:///etc/passwd", &FAnswer));
  EXPECT_TRUE(FAnswer.empty());
}

class EncryptedRequestTest : public RequestLayerTest {
 protected:
  void SetUp() override {
    TBytes serverPublic;
    SecureBytes serverSecret;
    ASSERT_TRUE(TSaltyClientEncryption::GetKeyPair(serverPublic, serverSecret));
    FOwner.SetKOFServerPublicKeyBytes(serverPublic);
    FOwner.SetNaCLEncryption(std::make_unique<TSaltyClientEncryption>());
  }
  TKofClientBase FOwner;
  TRESTsend FEncrypted{&FOwner, SecureString("a&b c")};
};

TEST_F(EncryptedRequestTest, PlainVariantsSendTheEncryptionLines) {
  ASSERT_TRUE(FEncrypted.Get(Url("x"), nullptr, false));
  const TRawRequest r = Last();
  EXPECT_EQ(*r.Header("KOF-Encryption"), "record");
  const std::string key = *r.Header("KOF-PublicKey");
  EXPECT_EQ(key.find_first_of("+/="), std::string::npos);
  EXPECT_EQ(key, EncodeURLElementUTF8(FOwner.NaCLEncryption()->ClientPublicKeyAsBase64()));
  const std::string code = *r.Header("KOF-Access-Code");
  EXPECT_NE(code, "a%26b%20c");
  EXPECT_NE(code.find("%3A"), std::string::npos);  // nonce ":" box, escaped
}

TEST_F(EncryptedRequestTest, OpenVariantsSendOnlyThePlainAccessCode) {
  ASSERT_TRUE(FEncrypted.OpenGet(Url("x"), nullptr));
  TRawRequest r = Last();
  EXPECT_EQ(r.Header("KOF-Encryption"), nullptr);
  EXPECT_EQ(*r.Header("KOF-Access-Code"), "a%26b%20c");
  FEncrypted.ClearAccessCode();
  ASSERT_TRUE(FEncrypted.OpenGet(Url("x"), nullptr));
  EXPECT_EQ(Last().Header("KOF-Access-Code"), nullptr);
  TBodyStringList form;
  ASSERT_TRUE(FEncrypted.GetFileTo(Url("d"), form, FDiscard, nullptr));
  EXPECT_EQ(Last().Header("KOF-Encryption"), nullptr);
  EXPECT_NE(FOwner.NaCLEncryption(), nullptr);  // the engine was never detached
}

}  // namespace
}  // namespace kof
