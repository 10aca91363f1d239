#pragma once
// Simple (one code point to one) case mapping of any Unicode letter, the same
// whatever locale the host process has set.
namespace kof {

char32_t LowerCodePoint(char32_t c);
char32_t UpperCodePoint(char32_t c);

}  // namespace kof
