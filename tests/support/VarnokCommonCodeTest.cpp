#include "support/VarnokCommonCode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kof {
namespace {

using Items = std::vector<std::string>;

TEST(TStringTokenizer, SplitsIntoTrimmedItems) {
  struct Case {
    const char* name;
    std::string str;
    std::string separator;
    Items items;
  };
  const Case cases[] = {
      {"empty item between separators", "a,,b", ",", {"a", "", "b"}},
      {"trailing separator adds nothing", "a,", ",", {"a"}},
      {"leading separator gives empty item", ",a", ",", {"", "a"}},
      {"separator only", ",", ",", {""}},
      {"empty string", "", ",", {}},
      {"items are trimmed", " a ,\tb\t, c ", ",", {"a", "b", "c"}},
      {"blank item is empty", "a,   ,b", ",", {"a", "", "b"}},
      {"no separator in text", " whole text ", ",", {"whole text"}},
      {"empty separator never splits", "a,b", "", {"a,b"}},
      {"quotes stay in items and do not protect separators", "\"a\", \"b,c\"", ",", {"\"a\"", "\"b", "c\""}},
      {"non-ASCII kept whole", "Účty;€;😀", ";", {"Účty", "€", "😀"}},
      // A longer separator moves the scan on by one character only: the rest of
      // it starts the next item, where trimming removes it if it is blank.
      {"two-character separator", "a::b::c", "::", {"a", ":b", ":c"}},
      {"comma-space separator", "a, b, c", ", ", {"a", "b", "c"}},
      {"trailing two-character separator", "a::", "::", {"a", ":"}},
      {"line break separator", "one\r\ntwo", "\r\n", {"one", "two"}},
      {"constructor keeps runs of spaces", "a  b", " ", {"a", "", "b"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TStringTokenizer tok(c.str, c.separator);
    EXPECT_EQ(tok.Count(), static_cast<int>(c.items.size()));
    Items scanned;
    while (tok.HasMore() && scanned.size() <= c.items.size()) scanned.push_back(tok.GetNext());
    EXPECT_EQ(scanned, c.items);
    for (std::size_t i = 0; i < c.items.size(); ++i) EXPECT_EQ(tok.Items(static_cast<int>(i)), c.items[i]);
    EXPECT_EQ(tok.Items(static_cast<int>(c.items.size())), "");
    EXPECT_EQ(tok.Items(-1), "");
  }
}

TEST(TStringTokenizer, SpaceSeparatorNormalisesSpaces) {
  struct Case {
    const char* name;
    std::string str;
    std::string stored;
    Items items;
  };
  const Case cases[] = {
      {"runs and ends", "  a   b  c ", "a b c", {"a", "b", "c"}},
      {"only spaces", "     ", "", {}},
      {"tabs are not spaces", "a \t b", "a \t b", {"a", "", "b"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TStringTokenizer bySetter(" ");
    bySetter.SetStr(c.str);
    TStringTokenizer bySeparator(c.str, ",");
    bySeparator.SetSeparator(" ");
    for (TStringTokenizer* tok : {&bySetter, &bySeparator}) {
      EXPECT_EQ(tok->Str(), c.stored);
      EXPECT_EQ(tok->Count(), static_cast<int>(c.items.size()));
      for (std::size_t i = 0; i < c.items.size(); ++i) EXPECT_EQ(tok->Items(static_cast<int>(i)), c.items[i]);
    }
  }
}

TEST(TStringTokenizer, OtherSeparatorsStoreTheStringUnchanged) {
  TStringTokenizer tok(",");
  tok.SetStr("  a  ,  b ");
  EXPECT_EQ(tok.Str(), "  a  ,  b ");
}

TEST(TStringTokenizer, SettersRestartTheScan) {
  TStringTokenizer tok("a,b", ",");
  EXPECT_EQ(tok.GetNext(), "a");
  tok.SetStr("x,y");
  EXPECT_EQ(tok.GetNext(), "x");
  tok.SetSeparator(";");
  EXPECT_EQ(tok.GetNext(), "x,y");
  EXPECT_FALSE(tok.HasMore());
}

TEST(TStringTokenizer, ReadsItemsAsNumbers) {
  constexpr int32_t kNaN = TStringTokenizer::kNotANumber;
  constexpr double kNaR = TStringTokenizer::kNotAReal;
  struct Case {
    std::string item;
    int32_t number;
    int64_t longNumber;
    double real;
  };
  const Case cases[] = {
      {"42", 42, 42, 42.0},
      {" -7 ", -7, -7, -7.0},
      {"+5", 5, 5, 5.0},
      {"\"12\"", 12, 12, 12.0},
      {"\" 13 \"", 13, 13, 13.0},
      {"0", 0, 0, 0.0},
      {"2147483647", 2147483647, 2147483647, 2147483647.0},
      {"-2147483648", INT32_MIN, INT32_MIN, -2147483648.0},
      {"2147483648", kNaN, 2147483648LL, 2147483648.0},
      {"9223372036854775807", kNaN, INT64_MAX, 9223372036854775807.0},
      {"9223372036854775808", kNaN, kNaN, 9223372036854775808.0},
      {"1.5", kNaN, kNaN, 1.5},
      {"-2.5e3", kNaN, kNaN, -2500.0},
      {"x", kNaN, kNaN, kNaR},
      {"", kNaN, kNaN, kNaR},
      {"\"\"", kNaN, kNaN, kNaR},
      {"12abc", kNaN, kNaN, kNaR},
      {"1 2", kNaN, kNaN, kNaR},
      {"+-5", kNaN, kNaN, kNaR},
      {"++5", kNaN, kNaN, kNaR},
      {"-", kNaN, kNaN, kNaR},
      {"\"7", kNaN, kNaN, kNaR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("item [" + c.item + "]");
    // The item sits between others so that the index is exercised as well.
    TStringTokenizer tok("first;" + c.item + ";last", ";");
    EXPECT_EQ(tok.Numbers(1), c.number);
    EXPECT_EQ(tok.Longs(1), c.longNumber);
    EXPECT_DOUBLE_EQ(tok.Reals(1), c.real);
  }
}

TEST(TStringTokenizer, MissingItemReadsAsMinusOne) {
  TStringTokenizer tok("1,2,3", ",");
  for (int index : {3, 5, -1}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(tok.Items(index), "");
    EXPECT_EQ(tok.Numbers(index), -1);
    EXPECT_EQ(tok.Longs(index), -1);
    EXPECT_EQ(tok.Reals(index), -1.0);
  }
  TStringTokenizer empty("", ",");
  EXPECT_EQ(empty.Numbers(0), -1);
}

TEST(FileNameHelpers, SplitPathNameAndExtension) {
  struct Case {
    std::string path;
    std::string name;
    std::string ext;
    std::string nameNoExt;
  };
  const Case cases[] = {
      {"C:\\dir\\file.txt", "file.txt", ".txt", "file"},
      {"/a/b.tar.gz", "b.tar.gz", ".gz", "b.tar"},
      {"dir.d\\name", "name", "", "name"},
      {"dir.d/", "", "", ""},
      {"noext", "noext", "", "noext"},
      {".hidden", ".hidden", ".hidden", ""},
      {"trailing.", "trailing.", ".", "trailing"},
      {"C:file.txt", "file.txt", ".txt", "file"},
      {"\\\\server\\share\\Účty.kof", "Účty.kof", ".kof", "Účty"},
      {"", "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ExtractFileName(c.path), c.name);
    EXPECT_EQ(ExtractFileExt(c.path), c.ext);
    EXPECT_EQ(ExtractFileNameNoExt(c.path), c.nameNoExt);
  }
}

}  // namespace
}  // namespace kof
