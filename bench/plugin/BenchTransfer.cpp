// Copying a large file record out of a vault and a large local file into it
// through the exports, as a file manager does, against kof-test-server; beside
// it curl downloads and uploads the same bytes from the same server in the same
// run. Prints the rates, their ratio and the growth of this process's peak
// memory (the plugin runs in it) and judges none of them.
//
// usage: bench_transfer [build folder] [MiB ...] (default sizes: 16 256)
// A Linux measuring program beside the plugin: it starts the server and the
// curl command line with the system's own calls.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/plugin/BenchPluginCommon.h"

namespace {

using nlohmann::json;
using TClock = std::chrono::steady_clock;
namespace fs = std::filesystem;
namespace flow = kof::testserver::flow;
using kof::bench::ResetPeak;
using kof::bench::RunCurlConfig;
using kof::bench::StatusKiB;

constexpr const char* kBox = "/Bench/Files";

double Seconds(TClock::time_point start) { return std::chrono::duration<double>(TClock::now() - start).count(); }
double MBps(std::int64_t bytes, double seconds) { return seconds > 0 ? bytes / 1e6 / seconds : 0; }

json Seed() {
  return {{"server", {{"fileSizeLimit", -1}}},
          {"users", {{{"login", "demo"}, {"password", "demo"}, {"accessCode", "1234"}}}},
          {"boxes", {{{"id", 1}, {"name", "Files"}}}}};
}

// SIZE bytes that do not compress, written through a small buffer.
void WriteContent(const std::string& path, std::int64_t size) {
  std::ofstream out(path, std::ios::binary);
  std::mt19937_64 random(42);
  std::vector<std::uint64_t> block(1 << 14);
  for (std::int64_t left = size; left > 0;) {
    for (auto& word : block) word = random();
    const auto n = static_cast<std::streamsize>(std::min<std::int64_t>(left, block.size() * sizeof block[0]));
    out.write(reinterpret_cast<const char*>(block.data()), n);
    left -= n;
  }
}

bool SameContent(const std::string& a, const std::string& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> p(1 << 20), q(1 << 20);
  while (x && y) {
    x.read(p.data(), p.size());
    y.read(q.data(), q.size());
    if (x.gcount() != y.gcount() || !std::equal(p.begin(), p.begin() + x.gcount(), q.begin())) return false;
  }
  return x.eof() && y.eof();
}

class TBench {
 public:
  TBench(const std::string& buildDir, const std::string& work) : FWork(work), FServer(Seed()), FApi(FServer) {
    kof::bench::LoginBench(FPlugin, FLogin, buildDir, work, BaseURL(), "bench_transfer");
    FPlugin.List(kBox);
  }

