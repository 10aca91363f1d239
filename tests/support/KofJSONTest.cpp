#include <gtest/gtest.h>

#include <string>

#include "support/KofJSON.h"

namespace kof {
namespace {

TEST(ParseJSON, FaultsAreReportedNotThrown) {
  struct Case {
    const char* name;
    std::string text;
    TJSONFault fault;
  } cases[] = {
      {"object", R"({"a":[1,{"b":null}],"c":"d"})", TJSONFault::jfNone},
      {"byte-order mark", "\xEF\xBB\xBF{}", TJSONFault::jfNone},
      {"scalar", "12", TJSONFault::jfNone},
      {"syntax", R"({"a":)", TJSONFault::jfSyntax},
      {"trailing text", "{} x", TJSONFault::jfSyntax},
      {"invalid UTF-8", "{\"a\":\"\xFF\"}", TJSONFault::jfSyntax},
      {"at the limit", std::string(kMaxJSONDepth, '[') + std::string(kMaxJSONDepth, ']'), TJSONFault::jfNone},
      {"one deeper", std::string(kMaxJSONDepth + 1, '[') + std::string(kMaxJSONDepth + 1, ']'),
       TJSONFault::jfTooDeep},
      // Deep enough to overflow the stack of any recursive walk over the result.
      {"a million deep", std::string(1000000, '['), TJSONFault::jfTooDeep},
  };
  for (const auto& c : cases) {
    const TJSONParsed parsed = ParseJSON(c.text);
    EXPECT_EQ(parsed.Fault, c.fault) << c.name;
    if (!parsed.Ok()) {
      EXPECT_TRUE(parsed.Value.is_null()) << c.name;
    }
  }
  std::string objects;
  for (int i = 0; i <= kMaxJSONDepth; ++i) objects += R"({"a":)";
  EXPECT_EQ(ParseJSON(objects).Fault, TJSONFault::jfTooDeep);
}

TEST(ParseJSON, KeepsMemberOrderAndTheLastOfEqualKeys) {
  // Small objects are searched, large ones indexed: both must behave alike.
  for (const int count : {3, 40}) {
    std::string text = "{";
    for (int i = 0; i < count; ++i) text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    text += R"("k1":"again"})";
    const TJSONParsed parsed = ParseJSON(text);
    ASSERT_TRUE(parsed.Ok()) << count;
    ASSERT_EQ(parsed.Value.size(), static_cast<std::size_t>(count)) << count;
    EXPECT_EQ(parsed.Value.begin().key(), "k0");
    EXPECT_EQ(parsed.Value["k1"], "again") << count;
    auto last = parsed.Value.end();
    --last;
    EXPECT_EQ(last.key(), "k" + std::to_string(count - 1));
  }
}

TEST(ParseJSON, AnObjectOfAHundredThousandKeysIsRead) {
  // The library's ordered builder took tens of seconds here (see bench/model).
  std::string text = "{";
  for (int i = 0; i < 100000; ++i) text += "\"key" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  text.back() = '}';
  const TJSONParsed parsed = ParseJSON(text);
  ASSERT_TRUE(parsed.Ok());
  EXPECT_EQ(parsed.Value.size(), 100000u);
  EXPECT_EQ(parsed.Value["key99999"], 99999);
}

// The writer keeps every member where it was written, also a name given twice,
// and escapes as the library does; its indented form is the library's too.
TEST(JSONWriter, MembersInOrderWithTheLibrarysEscaping) {
  const auto fill = [](TJSONWriter& w) {
    w.String("site", "a\"b\\c\x01\n\xC3\xA9/");
    w.Number("n", -12);
    w.BeginObject("attributes");
    w.Boolean("t", true);
    w.BeginObject("empty");
    w.EndObject();
    w.EndObject();
    w.String("site", "");
  };
  TJSONWriter line;
  fill(line);
  EXPECT_EQ(line.Finish().View(),
            R"({"site":"a\"b\\c\u0001\né/","n":-12,"attributes":{"t":true,"empty":{}},"site":""})");

  TJSONWriter indented(2);
  fill(indented);
  TJSONObject expected = TJSONObject::object();
  expected["site"] = "a\"b\\c\x01\n\xC3\xA9/";
  expected["n"] = -12;
  expected["attributes"] = {{"t", true}, {"empty", TJSONObject::object()}};
  const std::string text(indented.Finish().View());
  // The library's object keeps one "site"; the writer's text has the second one after the object.
  std::string twice = expected.dump(2);
  twice.insert(twice.rfind('\n'), ",\n  \"site\": \"\"");
  EXPECT_EQ(text, twice);

  // Open objects are closed by Finish, and the writer starts over.
  TJSONWriter open;
  open.BeginObject("a");
  EXPECT_EQ(open.Finish().View(), R"({"a":{}})");
  EXPECT_EQ(open.Finish().View(), "{}");
}

TEST(JSONWriter, InvalidUTF8IsRefusedOrReplaced) {
  TJSONWriter refusing;
  EXPECT_THROW(refusing.String("k", "a\xFF"), TJSONObject::type_error);
  TJSONWriter replacing(-1, TJSONWriter::TInvalidUTF8::Replace);
  replacing.String("k", "a\xFF");
  EXPECT_EQ(replacing.Finish().View(), "{\"k\":\"a\xEF\xBF\xBD\"}");
}

}  // namespace
}  // namespace kof
