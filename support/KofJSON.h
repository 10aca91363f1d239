#pragma once
// Reading JSON that comes from outside (server answers, message catalogues):
// one parser for all of it, bounded in nesting and linear in time.
#include <cstddef>
#include <string_view>

#include <nlohmann/json.hpp>

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

}  // namespace kof
