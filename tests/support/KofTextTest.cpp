#include "support/KofText.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kof {
namespace {

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
    out += ' ';
  }
  return out;
}

bool HasUnpairedSurrogate(const std::u16string& s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] >= 0xD800 && s[i] <= 0xDBFF) {
      if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return true;
      ++i;
    } else if (s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

struct Utf8Case {
  const char* name;
  std::string bytes;
  bool valid;
};

const std::vector<Utf8Case>& Utf8Cases() {
  static const std::vector<Utf8Case> cases = {
      {"empty", "", true},
      {"ASCII", "Koffra 5", true},
      {"two-byte letters", "Účty", true},
      {"euro sign", "\xE2\x82\xAC", true},
      {"last before surrogates", "\xED\x9F\xBF", true},
      {"first after surrogates", "\xEE\x80\x80", true},
      {"replacement character itself", "\xEF\xBF\xBD", true},
      {"astral emoji", "\xF0\x9F\x98\x80", true},
      {"highest code point", "\xF4\x8F\xBF\xBF", true},
      {"NUL inside", std::string("a\0b", 3), true},
      {"overlong slash, two bytes", "\xC0\xAF", false},
      {"overlong C1", "\xC1\xBF", false},
      {"overlong slash, three bytes", "\xE0\x80\xAF", false},
      {"overlong slash, four bytes", "\xF0\x80\x80\xAF", false},
      {"overlong NUL", "\xC0\x80", false},
      {"high surrogate", "\xED\xA0\x80", false},
      {"low surrogate", "\xED\xBF\xBF", false},
      {"surrogate pair encoded as two", "\xED\xA0\xBD\xED\xB8\x80", false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false},
      {"lead byte F5", "\xF5\x80\x80\x80", false},
      {"byte FE", "\xFE", false},
      {"byte FF", "a\xFF" "b", false},
      {"lone continuation", "\x80", false},
      {"truncated at end", "ok\xF0\x9F\x98", false},
      {"truncated before ASCII", "\xE2\x82" "A", false},
      {"two-byte lead at end", "\xC3", false},
      {"latin-1 text", "\xDA\xE8ty", false},
  };
  return cases;
}

TEST(KofText, Utf8Validity) {
  for (const auto& c : Utf8Cases()) {
    SCOPED_TRACE(std::string(c.name) + ": " + Hex(c.bytes));
    EXPECT_EQ(IsValidUtf8(c.bytes), c.valid);
  }
}

TEST(KofText, InvalidUtf8BecomesReplacementCharacters) {
  for (const auto& c : Utf8Cases()) {
    SCOPED_TRACE(std::string(c.name) + ": " + Hex(c.bytes));
    const std::u16string wide = Utf8ToUtf16(c.bytes);
    EXPECT_EQ(wide.find(u'\xFFFD') != std::u16string::npos, !c.valid || c.bytes == "\xEF\xBF\xBD");
    EXPECT_FALSE(HasUnpairedSurrogate(wide));
    EXPECT_EQ(Utf16Units(c.bytes), wide.size());
    const std::string back = Utf16ToUtf8(wide);
    EXPECT_TRUE(IsValidUtf8(back));
    if (c.valid) {
      EXPECT_EQ(back, c.bytes);
    }
    EXPECT_TRUE(IsValidUtf8(LowerCase(c.bytes)));
    EXPECT_TRUE(IsValidUtf8(UpperCase(c.bytes)));
  }
}

TEST(KofText, ValidBytesSurviveNextToInvalidOnes) {
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\xFFFD" "b");
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82" "A").back(), u'A');
  EXPECT_EQ(Utf8ToUtf16("ok\xF0\x9F\x98").substr(0, 2), u"ok");
  EXPECT_EQ(Utf8ToUtf16("\xC3" "\xC3\xBA"), u"\xFFFD\xFA");  // a broken ú, then a whole one
}

// A conversion that round-trips exactly is the definition of valid input; any
// byte string must convert without a crash and give well-formed UTF-16.
TEST(KofText, ArbitraryBytesConvertSafely) {
  auto check = [](const std::string& s) {
    const std::u16string wide = Utf8ToUtf16(s);
    ASSERT_FALSE(HasUnpairedSurrogate(wide)) << Hex(s);
    ASSERT_EQ(Utf16ToUtf8(wide) == s, IsValidUtf8(s)) << Hex(s);
    ASSERT_EQ(Utf16Units(s), wide.size()) << Hex(s);
  };
  std::string s(2, '\0');
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) {
      s[0] = static_cast<char>(a);
      s[1] = static_cast<char>(b);
      check(s);
      check(s.substr(0, 1));
    }
  // Random longer strings, weighted towards lead and continuation bytes.
  std::mt19937 rng(5);
  const unsigned char interesting[] = {0x00, 0x41, 0x7F, 0x80, 0xBF, 0xC0, 0xC2, 0xDF, 0xE0,
                                       0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF, 0xA0, 0x9F, 0x90};
  std::uniform_int_distribution<int> pick(0, sizeof interesting - 1), len(3, 8);
  for (int i = 0; i < 100000; ++i) {
    std::string t(static_cast<std::size_t>(len(rng)), '\0');
    for (char& ch : t) ch = static_cast<char>(interesting[pick(rng)]);
    check(t);
  }
}

