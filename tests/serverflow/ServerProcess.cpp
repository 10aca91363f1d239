#include "tests/serverflow/ServerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kof::testserver::flow {
namespace {

using nlohmann::json;

struct TPipe {
  int Read = -1;
  int Write = -1;
  TPipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    Read = fds[0];
    Write = fds[1];
  }
};

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

pid_t Spawn(const std::vector<std::string>& args, int stdinFd, int stdoutFd, int stderrFd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
  if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
  if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&actions, stderrFd, 2);
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
  return pid;
}

std::string ReadLine(int fd, std::chrono::milliseconds timeout) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (line.empty() || line.back() != '\n') {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd pfd{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
    char c;
    if (read(fd, &c, 1) != 1) break;
    line.push_back(c);
  }
  return line;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

}  // namespace

TTempDir::TTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/kof-serverflow-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  FPath = pattern;
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(FPath, ec);
}

std::string ServerExecutable() {
  const char* dir = std::getenv("KOF_BINARY_DIR");
  return std::string(dir ? dir : ".") + "/kof-test-server";
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

TServerProcess::TServerProcess(const json& seed, std::vector<std::string> extraArgs) {
  const std::string seedFile = FDir.Path("seed.json");
  WriteFile(seedFile, seed.dump(2));
  FCertFile = FDir.Path("server.pem");
  std::vector<std::string> args = {ServerExecutable(), "--port", "0", "--seed", seedFile, "--cert-out", FCertFile};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  TPipe in, out;
  FPid = Spawn(args, in.Read, out.Write, -1);
  close(in.Read);
  close(out.Write);
  FStdin = in.Write;
  FFirstLine = ReadLine(out.Read, std::chrono::seconds(20));
  close(out.Read);
  const std::string prefix = "listening on https://127.0.0.1:";
  if (FFirstLine.rfind(prefix, 0) == 0) FPort = std::atoi(FFirstLine.c_str() + prefix.size());
  if (FPort <= 0) {
    CloseStdin();
    WaitForExit(std::chrono::seconds(5));
    throw std::runtime_error("the server did not start: " + FFirstLine);
  }
}

TServerProcess::~TServerProcess() {
  CloseStdin();
  if (!WaitForExit(std::chrono::seconds(10)).Exited && FPid > 0) {
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
  }
}

void TServerProcess::CloseStdin() { CloseFd(FStdin); }

TExit TServerProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (FPid <= 0) return {true, 0};
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    if (waitpid(FPid, &status, WNOHANG) == FPid) {
      FPid = -1;
      return {true, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)};
    }
    if (std::chrono::steady_clock::now() > deadline) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TRunResult RunServerToExit(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {ServerExecutable()};
  argv.insert(argv.end(), args.begin(), args.end());
  TPipe in, err;
  const pid_t pid = Spawn(argv, in.Read, -1, err.Write);
  close(in.Read);
  close(in.Write);
  close(err.Write);
  TRunResult result;
  result.Stderr = ReadAll(err.Read);
  close(err.Read);
  int status = 0;
  waitpid(pid, &status, 0);
  result.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TApi::TApi(const TServerProcess& server) : FClient("https://127.0.0.1:" + std::to_string(server.Port())) {
  FClient.set_ca_cert_path(server.CertFile().c_str());
  FClient.enable_server_certificate_verification(true);
  FClient.set_read_timeout(10, 0);
}

httplib::Headers TApi::Headers(httplib::Headers extra) const {
  if (!FCookie.empty()) extra.emplace("Cookie", FCookie);
  if (!FAccessCode.empty() && !extra.count("KOF-Access-Code")) extra.emplace("KOF-Access-Code", FAccessCode);
  return extra;
}

void TApi::TakeCookie(const httplib::Result& result) {
  if (!result || !result->has_header("Set-Cookie")) return;
  const std::string cookie = result->get_header_value("Set-Cookie");
  FCookie = cookie.substr(0, cookie.find(';'));
}

httplib::Result TApi::Get(const std::string& path, httplib::Headers extra) {
  return FClient.Get(path, Headers(std::move(extra)));
}

httplib::Result TApi::Post(const std::string& path, const std::string& body, const std::string& type,
                           httplib::Headers extra) {
  auto result = FClient.Post(path, Headers(std::move(extra)), body, type);
  TakeCookie(result);
  return result;
}

httplib::Result TApi::PostJson(const std::string& path, const json& body, httplib::Headers extra) {
  return Post(path, body.dump(), "application/json", std::move(extra));
}

httplib::Result TApi::PutJson(const std::string& path, const json& body, httplib::Headers extra) {
  return FClient.Put(path, Headers(std::move(extra)), body.dump(), "application/json");
}

httplib::Result TApi::Delete(const std::string& path, const std::string& body, httplib::Headers extra) {
  return FClient.Delete(path, Headers(std::move(extra)), body, "application/json");
}

httplib::Result TApi::Login(const std::string& login, const std::string& password) {
  return Post("/api/login", "login=" + login + "&password=" + password);
}

json Control(TApi& api, const std::string& method, const std::string& path, const json& body) {
  const std::string text = body.is_null() ? "" : body.dump();
  httplib::Result result = method == "GET"      ? api.Raw().Get(path)
                           : method == "DELETE" ? api.Raw().Delete(path)
                                                : api.Raw().Post(path, text, "application/json");
  if (!result || result->status != 200) throw std::runtime_error("control request failed: " + path);
  return json::parse(result->body);
}

json JsonOf(const httplib::Result& result) {
  if (!result) return nullptr;
  return json::parse(result->body, nullptr, false);
}

std::string ErrorKeyOf(const httplib::Result& result) {
  json body = JsonOf(result);
  if (!body.is_object() || !body.contains("msg") || !body["msg"].is_array() || body["msg"].empty()) return "";
  const std::string message = body["msg"][0].value("message", "");
  if (message.rfind("m:", 0) != 0) return "";
  return message.substr(2, message.find('[') == std::string::npos ? std::string::npos : message.find('[') - 2);
}

}  // namespace kof::testserver::flow
