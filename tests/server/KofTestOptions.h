#pragma once
// Command line of kof-test-server.
#include <optional>
#include <string>
#include <vector>

namespace kof::testserver {

struct TServerOptions {
  int Port = 0;          // 0: pick a free port
  std::string SeedFile;  // empty: an empty vault with one demo user
  std::string CertFile;  // with KeyFile: serve this certificate instead of a generated one
  std::string KeyFile;
  std::string CertOut;     // write the generated certificate (PEM) here
  bool WatchStdin = true;  // stop when standard input closes
  // USER:FOLDER: issue a client certificate for USER at start and write it as
  // FOLDER/user.pem and FOLDER/user.key (for the single-sign-on stand-in).
  std::string IssueCertificate;
  // The local folder that stands for the server's external-files share.
  std::string StorageDir;
};

struct TParseResult {
  std::optional<TServerOptions> Options;
  std::string Error;  // set when Options is empty and the caller should fail
  bool ShowHelp = false;
};

TParseResult ParseOptions(const std::vector<std::string>& args);
std::string UsageText();

}  // namespace kof::testserver
