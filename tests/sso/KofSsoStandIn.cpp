// Stands in for the single-sign-on client's native host in tests and the demo.
// Started without arguments, as the plugin starts the real one, it reads what
// to do from gwarden_native_host.json in the folder it was started from:
//   {"behaviour": "answer" | "broken" | "silent" | "crash" | "garbage",
//    "status": 3 (a number, or a text such as "3"), "cert": "PEM file", "key": "PEM file"}
// "answer" sends {"status": ..., "cert": Base64 DER} (the certificate only when
// the key belongs to it); "broken" sends a frame that claims more bytes than it
// holds; "silent" reads the request and never answers; "crash" aborts; "garbage"
// sends a frame of bytes that are not JSON. The request it received is kept as
// request.bin beside it, for tests of what the plugin sends.
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "crypto/KofNaCL.h"

namespace {

using json = nlohmann::json;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Frame(const std::string& message, std::uint32_t claimed) {
  std::string frame;
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<char>((claimed >> (8 * i)) & 0xFF));
  return frame + message;
}

void Send(const std::string& bytes) {
  std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  std::cout.flush();
}

// The DER bytes of the certificate, or nothing when it cannot be read or the
// key given with it is not its key.
std::string CertificateDer(const std::string& certPem, const std::string& keyPem) {
  BIO* bio = BIO_new_mem_buf(certPem.data(), static_cast<int>(certPem.size()));
  X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  if (!cert) return {};
  bool matches = true;
  if (!keyPem.empty()) {
    bio = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    matches = key && X509_check_private_key(cert, key) == 1;
    EVP_PKEY_free(key);
  }
  unsigned char* der = nullptr;
  const int len = matches ? i2d_X509(cert, &der) : 0;
  X509_free(cert);
  std::string out = len > 0 ? std::string(reinterpret_cast<const char*>(der), static_cast<std::size_t>(len)) : "";
  OPENSSL_free(der);
  return out;
}

std::string ReadRequest() {
  std::string request((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  return request;
}

}  // namespace

int main(int, char** argv) {
  const std::filesystem::path folder = std::filesystem::path(argv[0]).parent_path();
  const json config = json::parse(ReadFile(folder / "gwarden_native_host.json"), nullptr, false);
  const std::string behaviour = config.is_object() ? config.value("behaviour", "answer") : "answer";
  std::ofstream(folder / "request.bin", std::ios::binary) << ReadRequest();

  if (behaviour == "crash") std::abort();
  if (behaviour == "silent") {
    for (;;) ::pause();
  }
  if (behaviour == "garbage") {
    Send(Frame("<html>not json", 14));
    return 0;
  }
  json answer = json::object();
  if (config.is_object() && config.contains("status")) answer["status"] = config["status"];
  if (config.is_object() && config.contains("cert")) {
    const std::string key = config.contains("key") ? ReadFile(config["key"].get<std::string>()) : "";
    const std::string der = CertificateDer(ReadFile(config["cert"].get<std::string>()), key);
    if (!der.empty()) answer["cert"] = kof::Base64Encode(der);
  }
  const std::string message = answer.dump();
  const auto length = static_cast<std::uint32_t>(message.size());
  Send(behaviour == "broken" ? Frame(message.substr(0, message.size() / 2), length) : Frame(message, length));
  return 0;
}
