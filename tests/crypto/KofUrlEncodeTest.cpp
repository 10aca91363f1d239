#include "crypto/KofUrlEncode.h"

#include <gtest/gtest.h>

namespace kof {
namespace {

struct EncodeCase {
  const char* name;
  std::string input;
  std::string url;
  std::string element;
};

TEST(UrlEncode, EscapesExactlyTheirSets) {
  const EncodeCase cases[] = {
      {"base64 and colon", "Ab9+/=:", "Ab9+/=:", "Ab9%2B%2F%3D%3A"},
      {"blank and controls", std::string("a b\x01\x7f", 5), "a%20b%01%7F", "a%20b%01%7F"},
      {"url specials", "\"%<>[\\]^`{|}", "%22%25%3C%3E%5B%5C%5D%5E%60%7B%7C%7D", "%22%25%3C%3E%5B%5C%5D%5E%60%7B%7C%7D"},
      {"element specials", "#&;?@", "#&;?@", "%23%26%3B%3F%40"},
      {"utf-8 bytes", "\xC3\xA9", "%C3%A9", "%C3%A9"},
      {"nul byte", std::string("\0", 1), "%00", "%00"},
      {"unreserved", "-._~", "-._~", "-._~"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeURLUTF8(c.input), c.url) << c.name;
    EXPECT_EQ(EncodeURLElementUTF8(c.input), c.element) << c.name;
  }
}

}  // namespace
}  // namespace kof
