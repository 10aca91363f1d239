#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace kof {

// Splits a string at a separator; items are trimmed, empty items between two
// separators count, a trailing separator adds none.
class TStringTokenizer {
 public:
  explicit TStringTokenizer(std::string_view separator = ",");
  TStringTokenizer(std::string_view str, std::string_view separator);

  const std::string& Str() const { return FString; }
  void SetStr(std::string_view value);
  const std::string& Separator() const { return FSeparator; }
  void SetSeparator(std::string_view value);

  bool HasMore() const;
  std::string GetNext();
  void Reset();

  int Count();
  std::string Items(int index);
  int32_t Numbers(int index);
  int64_t Longs(int index);
  double Reals(int index);

  static constexpr int32_t kNotANumber = -2147483647;
  static constexpr double kNotAReal = 2.2250738585072014e-308;

 private:
  std::string ItemAt(int index, bool& found);
  std::string Unquoted(int index, bool& found);
  std::string FString;
  std::string FSeparator;
  std::size_t FOldPos = 1;  // 1-based, as the scan is described
};

// The file name part of a path without its extension.
std::string ExtractFileNameNoExt(std::string_view fileName);
// The extension including its dot, or empty.
std::string ExtractFileExt(std::string_view fileName);
// The file name after the last path delimiter (\ or /).
std::string ExtractFileName(std::string_view fileName);
// The folder part of a path up to and including its last delimiter (\ or /).
std::string ExtractFilePath(std::string_view fileName);

}  // namespace kof
