// One-time codes against the published test vectors (RFC 6238 appendix B,
// HMAC-SHA1, and RFC 4648 for Base32).
#include <gtest/gtest.h>

#include "tests/server/KofTestTotp.h"

namespace kof::testserver {
namespace {

const SecureString kRfcKey("12345678901234567890");

TEST(Totp, MatchesRfc6238Sha1Vectors) {
  struct Case {
    std::int64_t Time;
    const char* Code;
  } cases[] = {{59, "94287082"},         {1111111109, "07081804"}, {1111111111, "14050471"},
               {1234567890, "89005924"}, {2000000000, "69279037"}, {20000000000, "65353130"}};
  for (const auto& c : cases) EXPECT_EQ(TotpCode(kRfcKey, c.Time, 8), c.Code) << "T=" << c.Time;
}

TEST(Totp, SixDigitCodeIsTheLowOrderDigitsWithLeadingZeros) {
  EXPECT_EQ(TotpCode(kRfcKey, 59), "287082");
  EXPECT_EQ(TotpCode(kRfcKey, 1111111109), "081804");
}

TEST(Totp, VerifyAcceptsOneStepOfDriftOnly) {
  const std::int64_t now = 1234567890;
  const std::string code = TotpCode(kRfcKey, now);
  EXPECT_TRUE(VerifyTotp(kRfcKey, code, now));
  EXPECT_TRUE(VerifyTotp(kRfcKey, code, now + kTotpStepSeconds));
  EXPECT_TRUE(VerifyTotp(kRfcKey, code, now - kTotpStepSeconds));
  EXPECT_FALSE(VerifyTotp(kRfcKey, code, now + 3 * kTotpStepSeconds));
  EXPECT_FALSE(VerifyTotp(kRfcKey, "12345", now));
  EXPECT_FALSE(VerifyTotp(SecureString(), code, now));
}

TEST(Base32, EncodesAndDecodesRfc4648Vectors) {
  struct Case {
    const char* Plain;
    const char* Encoded;
  } cases[] = {{"", ""},
               {"f", "MY"},
               {"fo", "MZXQ"},
               {"foo", "MZXW6"},
               {"foob", "MZXW6YQ"},
               {"fooba", "MZXW6YTB"},
               {"foobar", "MZXW6YTBOI"}};
  for (const auto& c : cases) {
    EXPECT_EQ(Base32Encode(c.Plain), c.Encoded) << c.Plain;
    auto decoded = Base32Decode(c.Encoded);
    ASSERT_TRUE(decoded) << c.Encoded;
    EXPECT_EQ(decoded->View(), c.Plain);
  }
}

TEST(Base32, DecodeAcceptsLowerCaseBlanksAndPaddingButRejectsOtherCharacters) {
  auto decoded = Base32Decode("mzxw 6ytb oi======");
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->View(), "foobar");
  EXPECT_FALSE(Base32Decode("MZXW1"));  // '1' is not in the alphabet
}

}  // namespace
}  // namespace kof::testserver
