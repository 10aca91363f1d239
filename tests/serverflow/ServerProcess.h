#pragma once
// Runs kof-test-server as a child process for one test and talks to it over
// HTTPS with the server's own certificate as the only trusted one.
#include <httplib.h>
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace kof::testserver::flow {

class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  std::string Path(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

std::string ServerExecutable();
void WriteFile(const std::string& path, const std::string& text);

struct TExit {
  bool Exited = false;
  int Code = -1;
};

class TServerProcess {
 public:
  // Starts with the seed given as JSON (written to a file) and extra arguments.
  explicit TServerProcess(const nlohmann::json& seed, std::vector<std::string> extraArgs = {});
  ~TServerProcess();
  TServerProcess(const TServerProcess&) = delete;
  TServerProcess& operator=(const TServerProcess&) = delete;

  int Port() const { return FPort; }
  const std::string& CertFile() const { return FCertFile; }
  const std::string& FirstLine() const { return FFirstLine; }
  pid_t Pid() const { return FPid; }

  void CloseStdin();
  TExit WaitForExit(std::chrono::milliseconds timeout);

 private:
  TTempDir FDir;
  std::string FCertFile;
  std::string FFirstLine;
  pid_t FPid = -1;
  int FStdin = -1;
  int FPort = 0;
};

// Runs the server with `args` until it exits (for start-up failures).
struct TRunResult {
  int Code = -1;
  std::string Stderr;
};
TRunResult RunServerToExit(const std::vector<std::string>& args);

// One client session: keeps the session cookie and an optional access code header.
class TApi {
 public:
  explicit TApi(const TServerProcess& server);

  httplib::Result Get(const std::string& path, httplib::Headers extra = {});
  httplib::Result Post(const std::string& path, const std::string& body,
                       const std::string& type = "application/x-www-form-urlencoded", httplib::Headers extra = {});
  httplib::Result PostJson(const std::string& path, const nlohmann::json& body, httplib::Headers extra = {});
  httplib::Result PutJson(const std::string& path, const nlohmann::json& body, httplib::Headers extra = {});
  httplib::Result Delete(const std::string& path, const std::string& body = "", httplib::Headers extra = {});

  // POST api/login. Every POST keeps the session cookie its answer sets.
  httplib::Result Login(const std::string& login, const std::string& password);
  void SetAccessCode(const std::string& code) { FAccessCode = code; }
  void ForgetSession() { FCookie.clear(); }
  httplib::Client& Raw() { return FClient; }

 private:
  httplib::Headers Headers(httplib::Headers extra) const;
  void TakeCookie(const httplib::Result& result);

  httplib::Client FClient;
  std::string FCookie;
  std::string FAccessCode;
};

// The control endpoints, without session.
nlohmann::json Control(TApi& api, const std::string& method, const std::string& path, const nlohmann::json& body = {});

nlohmann::json JsonOf(const httplib::Result& result);
// The key of an "m:" error body, or "" when the body has another shape.
std::string ErrorKeyOf(const httplib::Result& result);

}  // namespace kof::testserver::flow