TEST(KofText, Utf16RoundTrips) {
  struct Case {
    const char* name;
    std::string utf8;
    std::u16string utf16;
  };
  const Case cases[] = {
      {"empty", "", u""},
      {"ASCII", "Safe box", u"Safe box"},
      {"Czech", "Účty a hesla", u"\u00DA\u010Dty a hesla"},
      {"BMP symbols", "€ ✓ 中", u"\u20AC \u2713 \u4E2D"},
      {"astral", "😀", u"\xD83D\xDE00"},
      {"astral between text", "a😀b𝄞", u"a\xD83D\xDE00" u"b\xD834\xDD1E"},
      {"highest code point", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
    EXPECT_EQ(Utf16Units(c.utf8), c.utf16.size());
  }
}

TEST(KofText, LoneSurrogatesFromTheHostBecomeReplacementCharacters) {
  struct Case {
    const char* name;
    std::u16string utf16;
    std::string utf8;
  };
  const Case cases[] = {
      {"lone high", u"\xD800", "\xEF\xBF\xBD"},
      {"lone high at end", u"ab\xD83D", "ab\xEF\xBF\xBD"},
      {"lone low", u"\xDC00" u"a", "\xEF\xBF\xBD" "a"},
      {"reversed pair", u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"high then BMP", u"\xD83D" u"x", "\xEF\xBF\xBD" "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
  }
}

TEST(KofText, Utf16LengthStopsAtZeroOrLimit) {
  const char16_t text[] = u"abc";
  EXPECT_EQ(Utf16Length(nullptr, 10), 0u);
  EXPECT_EQ(Utf16Length(text, 10), 3u);
  EXPECT_EQ(Utf16Length(text, 2), 2u);
  EXPECT_EQ(Utf16Length(text, 0), 0u);
}

TEST(KofText, CaseInsensitiveComparisonCoversNonAsciiLetters) {
  struct Case {
    std::string a;
    std::string b;
    int order;  // sign of CompareText
  };
  const Case cases[] = {
      {"Účty", "účty", 0},
      {"ČŘŽŠĚ", "čřžšě", 0},
      {"ÄÖÜ", "äöü", 0},
      {"ПРИВЕТ", "привет", 0},
      {"ΑΒΓ", "αβγ", 0},
      {"Safe Box", "SAFE box", 0},
      {"", "", 0},
      {"a", "B", -1},
      {"b", "A", 1},
      {"a", "ab", -1},
      {"", "a", -1},
      {"Účty", "účtz", -1},
      {"ž", "Z", 1},  // beyond ASCII sorts after ASCII letters
      {"a\xFF", "A\xFF", 0},
      {"\xFF", "\xFE", 1},  // distinct invalid bytes are distinct names
      {"\xFE", "\xFF", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Hex(c.a) + "vs " + Hex(c.b));
    const int order = CompareText(c.a, c.b);
    EXPECT_EQ((order > 0) - (order < 0), c.order);
    EXPECT_EQ(SameText(c.a, c.b), c.order == 0);
    const int reverse = CompareText(c.b, c.a);
    EXPECT_EQ((reverse > 0) - (reverse < 0), -c.order);
  }
}

TEST(KofText, CaseMapping) {
  struct Case {
    std::string mixed;
    std::string lower;
    std::string upper;
  };
  const Case cases[] = {
      {"Účty ČSOB", "účty čsob", "ÚČTY ČSOB"},
      {"Straße", "straße", "STRAßE"},  // no expansion: one character stays one
      {"a😀Z", "a😀z", "A😀Z"},
      {"123-_.", "123-_.", "123-_."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mixed);
    EXPECT_EQ(LowerCase(c.mixed), c.lower);
    EXPECT_EQ(UpperCase(c.mixed), c.upper);
  }
}

TEST(KofText, StartsAndEndsIgnoreCase) {
  struct Case {
    const char* name;
    std::string part;
    std::string text;
    bool starts;
    bool ends;
  };
  const Case cases[] = {
      {"Czech prefix", "úč", "ÚČTY", true, false},
      {"Czech suffix", "TY", "účty", false, true},
      {"whole text", "Účty", "účty", true, true},
      {"empty part", "", "abc", true, true},
      {"longer than text", "abcd", "abc", false, false},
      {"not a prefix", "b", "abc", false, false},
      // U+023A and its lower case U+2C65 take 2 and 3 bytes.
      {"case pair of different byte length, start", "\xE2\xB1\xA5", "\xC8\xBA" "x", true, false},
      {"case pair of different byte length, end", "\xE2\xB1\xA5", "x\xC8\xBA", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(StartsText(c.part, c.text), c.starts);
    EXPECT_EQ(EndsText(c.part, c.text), c.ends);
  }
}

TEST(KofText, CutToUtf16UnitsKeepsWholeCharacters) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t max;
    std::string cut;
  };
  const Case cases[] = {
      {"ASCII", "abc", 2, "ab"},
      {"fits", "abc", 3, "abc"},
      {"room to spare", "abc", 260, "abc"},
      {"zero", "abc", 0, ""},
      {"empty", "", 5, ""},
      {"two-byte letters count one unit each", "Účty", 2, "Úč"},
      {"astral needs two units", "a😀b", 2, "a"},
      {"astral fits", "a😀b", 3, "a😀"},
      {"astral alone, one unit", "😀", 1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CutToUtf16Units(c.text, c.max), c.cut);
  }
}

TEST(KofText, CutToUtf16UnitsIsTheLongestWholePrefix) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "aÚ€😀";
  const std::size_t total = Utf16Units(text);
  for (std::size_t max = 0; max <= total + 1; ++max) {
    SCOPED_TRACE(max);
    const std::string cut = CutToUtf16Units(text, max);
    ASSERT_EQ(text.compare(0, cut.size(), cut), 0);
    ASSERT_TRUE(IsValidUtf8(cut));
    const std::size_t units = Utf16Units(cut);
    ASSERT_LE(units, max);
    if (cut.size() < text.size()) {  // only a character that does not fit may be left out
      const std::size_t nextUnits = CutToUtf16Units(text.substr(cut.size()), 1).empty() ? 2 : 1;
      ASSERT_GT(units + nextUnits, max);
    }
  }
}

TEST(KofText, TrimAndReplaceAll) {
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("Ú "), "Ú");
  EXPECT_EQ(Trim("\xC2\xA0" "a"), "\xC2\xA0" "a");  // no-break space is text, not a blank

  struct Case {
    std::string text, from, to, result;
  };
  const Case cases[] = {
      {"a.b.c", ".", "::", "a::b::c"},
      {"aaa", "aa", "b", "ba"},
      {"abc", "", "x", "abc"},
      {"x", "x", "", ""},
      {"\"\"q\"\"", "\"\"", "\"", "\"q\""},
      {"no hit", "z", "y", "no hit"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + " / " + c.from);
    EXPECT_EQ(ReplaceAll(c.text, c.from, c.to), c.result);
  }
}

}  // namespace
}  // namespace kof
