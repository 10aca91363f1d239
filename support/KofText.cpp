#include "support/KofText.h"

#include "platform/KofCaseMap.h"

namespace kof {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at text[pos]; advances pos. Returns kReplacement for
// any malformed, overlong or surrogate sequence (consuming one byte).
char32_t DecodeUtf8(std::string_view text, std::size_t& pos, bool* ok = nullptr) {
  auto bad = [&]() {
    ++pos;
    if (ok) *ok = false;
    return kReplacement;
  };
  const auto b0 = static_cast<unsigned char>(text[pos]);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  int len;
  char32_t cp;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    cp = b0 & 0x07;
  } else {
    return bad();
  }
  if (pos + len > text.size()) return bad();
  for (int i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(text[pos + i]);
    if ((b & 0xC0) != 0x80) return bad();
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return bad();
  pos += len;
  return cp;
}

void EncodeUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

template <class Map>
std::string MapCase(std::string_view text, Map map) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) EncodeUtf8(map(DecodeUtf8(text, pos)), out);
  return out;
}

char32_t Lower(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  return LowerCodePoint(c);
}

char32_t Upper(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  return UpperCodePoint(c);
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  bool ok = true;
  for (std::size_t pos = 0; pos < text.size() && ok;) DecodeUtf8(text, pos, &ok);
  return ok;
}

SecureString ReplaceInvalidUtf8(std::string_view text, std::string_view mark) {
  SecureString out;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t start = pos;
    bool ok = true;
    DecodeUtf8(text, pos, &ok);
    if (ok)
      out.Append(text.substr(start, pos - start));
    else
      out.Append(mark);
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t cp = DecodeUtf8(text, pos);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  // Room for the worst case, so a secret never leaves a reallocated copy behind.
  out.reserve(text.size() * 3);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    EncodeUtf8(cp, out);
  }
  return out;
}

std::size_t Utf16Length(const char16_t* text, std::size_t maxUnits) {
  if (!text) return 0;
  std::size_t n = 0;
  while (n < maxUnits && text[n]) ++n;
  return n;
}

std::size_t Utf16Units(std::string_view text) {
  std::size_t units = 0;
  for (std::size_t pos = 0; pos < text.size();) units += DecodeUtf8(text, pos) >= 0x10000 ? 2 : 1;
  return units;
}

std::string CutToUtf16Units(std::string_view text, std::size_t maxUnits) {
  std::size_t units = 0, pos = 0;
  while (pos < text.size()) {
    std::size_t next = pos;
    const std::size_t add = DecodeUtf8(text, next) >= 0x10000 ? 2 : 1;
    if (units + add > maxUnits) break;
    units += add;
    pos = next;
  }
  return std::string(text.substr(0, pos));
}

std::string LowerCase(std::string_view text) { return MapCase(text, Lower); }
std::string UpperCase(std::string_view text) { return MapCase(text, Upper); }

namespace {

// The comparison key of the next character. A malformed byte keeps its own
// value (above every code point), so two different broken names never match.
char32_t NextKey(std::string_view text, std::size_t& pos) {
  const std::size_t start = pos;
  bool ok = true;
  const char32_t cp = DecodeUtf8(text, pos, &ok);
  return ok ? Lower(cp) : 0x110000 + static_cast<unsigned char>(text[start]);
}

std::u32string Keys(std::string_view text) {
  std::u32string keys;
  for (std::size_t pos = 0; pos < text.size();) keys.push_back(NextKey(text, pos));
  return keys;
}

}  // namespace

int CompareText(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    // Plain ASCII needs no decoding; listings sort thousands of such names.
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[j]);
    if (x < 0x80 && y < 0x80) {
      const char32_t ka = Lower(x), kb = Lower(y);
      if (ka != kb) return ka < kb ? -1 : 1;
      ++i;
      ++j;
      continue;
    }
    const char32_t ca = NextKey(a, i);
    const char32_t cb = NextKey(b, j);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

bool SameText(std::string_view a, std::string_view b) { return CompareText(a, b) == 0; }

// By characters, not bytes: a letter and its other case may differ in length.
std::size_t TextPrefixLength(std::string_view prefix, std::string_view text) {
  std::size_t i = 0, j = 0;
  while (i < prefix.size()) {
    if (j >= text.size() || NextKey(prefix, i) != NextKey(text, j)) return std::string_view::npos;
  }
  return j;
}

bool StartsText(std::string_view prefix, std::string_view text) {
  return TextPrefixLength(prefix, text) != std::string_view::npos;
}

bool EndsText(std::string_view suffix, std::string_view text) {
  const std::u32string s = Keys(suffix), t = Keys(text);
  return t.size() >= s.size() && t.compare(t.size() - s.size(), s.size(), s) == 0;
}

std::string Trim(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return std::string(text.substr(b, e - b));
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  std::size_t pos = 0;
  for (std::size_t hit; (hit = text.find(from, pos)) != std::string_view::npos; pos = hit + from.size()) {
    out.append(text.substr(pos, hit - pos));
    out.append(to);
  }
  out.append(text.substr(pos));
  return out;
}

std::vector<std::string> SplitBackslashPath(std::string_view path) {
  while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  std::vector<std::string> parts;
  if (path.empty()) return parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t hit = path.find('\\', start);
    parts.emplace_back(path.substr(start, hit == std::string_view::npos ? std::string_view::npos : hit - start));
    if (hit == std::string_view::npos) return parts;
    start = hit + 1;
  }
}

}  // namespace kof
