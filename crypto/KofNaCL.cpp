#include "crypto/KofNaCL.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>

#include "crypto/KofUrlEncode.h"

namespace kof {

static_assert(crypto_box_PUBLICKEYBYTES == kNaCLKeyLength);
static_assert(crypto_box_SECRETKEYBYTES == kNaCLKeyLength);
static_assert(crypto_box_NONCEBYTES == kNaCLNonceLength);
static_assert(crypto_box_MACBYTES == kNaCLTagLength);

TSecretKey& TSecretKey::operator=(const TSecretKey& other) {
  FBytes = other.FBytes;
  return *this;
}

TSecretKey::~TSecretKey() { SecureZero(FBytes.data(), FBytes.size()); }

// ---------------------------------------------------------------- library

bool LoadNaCLLibrary() {
  // sodium_init is idempotent and thread-safe; it seeds the random source.
  static const bool loaded = sodium_init() >= 0;
  return loaded;
}

bool NaCLLibraryLoaded() { return LoadNaCLLibrary(); }

std::string NaCLLibraryName() { return std::string("libsodium ") + sodium_version_string(); }

// ---------------------------------------------------------------- Base64

std::string Base64Encode(TByteSpan data) {
  const std::size_t len = sodium_base64_encoded_len(data.size(), sodium_base64_VARIANT_ORIGINAL);
  std::string result(len, '\0');
  sodium_bin2base64(result.data(), len, data.data(), data.size(), sodium_base64_VARIANT_ORIGINAL);
  result.resize(len - 1);  // the terminating zero
  return result;
}

std::string Base64Encode(std::string_view data) {
  return Base64Encode(TByteSpan(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
}

std::optional<TBytes> Base64Decode(std::string_view text) {
  TBytes result(text.size() / 4 * 3 + 3);
  std::size_t binLen = 0;
  const char* end = nullptr;
  if (sodium_base642bin(result.data(), result.size(), text.data(), text.size(), nullptr, &binLen, &end,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != text.data() + text.size())
    return std::nullopt;
  result.resize(binLen);
  return result;
}

// ---------------------------------------------------------------- TEncryptedData

TEncryptedData::TEncryptedData(std::string_view AEncoded) { Parse(AEncoded); }

TEncryptedData::TEncryptedData(const void* AEncoded, std::size_t ASize) {
  if (AEncoded != nullptr) Parse(std::string_view(static_cast<const char*>(AEncoded), ASize));
}

TEncryptedData::TEncryptedData(TBytes AIv, TBytes AData) : FIv(std::move(AIv)), FData(std::move(AData)) {}

TEncryptedData::TEncryptedData(const TCryptoNonce& AIv, std::string_view AData)
    : FIv(AIv.begin(), AIv.end()), FData(AData.begin(), AData.end()) {}

TEncryptedData::TEncryptedData(const TCryptoNonce& AIv, TByteSpan AData)
    : FIv(AIv.begin(), AIv.end()), FData(AData.begin(), AData.end()) {}

void TEncryptedData::Parse(std::string_view AEncoded) {
  const std::size_t colon = AEncoded.find(':');
  std::optional<TBytes> iv = TBytes{};
  std::optional<TBytes> data;
  if (colon == std::string_view::npos) {
    data = Base64Decode(AEncoded);
  } else {
    iv = Base64Decode(AEncoded.substr(0, colon));
    data = Base64Decode(AEncoded.substr(colon + 1));
  }
  FWellFormed = iv.has_value() && data.has_value();
  if (FWellFormed) {
    FIv = std::move(*iv);
    FData = std::move(*data);
  }
}

std::string TEncryptedData::ToString() const { return Base64Encode(FIv) + ":" + Base64Encode(FData); }

TBytes TEncryptedData::CopyToBuffer() const {
  TBytes result;
  result.reserve(BufferLen());
  result.insert(result.end(), FIv.begin(), FIv.end());
  result.push_back(0x3A);
  result.insert(result.end(), FData.begin(), FData.end());
  return result;
}

// ---------------------------------------------------------------- the box

TCurve25519XSalsa20Poly1305::TCurve25519XSalsa20Poly1305(const TPublicKey& APublicKey,
                                                         const TSecretKey& ASecretKey)
    : FSecretKey(ASecretKey), FPublicKey(APublicKey) {
  FSharedKeyValid =
      LoadNaCLLibrary() && crypto_box_beforenm(FSharedKey.Data(), FPublicKey.data(), FSecretKey.Data()) == 0;
}

bool TCurve25519XSalsa20Poly1305::Encrypt(std::string_view PlainText, TBytes& CipherText,
                                          const TCryptoNonce& CryptoNonce) const {
  return EncryptBuffer(TByteSpan(reinterpret_cast<const std::uint8_t*>(PlainText.data()), PlainText.size()),
                       CipherText, CryptoNonce);
}

bool TCurve25519XSalsa20Poly1305::EncryptBuffer(TByteSpan Plain, TBytes& CipherText,
                                                const TCryptoNonce& CryptoNonce) const {
  CipherText.clear();
  if (!FSharedKeyValid) return false;
  CipherText.resize(Plain.size() + kNaCLTagLength);
  if (crypto_box_easy_afternm(CipherText.data(), Plain.data(), Plain.size(), CryptoNonce.data(),
                              FSharedKey.Data()) != 0) {
    CipherText.clear();
    return false;
  }
  return true;
}

bool TCurve25519XSalsa20Poly1305::TryDecryptBuffer(TByteSpan CipherText, SecureBytes& Plain,
                                                   const TCryptoNonce& CryptoNonce) const {
  Plain.clear();
  if (!FSharedKeyValid || CipherText.size() < kNaCLTagLength) return false;
  Plain.resize(CipherText.size() - kNaCLTagLength);
  if (crypto_box_open_easy_afternm(Plain.data(), CipherText.data(), CipherText.size(), CryptoNonce.data(),
                                   FSharedKey.Data()) != 0) {
    SecureZero(Plain.data(), Plain.size());
    Plain.clear();
    return false;
  }
  return true;
}

bool TCurve25519XSalsa20Poly1305::TryDecrypt(TByteSpan CipherText, SecureString& PlainText,
                                             const TCryptoNonce& CryptoNonce) const {
  SecureBytes plain;
  PlainText.Clear();
  if (!TryDecryptBuffer(CipherText, plain, CryptoNonce)) return false;
  PlainText.Assign(std::string_view(reinterpret_cast<const char*>(plain.data()), plain.size()));
  return true;
}

bool TCurve25519XSalsa20Poly1305::GetKeyPair(TPublicKey& APublicKey, TSecretKey& ASecretKey) {
  if (!LoadNaCLLibrary()) return false;
  return crypto_box_keypair(APublicKey.data(), ASecretKey.Data()) == 0;
}

// ---------------------------------------------------------------- engine

TSaltyClientEncryption::TSaltyClientEncryption() {
  if (!TCurve25519XSalsa20Poly1305::GetKeyPair(FClientPublicKey, FClientSecretKey)) FCryptError = true;
}

const TCurve25519XSalsa20Poly1305* TSaltyClientEncryption::BoxFor(TByteSpan ARemotePublicKey) {
  if (ARemotePublicKey.size() != kNaCLKeyLength || !LoadNaCLLibrary()) return nullptr;
  if (!FBox || !std::equal(ARemotePublicKey.begin(), ARemotePublicKey.end(), FBox->PublicKey().begin())) {
    TPublicKey remote;
    std::copy(ARemotePublicKey.begin(), ARemotePublicKey.end(), remote.begin());
    FBox.emplace(remote, FClientSecretKey);
  }
  return &*FBox;
}

namespace {

TCryptoNonce RandomNonce() {
  TCryptoNonce nonce;
  randombytes_buf(nonce.data(), nonce.size());
  return nonce;
}

}  // namespace

std::optional<TEncryptedData> TSaltyClientEncryption::Seal(TByteSpan ARemotePublicKey, TByteSpan APlain) {
  FCryptError = false;
  const TCurve25519XSalsa20Poly1305* box = BoxFor(ARemotePublicKey);
  const TCryptoNonce nonce = RandomNonce();
  TBytes output;
  if (!box || !box->EncryptBuffer(APlain, output, nonce)) {
    FCryptError = true;
    return std::nullopt;
  }
  return TEncryptedData(nonce, TByteSpan(output));
}

TBytes TSaltyClientEncryption::EncryptBuffer(TByteSpan ARemotePublicKey, TByteSpan APlain) {
  const auto sealed = Seal(ARemotePublicKey, APlain);
  return sealed ? sealed->CopyToBuffer() : TBytes();
}

std::string TSaltyClientEncryption::Encrypt(TByteSpan ARemotePublicKey, std::string_view APlainText) {
  const TByteSpan plain(reinterpret_cast<const uint8_t*>(APlainText.data()), APlainText.size());
  const auto sealed = Seal(ARemotePublicKey, plain);
  return sealed ? sealed->ToString() : std::string();
}

SecureBytes TSaltyClientEncryption::DecryptBuffer(TByteSpan ARemotePublicKey, std::string_view ACipherText) {
  FCryptError = false;
  SecureBytes plain;
  if (ACipherText.empty()) return plain;
  const TEncryptedData data(ACipherText);
  const TCurve25519XSalsa20Poly1305* box = BoxFor(ARemotePublicKey);
  const TBytes iv = data.Iv();
  if (!box || !data.WellFormed() || iv.size() != kNaCLNonceLength) {
    FCryptError = true;
    return plain;
  }
  TCryptoNonce nonce;
  std::copy(iv.begin(), iv.end(), nonce.begin());
  const TBytes cipher = data.Data();
  if (!box->TryDecryptBuffer(cipher, plain, nonce)) FCryptError = true;
  return plain;
}

SecureString TSaltyClientEncryption::Decrypt(TByteSpan ARemotePublicKey, std::string_view ACipherText) {
  SecureBytes plain = DecryptBuffer(ARemotePublicKey, ACipherText);
  return SecureString(std::string_view(reinterpret_cast<const char*>(plain.data()), plain.size()));
}

bool TSaltyClientEncryption::GetKeyPair(TBytes& APublicKey, SecureBytes& ASecretKey) {
  TPublicKey pub;
  TSecretKey sec;
  if (!TCurve25519XSalsa20Poly1305::GetKeyPair(pub, sec)) return false;
  APublicKey.assign(pub.begin(), pub.end());
  ASecretKey.assign(sec.Data(), sec.Data() + sec.Size());
  return true;
}

// ---------------------------------------------------------------- request lines

std::vector<TNaCLProperty> NaCLProperties(TSaltyClientEncryption& Enc, TByteSpan AServerPublicKey,
                                          const SecureString& AAccessCode) {
  std::vector<TNaCLProperty> lines;
  if (!AAccessCode.Empty())
    lines.push_back({"KOF-Access-Code", EncodeURLElementUTF8(Enc.Encrypt(AServerPublicKey, AAccessCode.View()))});
  lines.push_back({"KOF-Encryption", "record"});
  lines.push_back({"KOF-PublicKey", EncodeURLElementUTF8(Enc.ClientPublicKeyAsBase64())});
  return lines;
}

std::string NaCLPropertyLine(const TNaCLProperty& AProperty, char ANameValueSeparator) {
  std::string line = AProperty.Name;
  line += ANameValueSeparator;
  if (ANameValueSeparator == ':') line += ' ';
  return line + AProperty.Value;
}

}  // namespace kof
