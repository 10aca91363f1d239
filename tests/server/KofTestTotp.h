#pragma once
// Time-based one-time codes (HMAC-SHA1, 30-second steps) and the Base32 text
// that authenticator applications use for their secrets.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/SecureString.h"

namespace kof::testserver {

constexpr int kTotpStepSeconds = 30;
constexpr int kTotpDigits = 6;

// Upper-case RFC 4648 alphabet without padding.
std::string Base32Encode(std::string_view bytes);
// Ignores blanks and padding, accepts lower case; nullopt on any other character.
std::optional<SecureString> Base32Decode(std::string_view text);

// The code of one counter value, zero-padded to `digits` characters.
std::string HotpCode(const SecureString& key, std::uint64_t counter, int digits);
std::string TotpCode(const SecureString& key, std::int64_t unixTime, int digits = kTotpDigits);
// Accepts the code of the current step and of one step either side (clock drift).
bool VerifyTotp(const SecureString& key, std::string_view code, std::int64_t unixTime);

// A fresh 20-byte secret as Base32 text.
std::string NewTotpSecret();

}  // namespace kof::testserver
