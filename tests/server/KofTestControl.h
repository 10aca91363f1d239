#pragma once
// Fault switches and the control endpoints under /__control/ (see README.md).
#include <httplib.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace kof::testserver {

struct TServerContext;
struct TUser;

enum class TFaultKind { Delay, Fail, Drop, Garbage, Expire, Trickle };

struct TFault {
  int Id = 0;
  std::string Path;    // "/safe/boxes"; a trailing "*" matches every path with that prefix
  std::string Method;  // empty: any method
  TFaultKind Kind = TFaultKind::Fail;
  int DelayMs = 0;
  int Status = 500;
  std::string Body;
  std::string ContentType = "application/json";
  int Times = -1;  // how many requests it hits; -1: until removed
  int After = 0;   // how many matching requests pass before it hits
};

// Thread-safe on its own: faults are looked up before the vault lock is taken,
// so that a delay never holds up other requests.
class TFaultTable {
 public:
  int Add(TFault fault);
  void Clear();
  nlohmann::json List() const;
  // Takes one use of the first fault matching the request.
  std::optional<TFault> Take(const std::string& method, const std::string& path);

 private:
  mutable std::mutex FLock;
  std::vector<TFault> FFaults;
  int FNextId = 1;
};

// Which requests arrived: method, path, status and the names (never the values)
// of the client-encryption headers, for tests that check what a client sent.
class TRequestLog {
 public:
  void Add(const httplib::Request& req, const httplib::Response& res);
  nlohmann::json List() const;
  void Clear();

 private:
  mutable std::mutex FLock;
  std::deque<nlohmann::json> FEntries;
};

// Whole requests (method, raw target, the headers that carry meaning, body
// bytes) to the paths a test asked for, so it can check what a client sent
// byte for byte. Off until armed; values are kept only while it is armed.
class TRequestCapture {
 public:
  void Arm(std::string pattern);  // a path; a trailing "*" matches every path with that prefix
  void Disarm();
  void Add(const httplib::Request& req);
  nlohmann::json List() const;

 private:
  mutable std::mutex FLock;
  std::string FPattern;
  std::deque<nlohmann::json> FEntries;
};

std::optional<TFault> FaultFromJson(const nlohmann::json& in, std::string& error);

// Pre-routing step of every request: applies a matching fault.
httplib::Server::HandlerResponse ApplyFaults(TServerContext& ctx, const httplib::Request& req, httplib::Response& res);
void RegisterControlRoutes(httplib::Server& server, TServerContext& ctx);
// A client certificate for the user, signed by the server's user CA, that the
// user's certificate login accepts from then on: {"cert": PEM, "key": PEM}.
// Takes the context's lock.
nlohmann::json IssueUserCertificate(TServerContext& ctx, TUser& user, bool hwToken);

}  // namespace kof::testserver
