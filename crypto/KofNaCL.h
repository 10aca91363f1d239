#pragma once
// Client-side encryption of record fields: NaCl public-key boxes
// (Curve25519, XSalsa20, Poly1305) over libsodium, the text and buffer form
// of one encrypted value, and the request lines that announce it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/SecureString.h"

namespace kof {

inline constexpr std::size_t kNaCLKeyLength = 32;
inline constexpr std::size_t kNaCLNonceLength = 24;
inline constexpr std::size_t kNaCLTagLength = 16;

using TBytes = std::vector<std::uint8_t>;
using TByteSpan = std::span<const std::uint8_t>;
using TPublicKey = std::array<std::uint8_t, kNaCLKeyLength>;
using TCryptoNonce = std::array<std::uint8_t, kNaCLNonceLength>;

// A secret key that zeroes its bytes when it goes away.
class TSecretKey {
 public:
  TSecretKey() = default;
  TSecretKey(const TSecretKey& other) = default;
  TSecretKey& operator=(const TSecretKey& other);
  ~TSecretKey();

  std::uint8_t* Data() { return FBytes.data(); }
  const std::uint8_t* Data() const { return FBytes.data(); }
  static constexpr std::size_t Size() { return kNaCLKeyLength; }

 private:
  std::array<std::uint8_t, kNaCLKeyLength> FBytes{};
};

// Initialises libsodium once per process; false when it cannot be used.
bool LoadNaCLLibrary();
bool NaCLLibraryLoaded();
// The library in use, for messages.
std::string NaCLLibraryName();

// Standard Base64 with "=" padding and no line breaks.
std::string Base64Encode(TByteSpan data);
std::string Base64Encode(std::string_view data);
// Strict decoding; nullopt on anything that is not complete Base64.
std::optional<TBytes> Base64Decode(std::string_view text);

// One client-encrypted value: the nonce and the box output (tag, then cipher bytes).
class TEncryptedData {
 public:
  TEncryptedData() = default;
  // The text form: Base64 nonce, colon, Base64 box output; without a colon the
  // whole text is the box output and the nonce is empty.
  explicit TEncryptedData(std::string_view AEncoded);
  TEncryptedData(const void* AEncoded, std::size_t ASize);
  TEncryptedData(TBytes AIv, TBytes AData);
  TEncryptedData(const TCryptoNonce& AIv, std::string_view AData);
  TEncryptedData(const TCryptoNonce& AIv, TByteSpan AData);

  TBytes Iv() const { return FIv; }
  TBytes Data() const { return FData; }
  // False when the text form did not parse (bad Base64); nonce and data are then empty.
  bool WellFormed() const { return FWellFormed; }

  std::string ToString() const;
  // Buffer form: the nonce, one byte 0x3A, the box output.
  std::size_t BufferLen() const { return FIv.size() + 1 + FData.size(); }
  TBytes CopyToBuffer() const;

 private:
  void Parse(std::string_view AEncoded);

  TBytes FIv;
  TBytes FData;
  bool FWellFormed = true;
};

// The box primitive, made per operation from the other side's public key and our secret key.
class TCurve25519XSalsa20Poly1305 {
 public:
  TCurve25519XSalsa20Poly1305(const TPublicKey& APublicKey, const TSecretKey& ASecretKey);

  const TSecretKey& SecretKey() const { return FSecretKey; }
  const TPublicKey& PublicKey() const { return FPublicKey; }

  bool Encrypt(std::string_view PlainText, TBytes& CipherText, const TCryptoNonce& CryptoNonce) const;
  bool TryDecrypt(TByteSpan CipherText, SecureString& PlainText, const TCryptoNonce& CryptoNonce) const;
  bool EncryptBuffer(TByteSpan Plain, TBytes& CipherText, const TCryptoNonce& CryptoNonce) const;
  bool TryDecryptBuffer(TByteSpan CipherText, SecureBytes& Plain, const TCryptoNonce& CryptoNonce) const;

  static bool GetKeyPair(TPublicKey& APublicKey, TSecretKey& ASecretKey);
  static constexpr std::size_t NonceLength() { return kNaCLNonceLength; }
  static constexpr std::size_t TagLength() { return kNaCLTagLength; }

 private:
  TSecretKey FSecretKey;
  TPublicKey FPublicKey{};
  // The shared key of the pair, computed once: the same box, without a
  // Curve25519 multiplication per value.
  TSecretKey FSharedKey;
  bool FSharedKeyValid = false;
};

// The engine of one connection: a fresh key pair; encrypts for the server's key.
class TSaltyClientEncryption {
 public:
  TSaltyClientEncryption();

  std::string Encrypt(TByteSpan ARemotePublicKey, std::string_view APlainText);
  SecureString Decrypt(TByteSpan ARemotePublicKey, std::string_view ACipherText);
  TBytes EncryptBuffer(TByteSpan ARemotePublicKey, TByteSpan APlain);
  SecureBytes DecryptBuffer(TByteSpan ARemotePublicKey, std::string_view ACipherText);

  TPublicKey GetClientPublicKey() const { return FClientPublicKey; }
  std::string ClientPublicKeyAsBase64() const { return Base64Encode(TByteSpan(FClientPublicKey)); }
  bool CryptError() const { return FCryptError; }
  void SetCryptError() { FCryptError = true; }

  static bool GetKeyPair(TBytes& APublicKey, SecureBytes& ASecretKey);

 private:
  // The box for the remote key, kept for the next value for the same key.
  const TCurve25519XSalsa20Poly1305* BoxFor(TByteSpan ARemotePublicKey);
  // Seals with a fresh nonce; sets the error state and gives nothing on failure.
  std::optional<TEncryptedData> Seal(TByteSpan ARemotePublicKey, TByteSpan APlain);
  std::optional<TCurve25519XSalsa20Poly1305> FBox;

  TPublicKey FClientPublicKey{};
  TSecretKey FClientSecretKey;
  bool FCryptError = false;
};

// What a client of the vault server offers the object model: its engine
// (null while client encryption is off) and the server's public key bytes.
// TKofClientBase implements it, so the model needs no client header.
class IKofClientEncryption {
 public:
  virtual ~IKofClientEncryption() = default;
  virtual TSaltyClientEncryption* NaCLEncryption() const = 0;
  virtual const TBytes& KOFServerPublicKeyBytes() const = 0;
};

// One encryption line of a request: name and (already escaped) value.
struct TNaCLProperty {
  std::string Name;
  std::string Value;
};

// The lines in the order they are sent: "KOF-Access-Code" (only with an access
// code), "KOF-Encryption", "KOF-PublicKey".
std::vector<TNaCLProperty> NaCLProperties(TSaltyClientEncryption& Enc, TByteSpan AServerPublicKey,
                                          const SecureString& AAccessCode);
// Name, separator, value; a space follows a colon separator.
std::string NaCLPropertyLine(const TNaCLProperty& AProperty, char ANameValueSeparator);

}  // namespace kof
