#include "tests/server/KofTestTls.h"

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace kof::testserver {
namespace {

constexpr const char* kHost = "127.0.0.1";

TPKeyPtr GenerateKey() {
  TPKeyPtr key(EVP_EC_gen("P-256"));
  if (!key) throw std::runtime_error("cannot generate the TLS key");
  return key;
}

void SetSubjectAndIssuer(X509* cert) {
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("kof-test-server"), -1, -1,
                             0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(kHost), -1, -1, 0);
  X509_set_issuer_name(cert, name);
}

void AddExtension(X509* cert, int nid, const char* value, X509* issuer = nullptr) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer ? issuer : cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (!ext) throw std::runtime_error("cannot build a certificate extension");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

void SetRandomSerial(X509* cert) {
  BIGNUM* bn = BN_new();
  BN_rand(bn, 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
  BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert));
  BN_free(bn);
}

// A fresh key and an unsigned certificate for it, valid for DAYS, backdated a
// day so that a client with a slightly wrong clock accepts it.
TTlsIdentity NewIdentity(long days) {
  TTlsIdentity identity;
  identity.Key = GenerateKey();
  identity.Cert.reset(X509_new());
  X509* cert = identity.Cert.get();
  if (!cert) throw std::runtime_error("cannot allocate a certificate");
  X509_set_version(cert, 2);
  SetRandomSerial(cert);
  X509_gmtime_adj(X509_getm_notBefore(cert), -24L * 3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), days * 24 * 3600);
  X509_set_pubkey(cert, identity.Key.get());
  return identity;
}

}  // namespace

TTlsIdentity GenerateSelfSigned() {
  TTlsIdentity identity = NewIdentity(365);
  X509* cert = identity.Cert.get();
  SetSubjectAndIssuer(cert);
  AddExtension(cert, NID_subject_alt_name, "IP:127.0.0.1");
  AddExtension(cert, NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(cert, NID_key_usage, "critical,digitalSignature,keyCertSign");
  AddExtension(cert, NID_ext_key_usage, "serverAuth");
  if (X509_sign(cert, identity.Key.get(), EVP_sha256()) == 0) throw std::runtime_error("cannot sign the certificate");
  return identity;
}

TTlsIdentity IssueClientCertificate(const TTlsIdentity& issuer, const std::string& commonName,
                                    const std::string& subjectAltNames) {
  TTlsIdentity identity = NewIdentity(30);
  X509* cert = identity.Cert.get();
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert, X509_get_subject_name(issuer.Cert.get()));
  if (!subjectAltNames.empty()) AddExtension(cert, NID_subject_alt_name, subjectAltNames.c_str(), issuer.Cert.get());
  AddExtension(cert, NID_ext_key_usage, "clientAuth", issuer.Cert.get());
  if (X509_sign(cert, issuer.Key.get(), EVP_sha256()) == 0) throw std::runtime_error("cannot sign the certificate");
  return identity;
}

std::string CertificateToDer(X509* cert) {
  unsigned char* data = nullptr;
  const int len = i2d_X509(cert, &data);
  if (len <= 0) return {};
  std::string der(reinterpret_cast<const char*>(data), static_cast<std::size_t>(len));
  OPENSSL_free(data);
  return der;
}

std::string PrivateKeyToPem(EVP_PKEY* key) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  long len = BIO_get_mem_data(bio, &data);
  std::string pem(data, static_cast<std::size_t>(len));
  BIO_free(bio);
  return pem;
}

std::string CertificateToPem(X509* cert) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, cert);
  char* data = nullptr;
  long len = BIO_get_mem_data(bio, &data);
  std::string pem(data, static_cast<std::size_t>(len));
  BIO_free(bio);
  return pem;
}

std::string CertificateSha1(X509* cert) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  X509_digest(cert, EVP_sha1(), digest, &len);
  return std::string(reinterpret_cast<const char*>(digest), len);
}

}  // namespace kof::testserver
