#include "platform/KofCaseMap.h"

#include "platform/win/KofWin.h"

namespace kof {
namespace {

// One code point as UTF-16 (a surrogate pair above the BMP).
int ToUtf16(char32_t c, wchar_t (&units)[2]) {
  if (c < 0x10000) {
    units[0] = static_cast<wchar_t>(c);
    return 1;
  }
  c -= 0x10000;
  units[0] = static_cast<wchar_t>(0xD800 + (c >> 10));
  units[1] = static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
  return 2;
}

char32_t MapCase(char32_t c, DWORD flags) {
  if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return c;
  wchar_t in[2];
  wchar_t out[4];
  const int n = ToUtf16(c, in);
  // The invariant locale: the same mapping whatever language the user has.
  const int m = ::LCMapStringEx(LOCALE_NAME_INVARIANT, flags, in, n, out, 4, nullptr, nullptr, 0);
  if (m == 1) return out[0];
  if (m == 2 && out[0] >= 0xD800 && out[0] < 0xDC00)
    return 0x10000 + ((static_cast<char32_t>(out[0]) - 0xD800) << 10) + (static_cast<char32_t>(out[1]) - 0xDC00);
  return c;
}

}  // namespace

char32_t LowerCodePoint(char32_t c) { return MapCase(c, LCMAP_LOWERCASE); }
char32_t UpperCodePoint(char32_t c) { return MapCase(c, LCMAP_UPPERCASE); }

}  // namespace kof
