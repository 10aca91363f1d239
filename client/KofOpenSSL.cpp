#include "client/KofOpenSSL.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>
#include <mutex>

namespace kof {

namespace {

template <class T, void (*Free)(T*)>
struct TFreeWith {
  void operator()(T* p) const { Free(p); }
};
using TX509Ptr = std::unique_ptr<X509, TFreeWith<X509, X509_free>>;
using TPkeyPtr = std::unique_ptr<EVP_PKEY, TFreeWith<EVP_PKEY, EVP_PKEY_free>>;
using TPkcs12Ptr = std::unique_ptr<PKCS12, TFreeWith<PKCS12, PKCS12_free>>;

void FreeX509Stack(STACK_OF(X509) * stack) { sk_X509_pop_free(stack, X509_free); }

// The layer travels with each TLS context, so that two clients never check
// each other's imprint.
int LayerIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

TX509Ptr ReadDER(std::string_view der) {
  const auto* data = reinterpret_cast<const unsigned char*>(der.data());
  return TX509Ptr(d2i_X509(nullptr, &data, static_cast<long>(der.size())));
}

bool DigestMatches(std::string_view imprint, X509* cert) {
  const EVP_MD* md = imprint.size() == 20 ? EVP_sha1() : imprint.size() == 32 ? EVP_sha256() : nullptr;
  if (md == nullptr) return false;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(cert, md, digest, &length) != 1 || length != imprint.size()) return false;
  return CRYPTO_memcmp(digest, imprint.data(), length) == 0;
}

std::string Sha256Of(X509* cert) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(cert, EVP_sha256(), digest, &length) != 1) return {};
  return std::string(reinterpret_cast<const char*>(digest), length);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string SubjectText(X509* cert) {
  char buffer[512] = {};
  X509_NAME_oneline(X509_get_subject_name(cert), buffer, sizeof buffer - 1);
  return buffer;
}

bool UsePFX(SSL_CTX* ctx, std::string_view pfx) {
  const auto* data = reinterpret_cast<const unsigned char*>(pfx.data());
  TPkcs12Ptr p12(d2i_PKCS12(nullptr, &data, static_cast<long>(pfx.size())));
  if (!p12) return false;
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* chain = nullptr;
  if (PKCS12_parse(p12.get(), "", &key, &cert, &chain) != 1) return false;
  TPkeyPtr keyHolder(key);
  TX509Ptr certHolder(cert);
  std::unique_ptr<STACK_OF(X509), decltype(&FreeX509Stack)> chainHolder(chain, &FreeX509Stack);
  if (!cert || !key) return false;
  return SSL_CTX_use_certificate(ctx, cert) == 1 && SSL_CTX_use_PrivateKey(ctx, key) == 1;
}

}  // namespace

bool TKofOpenSSL::ImprintMatches(std::string_view AImprint, std::string_view ACertificateDER) {
  const TX509Ptr cert = ReadDER(ACertificateDER);
  return cert && DigestMatches(AImprint, cert.get());
}

std::string TKofOpenSSL::FingerprintText(std::string_view ADigest) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const char byte : ADigest) {
    if (!text.empty()) text += ':';
    text += kDigits[static_cast<unsigned char>(byte) >> 4];
    text += kDigits[static_cast<unsigned char>(byte) & 0x0F];
  }
  return text;
}

std::optional<std::string> TKofOpenSSL::Sha256FromFingerprint(std::string_view AText) {
  std::string digest;
  std::size_t i = 0;
  while (i < AText.size()) {
    if (AText[i] == ':' || AText[i] == ' ') {
      ++i;
      continue;
    }
    // Separators only between whole pairs: "A:BC" is no fingerprint.
    if (i + 1 >= AText.size()) return std::nullopt;
    const int high = HexValue(AText[i]);
    const int low = HexValue(AText[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    digest += static_cast<char>(high * 16 + low);
    i += 2;
  }
  if (digest.size() != 32) return std::nullopt;
  return digest;
}

bool TKofOpenSSL::TakeChanged() {
  const bool changed = FChanged;
  FChanged = false;
  return changed;
}

void TKofOpenSSL::ForgetFailure() {
  FProblems = 0;
  FOtherProblem.clear();
  FPinRefused = false;
}

bool TKofOpenSSL::PrepareContext(SSL_CTX* ACtx) {
  // A new handshake: what the last one saw no longer describes the server.
  FPeerSubject.clear();
  FPeerDigest.clear();
  ForgetFailure();
  if (!KeySetup(ACtx) || !RequireNameInAltNames(ACtx)) return false;
  SSL_CTX_set_ex_data(ACtx, LayerIndex(), this);
  // Always installed: it records the server's subject and checks a pin even
  // without chain verification. Chain failures are left to the result check
  // after the handshake, which runs only when verification is on.
  SSL_CTX_set_verify(ACtx, SSL_VERIFY_PEER, &TKofOpenSSL::ImprintVerifyCallback);
  return true;
}

// Browsers no longer take a name from the subject's common name, and neither
// do we: a verified certificate must carry the host in its subjectAltName.
// A pin names the server by itself, so the name is not checked then.
bool TKofOpenSSL::RequireNameInAltNames(SSL_CTX* ACtx) const {
  if (!FVerifyCert || !FImprint.empty() || FExpectedHost.empty()) return true;
  X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ACtx);
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NEVER_CHECK_SUBJECT | X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  if (X509_VERIFY_PARAM_set1_ip_asc(param, FExpectedHost.c_str()) == 1) return true;
  return X509_VERIFY_PARAM_set1_host(param, FExpectedHost.c_str(), FExpectedHost.size()) == 1;
}

void TKofOpenSSL::NoteProblem(int AVerifyError) {
  switch (AVerifyError) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN: FProblems |= cpSelfSigned; break;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: FProblems |= cpUnknownIssuer; break;
    case X509_V_ERR_CERT_HAS_EXPIRED: FProblems |= cpExpired; break;
    case X509_V_ERR_CERT_NOT_YET_VALID: FProblems |= cpNotYetValid; break;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: FProblems |= cpWrongName; break;
    default:
      if (FOtherProblem.empty()) FOtherProblem = X509_verify_cert_error_string(AVerifyError);
      FProblems |= cpOther;
  }
}

