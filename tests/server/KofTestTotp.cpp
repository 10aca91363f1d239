#include "tests/server/KofTestTotp.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sodium.h>

#include <array>

namespace kof::testserver {
namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";

int Base32Value(char c) {
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  auto pos = kAlphabet.find(c);
  return pos == std::string_view::npos ? -1 : static_cast<int>(pos);
}

}  // namespace

std::string Base32Encode(std::string_view bytes) {
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (unsigned char byte : bytes) {
    buffer = (buffer << 8) | byte;
    bits += 8;
    while (bits >= 5) {
      out.push_back(kAlphabet[(buffer >> (bits - 5)) & 31]);
      bits -= 5;
    }
  }
  if (bits > 0) out.push_back(kAlphabet[(buffer << (5 - bits)) & 31]);
  return out;
}

std::optional<SecureString> Base32Decode(std::string_view text) {
  SecureString out;
  unsigned buffer = 0;
  int bits = 0;
  for (char c : text) {
    if (c == ' ' || c == '=' || c == '-') continue;
    int value = Base32Value(c);
    if (value < 0) return std::nullopt;
    buffer = (buffer << 5) | static_cast<unsigned>(value);
    bits += 5;
    if (bits >= 8) {
      out.PushBack(static_cast<char>((buffer >> (bits - 8)) & 0xFF));
      bits -= 8;
    }
  }
  buffer = 0;
  return out;
}

std::string HotpCode(const SecureString& key, std::uint64_t counter, int digits) {
  std::array<unsigned char, 8> message{};
  for (int i = 7; i >= 0; --i) {
    message[static_cast<std::size_t>(i)] = static_cast<unsigned char>(counter & 0xFF);
    counter >>= 8;
  }
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int macLen = 0;
  HMAC(EVP_sha1(), key.CStr(), static_cast<int>(key.Size()), message.data(), message.size(), mac, &macLen);
  const int offset = mac[macLen - 1] & 0x0F;
  const std::uint32_t binary =
      (static_cast<std::uint32_t>(mac[offset] & 0x7F) << 24) | (static_cast<std::uint32_t>(mac[offset + 1]) << 16) |
      (static_cast<std::uint32_t>(mac[offset + 2]) << 8) | static_cast<std::uint32_t>(mac[offset + 3]);
  SecureZero(mac, sizeof mac);
  std::uint32_t modulus = 1;
  for (int i = 0; i < digits; ++i) modulus *= 10;
  std::string code = std::to_string(binary % modulus);
  return std::string(static_cast<std::size_t>(digits) - code.size(), '0') + code;
}

std::string TotpCode(const SecureString& key, std::int64_t unixTime, int digits) {
  return HotpCode(key, static_cast<std::uint64_t>(unixTime / kTotpStepSeconds), digits);
}

bool VerifyTotp(const SecureString& key, std::string_view code, std::int64_t unixTime) {
  if (code.size() != static_cast<std::size_t>(kTotpDigits) || key.Empty()) return false;
  for (int drift = -1; drift <= 1; ++drift) {
    if (TotpCode(key, unixTime + drift * kTotpStepSeconds) == code) return true;
  }
  return false;
}

std::string NewTotpSecret() {
  std::array<unsigned char, 20> bytes{};
  randombytes_buf(bytes.data(), bytes.size());
  std::string text = Base32Encode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  SecureZero(bytes.data(), bytes.size());
  return text;
}

}  // namespace kof::testserver
