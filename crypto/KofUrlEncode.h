#pragma once
// Percent-escaping of UTF-8 text for URLs and for values that travel in
// headers and form bodies.
#include <string>
#include <string_view>

namespace kof {

// Bytes 0x00-0x20, 0x7F-0xFF and " % < > [ \ ] ^ ` { | } become %XX
// (upper-case hex); Base64 text and the colon pass unchanged.
std::string EncodeURLUTF8(std::string_view AText);
// As EncodeURLUTF8, and also # & + / : ; = ? @.
std::string EncodeURLElementUTF8(std::string_view AText);
// Every byte for which mustEscape is true becomes %XX (upper-case hex).
std::string PercentEncode(std::string_view AText, bool (*mustEscape)(unsigned char));

}  // namespace kof
