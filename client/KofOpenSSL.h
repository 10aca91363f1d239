#pragma once
// TLS settings of one request object and the OpenSSL hooks that carry them
// out: client certificates, a CA held in memory, and pinning of the server's
// certificate by its digest; and what the last handshake saw of the server.
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

  // The host name or address of the next request; a verified certificate
  // must name it in its subjectAltName (its common name does not count).
  void SetExpectedHost(std::string_view AHost) { FExpectedHost = AHost; }
  // True once after a setting changed: the open connection was made with the old ones.
  bool TakeChanged();
  // A request over an open connection makes no handshake: an earlier refusal
  // must not be blamed on it.
  void ForgetFailure();
  // Sets up a new TLS context with these settings; false when a certificate,
  // key or CA cannot be used.
  bool PrepareContext(SSL_CTX* ACtx);
  // The request layer found the name wrong after the handshake.
  void NoteWrongName() { FProblems |= cpWrongName; }

  // Subject name of the server certificate seen in the last handshake.
  const std::string& PeerSubject() const { return FPeerSubject; }
  // SHA-256 digest (32 bytes) of that certificate; empty before any handshake.
  const std::string& PeerDigest() const { return FPeerDigest; }
  std::string PeerFingerprint() const { return FingerprintText(FPeerDigest); }

  // Why the server's certificate was not verified in the last handshake.
  // Nothing is recorded for failures elsewhere (connect, timeout), nor
  // without verification.
  enum TCertProblem : unsigned {
    cpSelfSigned = 1,
    cpUnknownIssuer = 2,
    cpExpired = 4,
    cpNotYetValid = 8,
    cpWrongName = 16,
    cpOther = 32,
  };
  bool NotVerified() const { return FProblems != 0; }
  unsigned Problems() const { return FProblems; }
  // The problems in words ("it is self-signed, it has expired"); empty when verified.
  std::string WhyNotVerified() const;
  // The certificate is not the pinned one.
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
  static int ImprintVerifyCallback(int APreverifyOk, X509_STORE_CTX* AStoreCtx);
  bool KeySetup(SSL_CTX* ACtx);
  bool AddCAFromMemory(SSL_CTX* ACtx);
  bool RequireNameInAltNames(SSL_CTX* ACtx) const;
  void NoteProblem(int AVerifyError);

  bool FVerifyCert = false;
  std::string FCertificateFile;
  std::string FCertificate;
  std::string FCertCAFile;
  std::string FCertCA;
  TBytes FCertCABytes;
  SecureString FPFX;
  std::string FImprint;
  std::string FExpectedHost;
  std::string FPeerSubject;
  std::string FPeerDigest;
  unsigned FProblems = 0;
  std::string FOtherProblem;  // OpenSSL's words for a problem without a name of ours
  bool FPinRefused = false;
  bool FChanged = false;
};

}  // namespace kof
