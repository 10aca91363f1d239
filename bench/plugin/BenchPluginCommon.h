#pragma once
// What the benchmarks that drive the built plugin share: where the build is,
// this process's memory, and a curl run whose credentials stay off its command line.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/flows/VaultLogin.h"
#include "tests/serverflow/ServerProcess.h"
#include "tools/wfxhost/WfxLoader.h"

namespace kof::bench {

[[noreturn]] inline void Fail(const char* program, const char* what) {
  std::fprintf(stderr, "%s: %s\n", program, what);
  std::exit(1);
}

// Loads the plugin with a private configuration below WORK, imports the
// session "Bench" for the server at BASEURL and logs in to it; the server's
// certificate is answered with Yes.
inline void LoginBench(wfxhost::Plugin& plugin, kof::test::TLogin& login, const std::string& buildDir,
                       const std::string& work, const std::string& baseURL, const char* program) {
  for (const char* name : {"config", "system", "tmp", "local"}) std::filesystem::create_directories(work + "/" + name);
  ::setenv("KOFFRA_CONFIG_HOME", (work + "/config").c_str(), 1);
  ::setenv("KOFFRA_SYSTEM_CONFIG_DIR", (work + "/system").c_str(), 1);
  plugin.Load(buildDir + "/Koffra5.wfx");
  plugin.GetAnswers().SetFallback(
      [&login](const wfxhost::Request& r) { return kof::test::AnswerLogin(login, r, [] { return std::string(); }); });
  const std::string file = work + "/Bench.KOF";
  kof::testserver::flow::WriteFile(file, kof::test::SessionFileText(baseURL, login));
  if (plugin.Put(file, "/Bench.KOF", 0).Code != wfx::FS_FILE_OK) Fail(program, "the session was not imported");
  if (plugin.Exec("open", "/Bench.<KOF>").Code != wfx::FS_EXEC_SYMLINK) Fail(program, "the login failed");
}

inline std::string BuildDir(int argc, char** argv) {
  if (argc > 1) return argv[1];
  if (const char* dir = std::getenv("KOF_BINARY_DIR")) return dir;
  return std::filesystem::canonical("/proc/self/exe").parent_path().parent_path().parent_path().string();
}

inline long StatusKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// The peak so far (a seed, an earlier run) would hide what follows: count anew.
inline void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Runs curl with CONFIG as its only argument, from a private file that is
// removed afterwards; its standard output is returned in OUTPUT. False when curl failed.
inline bool RunCurlConfig(const std::string& config, std::string& output) {
  namespace fs = std::filesystem;
  const std::string file = fs::temp_directory_path() / ("kof_bench_" + std::to_string(getpid()) + ".cfg");
  const std::string out = file + ".out";
  {
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return false;
    close(fd);
    std::ofstream(file) << config;
  }
  const int rc = std::system(("curl -K " + file + " > " + out).c_str());
  std::remove(file.c_str());
  std::ifstream in(out);
  output.assign(std::istreambuf_iterator<char>(in), {});
  std::remove(out.c_str());
  return rc == 0;
}

}  // namespace kof::bench
