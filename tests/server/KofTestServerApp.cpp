#include "tests/server/KofTestServerApp.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

#include "tests/server/KofTestAuthRoutes.h"
#include "tests/server/KofTestBinRoutes.h"
#include "tests/server/KofTestBoxRoutes.h"
#include "tests/server/KofTestPasswordRoutes.h"
#include "tests/server/KofTestRecordRoutes.h"
#include "tests/server/KofTestRequest.h"
#include "tests/server/KofTestSeed.h"
#include "tests/server/KofTestTls.h"

namespace kof::testserver {
namespace {

constexpr const char* kHost = "127.0.0.1";

class TFd {
 public:
  explicit TFd(int fd = -1) : FFd(fd) {}
  ~TFd() {
    if (FFd >= 0) close(FFd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return FFd; }

 private:
  int FFd;
};

// Waits for SIGTERM/SIGINT, the end of standard input or a wake-up from the
// main thread, whichever comes first, and then stops the server.
class TStopWatcher {
 public:
  TStopWatcher(httplib::Server& server, bool watchStdin) : FServer(server), FWatchStdin(watchStdin) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    FSignals = std::make_unique<TFd>(signalfd(-1, &signals, SFD_CLOEXEC));
    FWake = std::make_unique<TFd>(eventfd(0, EFD_CLOEXEC));
    FThread = std::thread([this] { Watch(); });
  }
  ~TStopWatcher() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = write(FWake->Get(), &one, sizeof one);
    FThread.join();
  }

 private:
  void Watch() {
    pollfd fds[3] = {{FWake->Get(), POLLIN, 0}, {FSignals->Get(), POLLIN, 0}, {FWatchStdin ? 0 : -1, POLLIN, 0}};
    bool fromOwner = false;
    for (;;) {
      if (poll(fds, 3, -1) < 0 && errno == EINTR) continue;
      if (fds[0].revents) {
        fromOwner = true;
        break;
      }
      if (fds[1].revents) break;
      if (fds[2].revents && StdinClosed()) break;
    }
    // A stop asked for before the listen loop has started would be lost.
    if (!fromOwner) WaitUntilListening();
    FServer.stop();
  }
  void WaitUntilListening() {
    for (int i = 0; i < 1000 && !FServer.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  static bool StdinClosed() {
    char buffer[256];
    return read(0, buffer, sizeof buffer) <= 0;
  }

  httplib::Server& FServer;
  bool FWatchStdin;
  std::unique_ptr<TFd> FSignals;
  std::unique_ptr<TFd> FWake;
  std::thread FThread;
};

void BlockStopSignals() {
  // Blocked before any thread starts, so that every thread inherits the mask
  // and only the watcher receives them (through its signalfd).
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

std::unique_ptr<httplib::SSLServer> MakeServer(const TServerOptions& options, TTlsIdentity& identity) {
  if (!options.CertFile.empty())
    return std::make_unique<httplib::SSLServer>(options.CertFile.c_str(), options.KeyFile.c_str());
  identity = GenerateSelfSigned();
  if (!options.CertOut.empty()) {
    std::ofstream out(options.CertOut, std::ios::binary | std::ios::trunc);
    out << CertificateToPem(identity.Cert.get());
    if (!out) throw std::runtime_error("cannot write " + options.CertOut);
  }
  return std::make_unique<httplib::SSLServer>(identity.Cert.get(), identity.Key.get());
}

void OnException(const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
  std::string what = "unexpected failure";
  try {
    std::rethrow_exception(ep);
  } catch (const nlohmann::json::exception& e) {
    SendError(res, 400, "err.request.invalid", {e.what()});
    return;
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  SendError(res, 500, "err.request.invalid", {what});
}

void RegisterRoutes(httplib::Server& server, TServerContext& ctx) {
  server.set_pre_routing_handler([&](const auto& req, auto& res) {
    ReadOptionsBody(req);
    return ApplyFaults(ctx, req, res);
  });
  server.set_logger([&](const auto& req, const auto& res) {
    ctx.Log.Add(req, res);
    ctx.Capture.Add(req);
  });
  server.set_exception_handler(OnException);
  RegisterAuthRoutes(server, ctx);
  RegisterBoxRoutes(server, ctx);
  RegisterRecordRoutes(server, ctx);
  RegisterBinRoutes(server, ctx);
  RegisterPasswordRoutes(server, ctx);
  RegisterControlRoutes(server, ctx);
}

bool WriteIssuedCertificate(TServerContext& ctx, const std::string& userAndFolder) {
  const std::size_t colon = userAndFolder.find(':');
  const std::string login = userAndFolder.substr(0, colon);
  const std::filesystem::path folder = userAndFolder.substr(colon + 1);
  TUser* user = ctx.State.FindUser(login, "");
  if (!user) {
    std::cerr << "kof-test-server: no user " << login << " to issue a certificate for\n";
    return false;
  }
  const nlohmann::json issued = IssueUserCertificate(ctx, *user, false);
  for (const auto& [name, member] : {std::pair{"user.pem", "cert"}, std::pair{"user.key", "key"}}) {
    const std::string path = (folder / name).string();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const std::string text = issued[member].get<std::string>();
    const bool written = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0) ::close(fd);
    if (!written) {
      std::cerr << "kof-test-server: cannot write " << path << "\n";
      return false;
    }
  }
  return true;
}

int BindLoopback(httplib::Server& server, int port) {
  if (port == 0) return server.bind_to_any_port(kHost);
  return server.bind_to_port(kHost, port) ? port : -1;
}

}  // namespace

int RunServer(const TServerOptions& options) {
  BlockStopSignals();
  auto ctx = std::make_unique<TServerContext>();
  TTlsIdentity identity;
  std::unique_ptr<httplib::SSLServer> server;
  try {
    ctx->Seed = options.SeedFile.empty() ? DefaultSeed() : ReadSeedFile(options.SeedFile);
    if (!options.StorageDir.empty()) ctx->Seed["server"]["storageDir"] = options.StorageDir;
    ctx->State = LoadSeed(ctx->Seed);
    server = MakeServer(options, identity);
  } catch (const std::exception& e) {
    std::cerr << "kof-test-server: " << e.what() << "\n";
    return 2;
  }
  if (!server->is_valid()) {
    std::cerr << "kof-test-server: the TLS certificate or key cannot be used\n";
    return 2;
  }
  RegisterRoutes(*server, *ctx);
  if (!options.IssueCertificate.empty() && !WriteIssuedCertificate(*ctx, options.IssueCertificate)) return 2;
  // A client keeps one connection for a whole session; answer at once (no Nagle delay).
  server->set_keep_alive_max_count(100000);
  server->set_keep_alive_timeout(60);
  server->set_tcp_nodelay(true);
  const int port = BindLoopback(*server, options.Port);
  if (port <= 0) {
    std::cerr << "kof-test-server: cannot listen on " << kHost << ":" << options.Port << "\n";
    return 2;
  }
  std::printf("listening on https://%s:%d/\n", kHost, port);
  std::fflush(stdout);
  TStopWatcher watcher(*server, options.WatchStdin);
  server->listen_after_bind();
  return 0;
}

}  // namespace kof::testserver
