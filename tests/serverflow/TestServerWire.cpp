// Wire helpers of the server whose mistakes would go unnoticed by a lenient
// client: message parameter escaping, error body shape, tag comma text.
#include <gtest/gtest.h>
#include <sodium.h>

#include "tests/server/KofTestWire.h"

namespace kof::testserver {
namespace {

TEST(ServerMessage, EscapesSeparatorsInsideParameters) {
  struct Case {
    std::vector<std::string> Params;
    const char* Expected;
  } cases[] = {
      {{}, "m:err.x"},
      {{"7"}, "m:err.x[7]"},
      {{"a,b", "c"}, "m:err.x[a\\,b,c]"},
      {{"say \"hi\""}, "m:err.x[say \\\"hi\\\"]"},
      {{"C:\\dir"}, "m:err.x[C:\\\\dir]"},
  };
  for (const auto& c : cases) EXPECT_EQ(ServerMessage("err.x", c.Params), c.Expected);
}

TEST(ServerMessage, ErrorBodyHasTheShapeClientsRead) {
  const auto body = ErrorBody("err.record.notFound", {"12"}, 12);
  ASSERT_TRUE(body["msg"].is_array());
  ASSERT_EQ(body["msg"].size(), 1u);
  const auto& item = body["msg"][0];
  EXPECT_EQ(item["severity"], "ERROR");
  EXPECT_EQ(item["message"], "m:err.record.notFound[12]");
  EXPECT_EQ(item["translationKey"], "err.record.notFound");
  EXPECT_EQ(item["recordId"], 12);
  EXPECT_TRUE(ErrorBody("login.failed", {})["msg"][0]["recordId"].is_null());
}

TEST(CommaText, SplitsAtCommasAndBlanksOutsideQuotes) {
  struct Case {
    const char* Text;
    std::vector<std::string> Tags;
  } cases[] = {{"", {}},
               {"a,b", {"a", "b"}},
               {"a b", {"a", "b"}},
               {"\"two words\",x", {"two words", "x"}},
               {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
               {",,a,,", {"a"}}};
  for (const auto& c : cases) EXPECT_EQ(ParseCommaText(c.Text), c.Tags) << c.Text;
}

TEST(PercentCoding, DecodesEscapesAndKeepsPlusAndBrokenEscapes) {
  EXPECT_EQ(PercentDecode("a%26b%20c"), "a&b c");
  EXPECT_EQ(PercentDecode("a+b"), "a+b");
  EXPECT_EQ(PercentDecode("100%"), "100%");
  EXPECT_EQ(PercentDecode("%zz"), "%zz");
  EXPECT_EQ(PercentDecode(PercentEncode("Účty ?&=/")), "Účty ?&=/");
}

TEST(WireCrypto, RoundTripsAndRefusesForeignOrBrokenText) {
  TWireCrypto server;
  TBoxKey clientPublic{}, clientSecret{};
  crypto_box_keypair(clientPublic.data(), clientSecret.data());
  const std::string text = server.Encrypt(clientPublic, "abc");
  EXPECT_EQ(text.find(':'), 32u);
  auto plain = server.Decrypt(clientPublic, text);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->View(), "abc");

  TBoxKey otherPublic{}, otherSecret{};
  crypto_box_keypair(otherPublic.data(), otherSecret.data());
  EXPECT_FALSE(server.Decrypt(otherPublic, text));
  EXPECT_FALSE(server.Decrypt(clientPublic, "no colon here"));
  EXPECT_FALSE(server.Decrypt(clientPublic, "AAAA:AAAA"));
}

}  // namespace
}  // namespace kof::testserver
