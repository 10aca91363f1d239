#pragma once
// The server's TLS identity: a self-signed certificate for 127.0.0.1 made at start.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace kof::testserver {

struct TX509Free {
  void operator()(X509* p) const { X509_free(p); }
};
struct TPKeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using TX509Ptr = std::unique_ptr<X509, TX509Free>;
using TPKeyPtr = std::unique_ptr<EVP_PKEY, TPKeyFree>;

struct TTlsIdentity {
  TX509Ptr Cert;
  TPKeyPtr Key;
};

// Throws std::runtime_error when OpenSSL refuses.
TTlsIdentity GenerateSelfSigned();
std::string CertificateToPem(X509* cert);
std::string CertificateToDer(X509* cert);
std::string PrivateKeyToPem(EVP_PKEY* key);

// A client certificate signed by ISSUER, its subject alternative names given in
// OpenSSL's configuration form ("otherName:2.5.4.3;UTF8:alice,email:a@b.c").
TTlsIdentity IssueClientCertificate(const TTlsIdentity& issuer, const std::string& commonName,
                                    const std::string& subjectAltNames);
// SHA-1 of the DER certificate, for tests that pin by imprint.
std::string CertificateSha1(X509* cert);

}  // namespace kof::testserver