  void Run(int mib) {
    const std::int64_t size = static_cast<std::int64_t>(mib) << 20;
    const std::string name = "file" + std::to_string(mib) + ".bin";
    const std::string source = FWork + "/local/" + name;
    const std::string copy = FWork + "/local/out-" + name;
    const std::string curlCopy = FWork + "/local/curl-" + name;
    WriteContent(source, size);
    std::printf("%d MiB:\n", mib);
    // Each pair runs back to back from clean pages: a file still being written
    // back to the disk would slow whichever transfer came first.
    ::sync();

    flow::Control(FApi, "DELETE", "/__control/requests");
    ResetPeak();
    long before = StatusKiB("VmRSS:");
    auto start = TClock::now();
    if (FPlugin.Put(source, std::string(kBox) + "/" + name, 0).Code != wfx::FS_FILE_OK) Fail("the copy in failed");
    const double putSeconds = Seconds(start);
    const long putGrowth = StatusKiB("VmHWM:") - before;
    const int id = UploadedId();
    const double curlPut = Curl("form = \"file=@" + source + "\"\nurl = \"" + BaseURL() + "safe/records/" +
                                std::to_string(id) + "/upload/file\"\noutput = \"/dev/null\"\n");
    FPlugin.List(kBox);
    // The first upload also made the server grow its memory for the content;
    // curl's wrote over it. The plugin writing over it again meets the server as curl did.
    ResetPeak();
    before = StatusKiB("VmRSS:");
    start = TClock::now();
    if (FPlugin.Put(source, std::string(kBox) + "/" + name, wfx::FS_COPYFLAGS_OVERWRITE).Code != wfx::FS_FILE_OK)
      Fail("the copy in over the record failed");
    const double overSeconds = Seconds(start);
    const long overGrowth = StatusKiB("VmHWM:") - before;

    ResetPeak();
    before = StatusKiB("VmRSS:");
    start = TClock::now();
    if (FPlugin.Get(std::string(kBox) + "/" + name, copy, 0).Code != wfx::FS_FILE_OK) Fail("the copy out failed");
    const double getSeconds = Seconds(start);
    const long getGrowth = StatusKiB("VmHWM:") - before;
    ::sync();
    const double curlGet = Curl("data = \"KOF-Access-Code=1234\"\nurl = \"" + BaseURL() + "safe/records/" +
                                std::to_string(id) + "/download/file\"\noutput = \"" + curlCopy + "\"\n");
    if (!SameContent(source, copy)) Fail("the copy out differs from the file copied in");
    if (curlGet > 0 && !SameContent(source, curlCopy)) Fail("curl's download differs from the file");
    Print("copy out", size, getSeconds, curlGet, getGrowth);
    Print("copy in ", size, putSeconds, curlPut, putGrowth);
    Print("copy in over the record", size, overSeconds, curlPut, overGrowth);
    for (const std::string& path : {source, copy, curlCopy}) fs::remove(path);
  }

 private:
  std::string BaseURL() const { return "https://127.0.0.1:" + std::to_string(FServer.Port()) + "/"; }

  [[noreturn]] static void Fail(const char* what) { kof::bench::Fail("bench_transfer", what); }

  static void Print(const char* what, std::int64_t size, double plugin, double curl, long growthKiB) {
    std::printf("  %s: plugin %.1f MB/s (%.2f s), curl %.1f MB/s (%.2f s), plugin/curl %.2f, peak memory growth %.1f MiB\n",
                what, MBps(size, plugin), plugin, MBps(size, curl), curl, curl > 0 ? curl / plugin : 0.0,
                growthKiB / 1024.0);
  }

  // The record the plugin's upload went to, from the server's request log.
  int UploadedId() {
    const json log = flow::Control(FApi, "GET", "/__control/requests");
    for (const auto& entry : log) {
      const std::string path = entry.value("path", "");
      if (path.find("/upload/file") != std::string::npos)
        return std::atoi(path.substr(path.find("records/") + 8).c_str());
    }
    std::fprintf(stderr, "%s\n", log.dump().substr(0, 2000).c_str());
    Fail("no upload was seen");
  }

  // Logs in and runs one request; curl's own time for that request.
  double Curl(const std::string& request) {
    const std::string common = "silent\nshow-error\ncacert = \"" + FServer.CertFile() + "\"\ncookie = \"\"\n";
    std::string out;
    if (!RunCurlConfig(common + "url = \"" + BaseURL() + "api/login\"\ndata = \"login=demo&password=demo\"\n" +
                           "output = \"/dev/null\"\nnext\n" + common + "write-out = \"%{time_total}\\n\"\n" + request,
                       out)) {
      std::printf("  curl failed\n");
      return -1;
    }
    double seconds = -1;
    std::istringstream(out) >> seconds;
    return seconds;
  }

  std::string FWork;
  flow::TServerProcess FServer;
  flow::TApi FApi;
  wfxhost::Plugin FPlugin;
  kof::test::TLogin FLogin;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string buildDir = kof::bench::BuildDir(argc, argv);
  ::setenv("KOF_BINARY_DIR", buildDir.c_str(), 1);  // where the server process starter looks
  std::vector<int> sizes;
  for (int i = 2; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {16, 256};
  flow::TTempDir work;
  TBench bench(buildDir, work.Path("bench"));
  for (const int mib : sizes) bench.Run(mib);
  return 0;
}
