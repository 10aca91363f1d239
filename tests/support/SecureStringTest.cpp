#include "support/SecureString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

namespace kof {
namespace {

const std::string kShort = "pw";                                     // fits a small-string buffer
const std::string kLong = "a password well beyond any small buffer";  // lives on the heap

bool AllZero(const char* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

void ExpectEmpty(const SecureString& s) {
  EXPECT_TRUE(s.Empty());
  EXPECT_EQ(s.View(), "");
  ASSERT_NE(s.CStr(), nullptr);
  EXPECT_EQ(s.CStr()[0], '\0');
}

TEST(SecureString, MovingLeavesTheSourceEmptyAndUsable) {
  for (const std::string& secret : {kShort, kLong}) {
    SCOPED_TRACE(secret);
    SecureString source(secret);
    SecureString moved(std::move(source));
    EXPECT_EQ(moved.View(), secret);
    ExpectEmpty(source);

    SecureString assigned("old value");
    assigned = std::move(moved);
    EXPECT_EQ(assigned.View(), secret);
    ExpectEmpty(moved);

    moved.Append("again");  // a moved-from secret can be reused
    EXPECT_EQ(moved.View(), "again");
  }
}

TEST(SecureString, SelfMoveKeepsTheValue) {
  SecureString s(kLong);
  SecureString& alias = s;
  s = std::move(alias);
  EXPECT_EQ(s.View(), kLong);
}

TEST(SecureString, BuiltCharByCharStaysZeroTerminated) {
  SecureString s;
  for (char c : kLong) {
    s.PushBack(c);
    ASSERT_EQ(s.CStr()[s.Size()], '\0');
  }
  EXPECT_EQ(s.View(), kLong);
  EXPECT_EQ(std::strlen(s.CStr()), kLong.size());
}

TEST(SecureString, AppendingItsOwnContent) {
  SecureString s(kLong);
  s.Append(s.View());
  EXPECT_EQ(s.View(), kLong + kLong);
  s.Assign(s.View().substr(0, 2));
  EXPECT_EQ(s.View(), kLong.substr(0, 2));
}

TEST(SecureString, NullTextIsEmpty) {
  const char* none = nullptr;
  ExpectEmpty(SecureString(none));
}

TEST(WipeString, ZeroesTheBufferInPlaceAndEmpties) {
  for (const std::string& secret : {kShort, kLong}) {
    SCOPED_TRACE(secret);
    std::string s = secret;
    const char* buffer = s.data();
    WipeString(s);
    EXPECT_TRUE(s.empty());
    // clear() keeps the buffer, so the old characters are still readable here.
    EXPECT_TRUE(AllZero(buffer, secret.size()));

    std::u16string wide(secret.begin(), secret.end());
    const char16_t* wideBuffer = wide.data();
    WipeString(wide);
    EXPECT_TRUE(wide.empty());
    EXPECT_TRUE(AllZero(reinterpret_cast<const char*>(wideBuffer), secret.size() * sizeof(char16_t)));

    SecureString secure(secret);
    const char* secureBuffer = secure.CStr();
    WipeString(secure);
    ExpectEmpty(secure);
    EXPECT_EQ(secure.CStr(), secureBuffer);
    EXPECT_TRUE(AllZero(secureBuffer, secret.size()));
  }
}

TEST(WipeString, EmptyStringsAreFine) {
  std::string s;
  WipeString(s);
  std::u16string w;
  WipeString(w);
  SecureString secure;
  WipeString(secure);
  EXPECT_TRUE(s.empty());
  EXPECT_TRUE(w.empty());
  ExpectEmpty(secure);
}

}  // namespace
}  // namespace kof
