#pragma once
// Wire-level helpers: percent coding, form bodies, Base64, the two error body
// forms the client understands, and the client-encryption text form.
#include <array>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/SecureString.h"

namespace kof::testserver {

using TBoxKey = std::array<unsigned char, 32>;

std::string PercentDecode(std::string_view text);
// Every byte outside A-Z a-z 0-9 - _ . ~ becomes %XX.
std::string PercentEncode(std::string_view text);

// name=value pairs joined by "&", in order. Values stay as sent: callers decide
// whether to percent-decode, because some clients send some fields unencoded.
std::vector<std::pair<std::string, std::string>> ParseFormRaw(std::string_view body);
std::optional<std::string> FormValue(const std::vector<std::pair<std::string, std::string>>& form,
                                     std::string_view name);

std::string Base64Encode(std::string_view bytes);
std::optional<std::string> Base64Decode(std::string_view text);

// The "m:" message with its parameters, escaped so that every comma,
// backslash and double quote inside a parameter survives the split.
std::string ServerMessage(std::string_view key, const std::vector<std::string>& params);
// {"msg":[{"severity":"ERROR","message":"m:key[...]","translationKey":key,"recordId":...}]}
nlohmann::json ErrorBody(std::string_view key, const std::vector<std::string>& params, int recordId = 0);

std::int64_t NowMs();

// The server side of client encryption: one key pair for the server's life.
class TWireCrypto {
 public:
  TWireCrypto();
  ~TWireCrypto();
  TWireCrypto(const TWireCrypto&) = delete;
  TWireCrypto& operator=(const TWireCrypto&) = delete;

  std::string PublicKeyBase64() const;
  // Text form "Base64(nonce):Base64(box)" for the client's key.
  std::string Encrypt(const TBoxKey& clientKey, std::string_view plain) const;
  // nullopt when the text is not in the text form or the box does not open.
  std::optional<SecureString> Decrypt(const TBoxKey& clientKey, std::string_view text) const;

 private:
  TBoxKey FPublicKey{};
  TBoxKey FSecretKey{};
};

std::optional<TBoxKey> DecodeBoxKey(std::string_view base64);

}  // namespace kof::testserver

namespace kof::testserver {
// Tags as comma text: split at commas and blanks outside double quotes; a
// doubled quote inside quotes is one quote.
std::vector<std::string> ParseCommaText(std::string_view text);
}  // namespace kof::testserver
