#pragma once
// Installs the stand-in native host in a folder and registers it as the
// single-sign-on client does (the machine-wide store must already point at a
// test folder), with what it is to answer.
#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/KofRegistry.h"

namespace kof::test {

class TSsoStandIn {
 public:
  // STANDIN: the built stand-in program; FOLDER: where it is installed.
  TSsoStandIn(const std::filesystem::path& standIn, const std::filesystem::path& folder) : FFolder(folder) {
    std::filesystem::create_directories(folder);
    std::filesystem::remove(folder / "gwarden_native_host");
    std::filesystem::create_symlink(standIn, folder / "gwarden_native_host");
    TKofRegistry registry(TRegRoot::LocalMachine);
    registry.OpenKey("Software\\Varnok\\Gatewarden SSO Client", true);
    registry.WriteString("api", (folder / "gwarden_api.dll").string());
  }

  // The built stand-in, from the build folder the tests run in.
  static std::filesystem::path Built(const std::string& buildDir) { return std::filesystem::path(buildDir) / "kof-sso-standin"; }

  void Answer(const nlohmann::json& config) {
    std::ofstream(FFolder / "gwarden_native_host.json", std::ios::trunc) << config.dump();
  }
  // Answers as an authenticated client holding this certificate and key.
  void AnswerWith(const std::string& certPem, const std::string& keyPem, const nlohmann::json& status = 3) {
    std::ofstream(FFolder / "user.pem", std::ios::trunc) << certPem;
    std::ofstream(FFolder / "user.key", std::ios::trunc) << keyPem;
    Answer({{"status", status}, {"cert", (FFolder / "user.pem").string()}, {"key", (FFolder / "user.key").string()}});
  }
  std::string Request() const {
    std::ifstream in(FFolder / "request.bin", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  const std::filesystem::path& Folder() const { return FFolder; }

 private:
  std::filesystem::path FFolder;
};

}  // namespace kof::test
