#pragma once
// A scripted HTTP/1.1 server on 127.0.0.1 for request-layer tests: it keeps
// every request byte for byte, tells connections apart, and answers with raw
// bytes, so slow, cut-off and oversized answers are easy to stage.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kof::test {

struct TRawRequest {
  int Connection = 0;  // 1 for the first connection, 2 for the next, ...
  std::string Head;    // request line and header lines, up to the empty line
  std::string Body;
  std::string Method;
  std::string Target;
  // Value of the first header of that name (case-insensitive); nullptr when absent.
  const std::string* Header(std::string_view AName) const;
  int HeaderCount(std::string_view AName) const;
  std::vector<std::pair<std::string, std::string>> Headers;
};

struct TReply {
  std::string Raw;
  int DelayMs = 0;          // before the first byte
  bool CloseAfter = false;  // drop the connection after writing
  int TrickleMs = 0;        // when set, the body goes out one byte after each such pause
};

TReply JsonReply(int AStatus, std::string_view ABody, std::string_view AExtraHeaders = {});
TReply TextReply(int AStatus, std::string_view ABody, std::string_view AContentType = "text/plain");

class TRawServer {
 public:
  using THandler = std::function<TReply(const TRawRequest&)>;

  explicit TRawServer(THandler AHandler);
  ~TRawServer();
  TRawServer(const TRawServer&) = delete;
  TRawServer& operator=(const TRawServer&) = delete;

  int Port() const { return FPort; }
  std::string BaseURL() const { return "http://127.0.0.1:" + std::to_string(FPort) + "/"; }
  std::vector<TRawRequest> Requests() const;
  void SetHandler(THandler AHandler);

 private:
  void AcceptLoop();
  void Serve(int AFd, int AConnection);
  bool SleepUnlessStopped(int AMs);
  bool WriteReply(int AFd, const TReply& AReply);
  void CloseConnection(int AFd);

  int FListenFd = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  mutable std::mutex FLock;
  THandler FHandler;
  std::vector<TRawRequest> FRequests;
  std::vector<int> FOpenFds;
  std::vector<std::thread> FThreads;
  std::thread FAcceptThread;
};

}  // namespace kof::test
