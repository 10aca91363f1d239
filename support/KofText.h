#pragma once
// UTF-8 inside, UTF-16 at the host boundary, and name comparison that ignores
// case for every letter (not only A-Z), as names compare on the host.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "support/SecureString.h"

namespace kof {

bool IsValidUtf8(std::string_view text);
// Every byte that does not belong to a valid UTF-8 sequence replaced by mark.
// The copy is wiping storage: the text may be a listing that holds secret fields.
SecureString ReplaceInvalidUtf8(std::string_view text, std::string_view mark);
// Invalid sequences become U+FFFD; never throws on bad input.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
// Length of a zero-terminated UTF-16 string, at most maxUnits.
std::size_t Utf16Length(const char16_t* text, std::size_t maxUnits);
// Number of UTF-16 code units the UTF-8 text takes.
std::size_t Utf16Units(std::string_view text);
// Cuts UTF-8 text so that it takes at most maxUnits UTF-16 units, never inside a character.
std::string CutToUtf16Units(std::string_view text, std::size_t maxUnits);

std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);
// <0, 0, >0 like strcmp, ignoring case.
int CompareText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view text);
// The bytes of TEXT that PREFIX matches ignoring case, or npos when it does not begin with it.
std::size_t TextPrefixLength(std::string_view prefix, std::string_view text);
bool EndsText(std::string_view suffix, std::string_view text);

std::string Trim(std::string_view text);  // blanks and control characters at both ends
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
// The components of a backslash-separated path (host paths, registry keys);
// leading and trailing backslashes are ignored, and an empty path has none.
std::vector<std::string> SplitBackslashPath(std::string_view path);

}  // namespace kof