std::string TKofOpenSSL::WhyNotVerified() const {
  const std::string otherName = FExpectedHost.empty() ? "another name" : "another name than " + FExpectedHost;
  const std::pair<TCertProblem, std::string> words[] = {
      {cpSelfSigned, "it is self-signed"},
      {cpUnknownIssuer, "its issuer is not trusted"},
      {cpExpired, "it has expired"},
      {cpNotYetValid, "it is not valid yet"},
      {cpWrongName, "it is issued for " + otherName},
      {cpOther, FOtherProblem.empty() ? std::string("it could not be checked") : FOtherProblem},
  };
  std::string text;
  for (const auto& [problem, reason] : words)
    if (FProblems & problem) text += (text.empty() ? "" : ", ") + reason;
  return text;
}

bool TKofOpenSSL::KeySetup(SSL_CTX* ACtx) {
  if (!FCertificate.empty()) {
    const TX509Ptr cert = ReadDER(FCertificate);
    if (!cert || SSL_CTX_use_certificate(ACtx, cert.get()) != 1) return false;
  }
  if (!FPFX.Empty() && !UsePFX(ACtx, FPFX.View())) return false;
  if (!FVerifyCert) return true;
  if (!FCertCAFile.empty() && SSL_CTX_load_verify_locations(ACtx, FCertCAFile.c_str(), nullptr) != 1) return false;
  return AddCAFromMemory(ACtx);
}

bool TKofOpenSSL::AddCAFromMemory(SSL_CTX* ACtx) {
  std::string_view der = FCertCA;
  if (der.empty()) der = std::string_view(reinterpret_cast<const char*>(FCertCABytes.data()), FCertCABytes.size());
  if (der.empty()) return true;
  const TX509Ptr cert = ReadDER(der);
  if (!cert) return false;
  if (X509_STORE_add_cert(SSL_CTX_get_cert_store(ACtx), cert.get()) == 1) return true;
  // The same CA already in the store is no failure.
  const unsigned long error = ERR_peek_last_error();
  ERR_clear_error();
  return ERR_GET_REASON(error) == X509_R_CERT_ALREADY_IN_HASH_TABLE;
}

int TKofOpenSSL::ImprintVerifyCallback(int APreverifyOk, X509_STORE_CTX* AStoreCtx) {
  auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(AStoreCtx, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* layer = ssl ? static_cast<TKofOpenSSL*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), LayerIndex())) : nullptr;
  if (layer == nullptr) return 1;
  // Every complaint is kept, so the user learns all that is wrong at once.
  if (!APreverifyOk && layer->FVerifyCert) layer->NoteProblem(X509_STORE_CTX_get_error(AStoreCtx));
  if (X509_STORE_CTX_get_error_depth(AStoreCtx) != 0) return 1;
  X509* cert = X509_STORE_CTX_get_current_cert(AStoreCtx);
  if (cert == nullptr) return layer->FImprint.empty() ? 1 : 0;
  layer->FPeerSubject = SubjectText(cert);
  layer->FPeerDigest = Sha256Of(cert);
  if (layer->FImprint.empty()) return 1;
  // With verification on, a broken chain already fails the request after the
  // handshake; without it the pin alone decides.
  if (!APreverifyOk && layer->FVerifyCert) return 1;
  if (DigestMatches(layer->FImprint, cert)) return 1;
  layer->FPinRefused = true;
  return 0;
}

}  // namespace kof
