#pragma once
// Reading JSON that comes from outside (server answers, message catalogues):
// one parser for all of it, bounded in nesting and linear in time.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/SecureString.h"

namespace kof {

// Insertion-ordered: the server reads the keys in the order we write them.
using TJSONObject = nlohmann::ordered_json;

// Deeper input is refused while parsing, so no walk over a document can overflow the stack.
constexpr int kMaxJSONDepth = 128;

enum class TJSONFault { jfNone, jfSyntax, jfTooDeep };

struct TJSONParsed {
  TJSONObject Value;  // null unless Fault is jfNone
  TJSONFault Fault = TJSONFault::jfNone;
  std::size_t Byte = 0;  // where the parser stopped, for a fault
  bool Ok() const { return Fault == TJSONFault::jfNone; }
};

// Parses UTF-8 JSON text (a leading byte-order mark is skipped). Never throws
// for bad input: syntax errors, invalid UTF-8 and nesting deeper than
// AMaxDepth come back as a fault, with whatever was read already wiped. Of
// equal keys in one object the last wins.
TJSONParsed ParseJSON(std::string_view AText, int AMaxDepth = kMaxJSONDepth);

// Zeroes and empties every string in a document: answers and bodies may hold secrets.
void WipeJSONStrings(TJSONObject& ADoc);
// WipeJSONStrings when it goes out of scope, however the scope is left.
class TJSONWiper {
 public:
  explicit TJSONWiper(TJSONObject& ADoc) : FDoc(ADoc) {}
  ~TJSONWiper() { WipeJSONStrings(FDoc); }
  TJSONWiper(const TJSONWiper&) = delete;
  TJSONWiper& operator=(const TJSONWiper&) = delete;

 private:
  TJSONObject& FDoc;
};

// Writes one JSON object member by member, in the order given and with every
// member kept: record JSON names some members twice ("site" of an account), which
// a JSON object value would keep once. Values are escaped as the library does.
class TJSONWriter {
 public:
  // What a value that is not valid UTF-8 does: the library's exception, or U+FFFD in its place.
  enum class TInvalidUTF8 { Refuse, Replace };
  // AIndent below 0: one line; else members on lines of their own, indented by that much per level.
  explicit TJSONWriter(int AIndent = -1, TInvalidUTF8 AInvalid = TInvalidUTF8::Refuse);

  void String(std::string_view AKey, std::string_view AValue);
  void Number(std::string_view AKey, std::int64_t AValue);
  void Boolean(std::string_view AKey, bool AValue);
  // Members written until EndObject go into the object AKey.
  void BeginObject(std::string_view AKey);
  void EndObject();
  // The text, with every open object closed; the writer starts over afterwards.
  SecureString Finish();

 private:
  void Open();
  void Close();
  void Key(std::string_view AKey);
  void Escaped(std::string_view AValue);

  int FIndent;
  TInvalidUTF8 FInvalid;
  SecureString FText;
  std::vector<bool> FHasMembers;  // one per open object
};

}  // namespace kof
