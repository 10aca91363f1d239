#pragma once
// TLS settings of one request object and the OpenSSL hooks that carry them
// out: client certificates, a CA held in memory, and pinning of the server's
// certificate by its digest; and what the last handshake saw of the server.
#include <curl/curl.h>

#include <optional>
#include <string>
#include <string_view>

#include "crypto/KofNaCL.h"
#include "support/SecureString.h"

typedef struct x509_store_ctx_st X509_STORE_CTX;
typedef struct ssl_ctx_st SSL_CTX;

namespace kof {

class TKofOpenSSL {
 public:
  bool VerifyCert() const { return FVerifyCert; }
  void SetVerifyCert(bool AValue) { Change(FVerifyCert, AValue); }
  const std::string& CertificateFile() const { return FCertificateFile; }
  void SetCertificateFile(std::string_view AValue) { Change(FCertificateFile, std::string(AValue)); }
  // DER client certificate.
  const std::string& Certificate() const { return FCertificate; }
  void SetCertificate(std::string_view AValue) { Change(FCertificate, std::string(AValue)); }
  const std::string& CertCAFile() const { return FCertCAFile; }
  void SetCertCAFile(std::string_view AValue) { Change(FCertCAFile, std::string(AValue)); }
  // DER CA certificate; takes precedence over CertCABytes.
  const std::string& CertCA() const { return FCertCA; }
  void SetCertCA(std::string_view AValue) { Change(FCertCA, std::string(AValue)); }
  const TBytes& CertCABytes() const { return FCertCABytes; }
  void SetCertCABytes(const TBytes& AValue) { Change(FCertCABytes, AValue); }
  // PKCS#12 bundle with the client certificate and its key (no password).
  const SecureString& PFX() const { return FPFX; }
  void SetPFX(std::string_view AValue) { Change(FPFX, SecureString(AValue)); }
  // Expected digest of the server's own certificate: 20 bytes compare with
  // its SHA-1 digest, 32 bytes with its SHA-256 digest; other lengths never match.
  const std::string& Imprint() const { return FImprint; }
  void SetImprint(std::string_view AValue) { Change(FImprint, std::string(AValue)); }

  // Puts the settings on an easy handle before each request.
  CURLcode Apply(CURL* AHandle);
  // True once after a setting changed: the open connection was made with the old ones.
  bool TakeChanged();
  // Subject name of the server certificate seen in the last handshake.
  const std::string& PeerSubject() const { return FPeerSubject; }
  // SHA-256 digest (32 bytes) of that certificate; empty before any handshake.
  const std::string& PeerDigest() const { return FPeerDigest; }
  std::string PeerFingerprint() const { return FingerprintText(FPeerDigest); }
  // Why the last request failed in its handshake, if it did there: the chain
  // did not verify against the trusted CAs (ChainError has OpenSSL's reason),
  // or the certificate is not the pinned one. Both stay false for failures
  // elsewhere (connect, timeout, a name mismatch curl finds after the chain).
  bool ChainFailed() const { return FChainFailed; }
  const std::string& ChainError() const { return FChainError; }
  bool PinRefused() const { return FPinRefused; }

  // Whether an imprint matches a DER certificate.
  static bool ImprintMatches(std::string_view AImprint, std::string_view ACertificateDER);
  // A digest as the user sees it: upper-case hex pairs joined by ':'.
  static std::string FingerprintText(std::string_view ADigest);
  // The 32 digest bytes of a SHA-256 fingerprint written in hex, pairs
  // optionally separated by ':' or blanks, any case; nullopt for anything else.
  static std::optional<std::string> Sha256FromFingerprint(std::string_view AText);

 private:
  template <class T>
  void Change(T& AField, T AValue) {
    if (!(AField == AValue)) FChanged = true;
    AField = std::move(AValue);
  }
  static CURLcode SslCtxCallback(CURL* AHandle, void* ASslCtx, void* AUserPtr);
  static int ImprintVerifyCallback(int APreverifyOk, X509_STORE_CTX* AStoreCtx);
  bool KeySetup(SSL_CTX* ACtx);
  bool AddCAFromMemory(SSL_CTX* ACtx);
  void ForgetFailure();

  bool FVerifyCert = false;
  std::string FCertificateFile;
  std::string FCertificate;
  std::string FCertCAFile;
  std::string FCertCA;
  TBytes FCertCABytes;
  SecureString FPFX;
  std::string FImprint;
  std::string FPeerSubject;
  std::string FPeerDigest;
  bool FChainFailed = false;
  std::string FChainError;
  bool FPinRefused = false;
  bool FChanged = false;
};

}  // namespace kof
