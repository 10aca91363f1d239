// Listing a large safe box through the exports, as a file manager does, against
// kof-test-server: time and HTTP requests per listing, peak memory, and the time
// the curl command line (one connection) takes to fetch the same records answer.
// It prints figures and judges none of them.
//
// usage: bench_plugin [build folder] (default: $KOF_BINARY_DIR, else two folders above this program)
// A Linux measuring program beside the plugin: it starts the server and the
// curl command line with the system's own calls.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "bench/plugin/BenchPluginCommon.h"

namespace {

using nlohmann::json;
using TClock = std::chrono::steady_clock;
namespace fs = std::filesystem;
namespace flow = kof::testserver::flow;
using kof::bench::BuildDir;
using kof::bench::ResetPeak;
using kof::bench::RunCurlConfig;
using kof::bench::StatusKiB;

constexpr int kRuns = 3;

struct TBox {
  int Id;
  std::string Name;
  int Records;
};
const std::vector<TBox> kBoxes = {{1, "Box1k", 1000}, {2, "Box10k", 10000}};

double Seconds(TClock::time_point start) { return std::chrono::duration<double>(TClock::now() - start).count(); }

// Every record kind in turn; one record in 25 is an external file.
json Record(int id, int n) {
  const std::string name = "record " + std::to_string(n);
  if (n % 25 == 0)
    return {{"id", id},
            {"template", "external-file"},
            {"name", name + ".bin"},
            {"attributes",
             {{"efFileName", name + ".bin"},
              {"efFilePath", "koffra-ext/" + std::to_string(id) + ".kofx"},
              {"efKey", std::string(64, 'A')},
              {"efIV", std::string(24, 'B')},
              {"efAAD", std::string(32, 'C')},
              {"fileSize", 1000 + n}}}};
  switch (n % 5) {
    case 0:
      return {{"id", id}, {"template", "account"}, {"name", name}, {"loginName", "user"}, {"password", "pw"}};
    case 1:
      return {{"id", id}, {"template", "account-sec"}, {"name", name}, {"password", "pw"}};
    case 2:
      return {{"id", id}, {"template", "ccard"}, {"name", name}, {"attributes", {{"number", "4111111111111111"}}}};
    case 3:
      return {{"id", id},
              {"template", "file"},
              {"name", name},
              {"fileName", name + ".txt"},
              {"contentText", "content of " + name}};
    default:
      return {{"id", id},
              {"template", "cert"},
              {"name", name},
              {"fileName", name + ".pem"},
              {"contentText", "certificate " + name}};
  }
}

json Seed() {
  json boxes = json::array();
  int id = 100;
  for (const auto& box : kBoxes) {
    json records = json::array();
    for (int n = 0; n < box.Records; ++n) records.push_back(Record(++id, n));
    boxes.push_back({{"id", box.Id}, {"name", box.Name}, {"records", records}});
  }
  return {{"users", {{{"login", "demo"}, {"password", "demo"}, {"accessCode", "1234"}}}}, {"boxes", boxes}};
}

// "GET /a x2, POST /b" in the order first seen.
std::string RequestSummary(const json& log) {
  std::vector<std::pair<std::string, int>> counts;
  for (const auto& entry : log) {
    const std::string request = entry.value("method", "") + " " + entry.value("path", "");
    auto it = std::find_if(counts.begin(), counts.end(), [&](const auto& c) { return c.first == request; });
    if (it == counts.end())
      counts.emplace_back(request, 1);
    else
      ++it->second;
  }
  std::string text;
  for (const auto& [request, n] : counts)
    text += (text.empty() ? "" : ", ") + request + (n > 1 ? " x" + std::to_string(n) : "");
  return text;
}

// A private configuration, and the server's certificate is answered with Yes.
class TBench {
 public:
  TBench(const std::string& buildDir, const std::string& work) : FServer(Seed()), FApi(FServer) {
    kof::bench::LoginBench(FPlugin, FLogin, buildDir, work, BaseURL(), "bench_plugin");
  }

  std::string BaseURL() const { return "https://127.0.0.1:" + std::to_string(FServer.Port()) + "/"; }

  void ListBox(const TBox& box) {
    const std::string path = "/Bench/" + box.Name;
    std::printf("%s (%d records):\n", box.Name.c_str(), box.Records);
    ResetPeak();
    const long before = StatusKiB("VmRSS:");
    double best = 0;
    for (int run = 0; run < kRuns; ++run) {
      flow::Control(FApi, "DELETE", "/__control/requests");
      const auto start = TClock::now();
      const std::size_t entries = FPlugin.List(path).size();
      const double seconds = Seconds(start);
      const json log = flow::Control(FApi, "GET", "/__control/requests");
      best = run == 0 ? seconds : std::min(best, seconds);
      std::printf("  listing %d: %.3f s, %zu entries, %zu HTTP requests%s: %s\n", run + 1, seconds, entries, log.size(),
                  log.size() >= 1000 ? " (the server keeps the last 1000: at least this many)" : "",
                  RequestSummary(log).c_str());
    }
    std::printf("  memory: %ld KiB before the listings, peak %ld KiB while listing\n", before, StatusKiB("VmHWM:"));
    // Both sides get their best of the same number of runs: one run of either is noisy.
    double curl = -1;
    for (int run = 0; run < kRuns; ++run) {
      const double seconds = CurlRecords(box.Id);
      if (seconds > 0) curl = curl < 0 ? seconds : std::min(curl, seconds);
    }
    if (curl > 0)
      std::printf("  curl, one connection, the same records answer (best run): %.3f s; best listing / curl: %.1f\n", curl,
                  best / curl);
  }

 private:
  [[noreturn]] static void Fail(const char* what) { kof::bench::Fail("bench_plugin", what); }

  // One curl run: log in, then fetch the records; the time is curl's own for the
  // records request. Credentials go into a private config file, never on a command line.
  double CurlRecords(int boxId) {
    std::string times;
    const bool ok = RunCurlConfig(
        "silent\ncacert = \"" + FServer.CertFile() + "\"\ncookie = \"\"\n" + "url = \"" + BaseURL() +
            "api/login\"\ndata = \"login=demo&password=demo\"\noutput = \"/dev/null\"\n" + "next\nsilent\ncacert = \"" +
            FServer.CertFile() + "\"\ncookie = \"\"\n" +
            "write-out = \"%{time_total} %{num_connects} %{size_download}\\n\"\n" + "url = \"" + BaseURL() +
            "safe/boxes/" + std::to_string(boxId) + "/records\"\noutput = \"/dev/null\"\n",
        times);
    if (!ok) {
      std::printf("  curl failed\n");
      return -1;
    }
    double seconds = -1;
    long connects = 0, bytes = 0;
    std::istringstream(times) >> seconds >> connects >> bytes;
    std::printf("  curl: %ld bytes, %ld new connection(s) for the records request\n", bytes, connects);
    return seconds;
  }

  flow::TServerProcess FServer;
  flow::TApi FApi;
  wfxhost::Plugin FPlugin;
  kof::test::TLogin FLogin;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string buildDir = BuildDir(argc, argv);
  ::setenv("KOF_BINARY_DIR", buildDir.c_str(), 1);  // where the server process starter looks
  flow::TTempDir work;
  const std::string dir = work.Path("bench");
  const auto start = TClock::now();
  TBench bench(buildDir, dir);
  std::printf("server start and login: %.3f s\n", Seconds(start));
  for (const auto& box : kBoxes) bench.ListBox(box);
  return 0;
}
