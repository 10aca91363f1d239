#include "tests/server/KofTestWire.h"

#include <sodium.h>

#include <cctype>
#include <chrono>
#include <stdexcept>

namespace kof::testserver {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string EscapeParam(std::string_view param) {
  std::string out;
  for (char c : param) {
    if (c == '\\' || c == ',' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

}  // namespace

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int hi = HexValue(text[i + 1]);
      int lo = HexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    // '+' stays: our clients encode blanks as %20, and Base64 values may carry a raw '+'.
    out.push_back(text[i]);
  }
  return out;
}

std::string PercentEncode(std::string_view text) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> ParseFormRaw(std::string_view body) {
  std::vector<std::pair<std::string, std::string>> form;
  while (!body.empty()) {
    auto amp = body.find('&');
    std::string_view pair = body.substr(0, amp);
    body = amp == std::string_view::npos ? std::string_view() : body.substr(amp + 1);
    if (pair.empty()) continue;
    auto eq = pair.find('=');
    if (eq == std::string_view::npos) {
      form.emplace_back(std::string(pair), "");
    } else {
      form.emplace_back(std::string(pair.substr(0, eq)), std::string(pair.substr(eq + 1)));
    }
  }
  return form;
}

std::optional<std::string> FormValue(const std::vector<std::pair<std::string, std::string>>& form,
                                     std::string_view name) {
  for (const auto& [key, value] : form) {
    if (key == name) return value;
  }
  return std::nullopt;
}

std::string Base64Encode(std::string_view bytes) {
  const std::size_t len = sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL);
  std::string out(len, '\0');
  sodium_bin2base64(out.data(), len, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  out.resize(len - 1);
  return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
  std::string out(text.size(), '\0');
  std::size_t len = 0;
  if (sodium_base642bin(reinterpret_cast<unsigned char*>(out.data()), out.size(), text.data(), text.size(), "\r\n ",
                        &len, nullptr, sodium_base64_VARIANT_ORIGINAL) != 0)
    return std::nullopt;
  out.resize(len);
  return out;
}

std::string ServerMessage(std::string_view key, const std::vector<std::string>& params) {
  std::string text = "m:" + std::string(key);
  if (params.empty()) return text;
  text += "[";
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (i > 0) text += ",";
    text += EscapeParam(params[i]);
  }
  return text + "]";
}

nlohmann::json ErrorBody(std::string_view key, const std::vector<std::string>& params, int recordId) {
  nlohmann::json item = {{"severity", "ERROR"},
                         {"message", ServerMessage(key, params)},
                         {"translationKey", std::string(key)},
                         {"recordId", nullptr}};
  if (recordId > 0) item["recordId"] = recordId;
  return {{"msg", nlohmann::json::array({item})}};
}

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

TWireCrypto::TWireCrypto() {
  if (sodium_init() < 0) throw std::runtime_error("libsodium cannot be initialised");
  crypto_box_keypair(FPublicKey.data(), FSecretKey.data());
}

TWireCrypto::~TWireCrypto() { SecureZero(FSecretKey.data(), FSecretKey.size()); }

std::string TWireCrypto::PublicKeyBase64() const {
  return Base64Encode(std::string_view(reinterpret_cast<const char*>(FPublicKey.data()), FPublicKey.size()));
}

std::string TWireCrypto::Encrypt(const TBoxKey& clientKey, std::string_view plain) const {
  std::array<unsigned char, crypto_box_NONCEBYTES> nonce{};
  randombytes_buf(nonce.data(), nonce.size());
  std::string box(plain.size() + crypto_box_MACBYTES, '\0');
  if (crypto_box_easy(reinterpret_cast<unsigned char*>(box.data()),
                      reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), nonce.data(),
                      clientKey.data(), FSecretKey.data()) != 0)
    throw std::runtime_error("crypto_box_easy failed");
  return Base64Encode(std::string_view(reinterpret_cast<const char*>(nonce.data()), nonce.size())) + ":" +
         Base64Encode(box);
}

std::optional<SecureString> TWireCrypto::Decrypt(const TBoxKey& clientKey, std::string_view text) const {
  auto colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  auto nonce = Base64Decode(text.substr(0, colon));
  auto box = Base64Decode(text.substr(colon + 1));
  if (!nonce || !box || nonce->size() != crypto_box_NONCEBYTES || box->size() < crypto_box_MACBYTES)
    return std::nullopt;
  SecureString plain;
  plain.Assign(std::string(box->size() - crypto_box_MACBYTES, '\0'));
  if (crypto_box_open_easy(
          reinterpret_cast<unsigned char*>(plain.Data()), reinterpret_cast<const unsigned char*>(box->data()),
          box->size(), reinterpret_cast<const unsigned char*>(nonce->data()), clientKey.data(), FSecretKey.data()) != 0)
    return std::nullopt;
  return plain;
}

std::optional<TBoxKey> DecodeBoxKey(std::string_view base64) {
  auto bytes = Base64Decode(base64);
  if (!bytes || bytes->size() != 32) return std::nullopt;
  TBoxKey key{};
  std::copy(bytes->begin(), bytes->end(), key.begin());
  return key;
}

}  // namespace kof::testserver

namespace kof::testserver {

std::vector<std::string> ParseCommaText(std::string_view text) {
  std::vector<std::string> items;
  std::string current;
  bool quoted = false, started = false;
  auto flush = [&] {
    if (started && !current.empty()) items.push_back(current);
    current.clear();
    started = false;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        current.push_back('"');
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        current.push_back(c);
      }
    } else if (c == ',' || c == ' ') {
      flush();
    } else if (c == '"') {
      quoted = started = true;
    } else {
      current.push_back(c);
      started = true;
    }
  }
  flush();
  return items;
}

}  // namespace kof::testserver
