#include "tests/client/KofRawServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "support/KofText.h"

namespace kof::test {

namespace {

std::string StatusLine(int status) { return "HTTP/1.1 " + std::to_string(status) + " Whatever\r\n"; }

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void ParseHead(TRawRequest& request) {
  std::size_t lineEnd = request.Head.find("\r\n");
  const std::string first = request.Head.substr(0, lineEnd);
  const std::size_t sp1 = first.find(' ');
  const std::size_t sp2 = first.find(' ', sp1 + 1);
  request.Method = first.substr(0, sp1);
  request.Target = first.substr(sp1 + 1, sp2 - sp1 - 1);
  while (lineEnd != std::string::npos && lineEnd + 2 < request.Head.size()) {
    const std::size_t start = lineEnd + 2;
    lineEnd = request.Head.find("\r\n", start);
    const std::string line = request.Head.substr(start, lineEnd - start);
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    request.Headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
  }
}

}  // namespace

const std::string* TRawRequest::Header(std::string_view AName) const {
  for (const auto& [name, value] : Headers)
    if (SameText(name, AName)) return &value;
  return nullptr;
}

int TRawRequest::HeaderCount(std::string_view AName) const {
  int count = 0;
  for (const auto& header : Headers) count += SameText(header.first, AName) ? 1 : 0;
  return count;
}

TReply JsonReply(int AStatus, std::string_view ABody, std::string_view AExtraHeaders) {
  return TextReply(AStatus, ABody, "application/json\r\n" + std::string(AExtraHeaders.empty() ? "" : AExtraHeaders));
}

TReply TextReply(int AStatus, std::string_view ABody, std::string_view AContentType) {
  std::string type(AContentType);
  if (!type.ends_with("\r\n")) type += "\r\n";
  // Extra header lines may follow the type; strip a trailing blank line.
  while (type.ends_with("\r\n\r\n")) type.resize(type.size() - 2);
  return {StatusLine(AStatus) + "Content-Type: " + type + "Content-Length: " + std::to_string(ABody.size()) +
          "\r\n\r\n" + std::string(ABody)};
}

TRawServer::TRawServer(THandler AHandler) : FHandler(std::move(AHandler)) {
  FListenFd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(FListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(FListenFd, 16) != 0)
    throw std::runtime_error("cannot listen on 127.0.0.1");
  socklen_t length = sizeof addr;
  ::getsockname(FListenFd, reinterpret_cast<sockaddr*>(&addr), &length);
  FPort = ntohs(addr.sin_port);
  FAcceptThread = std::thread([this] { AcceptLoop(); });
}

TRawServer::~TRawServer() {
  FStop = true;
  ::shutdown(FListenFd, SHUT_RDWR);
  ::close(FListenFd);
  FAcceptThread.join();
  {
    std::lock_guard lock(FLock);
    for (int fd : FOpenFds) ::shutdown(fd, SHUT_RDWR);
  }
  for (auto& thread : FThreads) thread.join();
}

std::vector<TRawRequest> TRawServer::Requests() const {
  std::lock_guard lock(FLock);
  return FRequests;
}

void TRawServer::SetHandler(THandler AHandler) {
  std::lock_guard lock(FLock);
  FHandler = std::move(AHandler);
}

void TRawServer::AcceptLoop() {
  int connection = 0;
  while (!FStop) {
    pollfd p{FListenFd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const int fd = ::accept(FListenFd, nullptr, nullptr);
    if (fd < 0) continue;
    std::lock_guard lock(FLock);
    FOpenFds.push_back(fd);
    FThreads.emplace_back([this, fd, id = ++connection] { Serve(fd, id); });
  }
}

bool TRawServer::SleepUnlessStopped(int AMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMs);
  while (std::chrono::steady_clock::now() < end) {
    if (FStop) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void TRawServer::CloseConnection(int AFd) {
  std::lock_guard lock(FLock);
  std::erase(FOpenFds, AFd);
  ::close(AFd);
}

void TRawServer::Serve(int AFd, int AConnection) {
  std::string buffer;
  char chunk[65536];
  for (;;) {
    std::size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
      const ssize_t n = ::recv(AFd, chunk, sizeof chunk, 0);
      if (n <= 0) return CloseConnection(AFd);
      buffer.append(chunk, static_cast<std::size_t>(n));
    }
    TRawRequest request;
    request.Connection = AConnection;
    request.Head = buffer.substr(0, headEnd + 2);
    ParseHead(request);
    const std::string* lengthText = request.Header("Content-Length");
    const std::size_t length = lengthText ? std::stoul(*lengthText) : 0;
    while (buffer.size() < headEnd + 4 + length) {
      const ssize_t n = ::recv(AFd, chunk, sizeof chunk, 0);
      if (n <= 0) return CloseConnection(AFd);
      buffer.append(chunk, static_cast<std::size_t>(n));
    }
    request.Body = buffer.substr(headEnd + 4, length);
    buffer.erase(0, headEnd + 4 + length);
    THandler handler;
    {
      std::lock_guard lock(FLock);
      FRequests.push_back(request);
      handler = FHandler;
    }
    const TReply reply = handler(request);
    if ((reply.DelayMs > 0 && !SleepUnlessStopped(reply.DelayMs)) || !WriteReply(AFd, reply) || reply.CloseAfter) {
      ::shutdown(AFd, SHUT_RDWR);
      return CloseConnection(AFd);
    }
  }
}

bool TRawServer::WriteReply(int AFd, const TReply& AReply) {
  if (AReply.TrickleMs <= 0) return WriteAll(AFd, AReply.Raw);
  // Without an end of the head, the head itself trickles.
  const std::string_view raw = AReply.Raw;
  const std::size_t headEnd = raw.find("\r\n\r\n");
  const std::size_t bodyStart = headEnd == std::string_view::npos ? 0 : headEnd + 4;
  if (!WriteAll(AFd, raw.substr(0, bodyStart))) return false;
  for (std::size_t i = bodyStart; i < raw.size(); ++i)
    if (!SleepUnlessStopped(AReply.TrickleMs) || !WriteAll(AFd, raw.substr(i, 1))) return false;
  return true;
}

}  // namespace kof::test
