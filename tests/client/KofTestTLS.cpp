#include "tests/client/KofTestTLS.h"

#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <stdexcept>

namespace kof::test {

namespace {

void AddExtension(X509* cert, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (ext == nullptr) throw std::runtime_error("extension");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

}  // namespace

std::string TTestCertificate::Digest(const EVP_MD* AMd) const {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  X509_digest(Cert.get(), AMd, digest, &length);
  return std::string(reinterpret_cast<char*>(digest), length);
}

TTestCertificate MakeSelfSignedCertificate(const TCertificateShape& AShape) {
  TTestCertificate result;
  result.Key.reset(EVP_EC_gen("P-256"), EVP_PKEY_free);
  result.Cert.reset(X509_new(), X509_free);
  X509* cert = result.Cert.get();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), AShape.ValidFromSec);
  X509_gmtime_adj(X509_getm_notAfter(cert), AShape.ValidToSec);
  X509_set_pubkey(cert, result.Key.get());
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1,
                             0);
  X509_set_issuer_name(cert, name);
  AddExtension(cert, NID_basic_constraints, "critical,CA:TRUE");
  if (AShape.AltName) AddExtension(cert, NID_subject_alt_name, "IP:127.0.0.1");
  if (X509_sign(cert, result.Key.get(), EVP_sha256()) == 0) throw std::runtime_error("sign");
  const int length = i2d_X509(cert, nullptr);
  result.DER.resize(static_cast<std::size_t>(length));
  auto* out = reinterpret_cast<unsigned char*>(result.DER.data());
  i2d_X509(cert, &out);
  return result;
}

THttpsServer::THttpsServer(const TTestCertificate& ACertificate)
    : FServer(std::make_unique<httplib::SSLServer>(ACertificate.Cert.get(), ACertificate.Key.get())) {
  FPort = FServer->bind_to_any_port("127.0.0.1");
}

void THttpsServer::Start() {
  FThread = std::thread([this] { FServer->listen_after_bind(); });
  while (!FServer->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

THttpsServer::~THttpsServer() {
  FServer->stop();
  if (FThread.joinable()) FThread.join();
}

}  // namespace kof::test
