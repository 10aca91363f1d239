#pragma once
// A self-signed certificate for 127.0.0.1, made fresh for each test run, and
// a small HTTPS server around it.
#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

namespace kof::test {

struct TTestCertificate {
  std::shared_ptr<X509> Cert;
  std::shared_ptr<EVP_PKEY> Key;
  std::string DER;
  std::string Digest(const EVP_MD* AMd) const;
};

struct TCertificateShape {
  bool AltName = true;        // subjectAltName IP:127.0.0.1 beside the common name 127.0.0.1
  long ValidFromSec = -3600;  // relative to now
  long ValidToSec = 86400;
};

TTestCertificate MakeSelfSignedCertificate(const TCertificateShape& AShape = {});

class THttpsServer {
 public:
  explicit THttpsServer(const TTestCertificate& ACertificate);
  ~THttpsServer();
  httplib::SSLServer& Server() { return *FServer; }
  std::string BaseURL() const { return "https://127.0.0.1:" + std::to_string(FPort) + "/"; }
  void Start();

 private:
  std::unique_ptr<httplib::SSLServer> FServer;
  int FPort = 0;
  std::thread FThread;
};

}  // namespace kof::test
