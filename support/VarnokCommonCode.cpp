#include "support/VarnokCommonCode.h"

#include <charconv>
#include <cstdlib>

#include "support/KofText.h"

namespace kof {
namespace {

std::string NormaliseSpaces(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out.push_back(c);
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// A number may carry one sign; from_chars takes '-' but not '+'.
template <class T>
bool ParseNumber(const std::string& s, T& value) {
  const char* b = s.data();
  const char* e = b + s.size();
  if (b != e && *b == '+' && (b + 1 == e || b[1] != '-')) ++b;
  auto [p, ec] = std::from_chars(b, e, value);
  return b != e && ec == std::errc() && p == e;
}

}  // namespace

TStringTokenizer::TStringTokenizer(std::string_view separator) : FSeparator(separator) {}

TStringTokenizer::TStringTokenizer(std::string_view str, std::string_view separator)
    : FString(str), FSeparator(separator) {}

void TStringTokenizer::SetStr(std::string_view value) {
  FString = FSeparator == " " ? NormaliseSpaces(value) : std::string(value);
  Reset();
}

void TStringTokenizer::SetSeparator(std::string_view value) {
  FSeparator = value;
  if (FSeparator == " " && !FString.empty()) FString = NormaliseSpaces(FString);
  Reset();
}

void TStringTokenizer::Reset() { FOldPos = 1; }

bool TStringTokenizer::HasMore() const { return !FString.empty() && FOldPos <= FString.size(); }

std::string TStringTokenizer::GetNext() {
  const std::size_t start = FOldPos - 1;
  const std::size_t hit = FSeparator.empty() ? std::string::npos : FString.find(FSeparator, start);
  if (hit == std::string::npos) {
    FOldPos = FString.size() + 1;
    return Trim(std::string_view(FString).substr(std::min(start, FString.size())));
  }
  // A longer separator advances by one character only; its tail joins the next item.
  FOldPos = hit + 2;
  return Trim(std::string_view(FString).substr(start, hit - start));
}

int TStringTokenizer::Count() {
  Reset();
  int n = 0;
  while (HasMore()) {
    GetNext();
    ++n;
  }
  Reset();
  return n;
}

std::string TStringTokenizer::ItemAt(int index, bool& found) {
  Reset();
  found = false;
  std::string item;
  for (int i = 0; i <= index; ++i) {
    if (!HasMore()) {
      Reset();
      return {};
    }
    item = GetNext();
  }
  found = index >= 0;
  Reset();
  return found ? item : std::string();
}

std::string TStringTokenizer::Items(int index) {
  bool found;
  return ItemAt(index, found);
}

std::string TStringTokenizer::Unquoted(int index, bool& found) {
  std::string item = ItemAt(index, found);
  if (item.size() >= 2 && item.front() == '"' && item.back() == '"')
    item = ReplaceAll(item.substr(1, item.size() - 2), "\"\"", "\"");
  return Trim(item);
}

int32_t TStringTokenizer::Numbers(int index) {
  bool found;
  const std::string s = Unquoted(index, found);
  if (!found) return -1;
  int32_t v;
  return ParseNumber(s, v) ? v : kNotANumber;
}

int64_t TStringTokenizer::Longs(int index) {
  bool found;
  const std::string s = Unquoted(index, found);
  if (!found) return -1;
  int64_t v;
  return ParseNumber(s, v) ? v : kNotANumber;
}

double TStringTokenizer::Reals(int index) {
  bool found;
  const std::string s = Unquoted(index, found);
  if (!found) return -1;
  double v;
  return ParseNumber(s, v) ? v : kNotAReal;
}

std::string ExtractFileName(std::string_view fileName) {
  const auto slash = fileName.find_last_of("\\/:");
  return std::string(slash == std::string_view::npos ? fileName : fileName.substr(slash + 1));
}

std::string ExtractFilePath(std::string_view fileName) {
  const auto slash = fileName.find_last_of("\\/");
  return std::string(slash == std::string_view::npos ? std::string_view() : fileName.substr(0, slash + 1));
}

std::string ExtractFileExt(std::string_view fileName) {
  const std::string name = ExtractFileName(fileName);
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string ExtractFileNameNoExt(std::string_view fileName) {
  std::string name = ExtractFileName(fileName);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

}  // namespace kof
