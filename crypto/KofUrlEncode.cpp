#include "crypto/KofUrlEncode.h"

namespace kof {

namespace {

bool InUrlSet(unsigned char c) {
  if (c <= 0x20 || c >= 0x7F) return true;
  switch (c) {
    case '"': case '%': case '<': case '>': case '[': case '\\':
    case ']': case '^': case '`': case '{': case '|': case '}':
      return true;
    default:
      return false;
  }
}

bool InUrlElementSet(unsigned char c) {
  switch (c) {
    case '#': case '&': case '+': case '/': case ':': case ';':
    case '=': case '?': case '@':
      return true;
    default:
      return InUrlSet(c);
  }
}

}  // namespace

std::string PercentEncode(std::string_view text, bool (*mustEscape)(unsigned char)) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string result;
  result.reserve(text.size());
  for (unsigned char c : text) {
    if (mustEscape(c)) {
      result += '%';
      result += kHex[c >> 4];
      result += kHex[c & 0x0F];
    } else {
      result += static_cast<char>(c);
    }
  }
  return result;
}

std::string EncodeURLUTF8(std::string_view AText) { return PercentEncode(AText, InUrlSet); }
std::string EncodeURLElementUTF8(std::string_view AText) { return PercentEncode(AText, InUrlElementSet); }

}  // namespace kof
