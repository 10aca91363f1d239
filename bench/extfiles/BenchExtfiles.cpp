// External-file container throughput: encrypt, decrypt and re-key a large file
// file to file in the temporary folder through TOpenSSLGcmCrypto with the
// session's default buffer, beside `openssl speed -evp aes-256-gcm` for the
// same buffer size in the same run. openssl counts its own CPU time by
// default (and wall-clock time with -elapsed); both are measured, so the ratio
// is given CPU to CPU and wall to wall. The same operations from memory to
// memory show the engine without file I/O, and a plain copy of the file (the
// file system's cached write path) shows what the file system alone allows.
// Prints the figures and the peak
// resident memory of each file operation; it judges none of them.
//
// usage: bench_extfiles [size in MiB] (default 1024)
// A Linux measuring program beside the plugin: it runs openssl and reads its
// resource use with the system's own calls.
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "extfiles/KofOpenSslCrypto.h"
#include "platform/KofFileIO.h"
#include "platform/KofFolders.h"
#include "sessions/PluginKofConfiguration5.h"

namespace {

using TClock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::size_t kMiB = 1 << 20;
constexpr std::size_t kMemorySize = 256 * kMiB;

// Resident-set figures of this process in KiB: VmRSS now, VmHWM its peak.
long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
  return -1;
}

// Starts a new peak: the kernel resets VmHWM to the current RSS.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

std::vector<std::uint64_t> Pattern() {
  std::mt19937_64 engine(42);
  std::vector<std::uint64_t> block(16 * kMiB / 8);
  for (auto& word : block) word = engine();
  return block;
}

void MakePlainFile(const std::string& path, std::size_t size) {
  std::vector<std::uint64_t> block = Pattern();
  kof::TOpenedFile file = kof::CreateFileForWriting(path, 0600);
  for (std::size_t done = 0; done < size;) {
    block[0] = done;  // no two blocks alike
    const std::size_t n = std::min(size - done, block.size() * 8);
    if (!kof::WriteAll(file.Handle.Fd(), block.data(), n)) {
      std::perror("write");
      std::exit(2);
    }
    done += n;
  }
}

// openssl's own single-core figure for one buffer size, in bytes per second.
double OpensslSpeed(std::size_t buffer, bool elapsed) {
  const std::string command = "openssl speed " + std::string(elapsed ? "-elapsed " : "") +
                              "-evp aes-256-gcm -bytes " + std::to_string(buffer) + " -seconds 3 -mr 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return 0;
  char line[512];
  double rate = 0;
  while (std::fgets(line, sizeof line, pipe)) {
    // +F:<n>:AES-256-GCM:<bytes per second>
    if (std::strncmp(line, "+F:", 3) == 0)
      if (const char* last = std::strrchr(line, ':')) rate = std::strtod(last + 1, nullptr);
  }
  pclose(pipe);
  return rate;
}

struct TFigures {
  const char* Name = "";
  double Seconds = 0, CpuSeconds = 0, SystemSeconds = 0;
  long StartKiB = 0, PeakKiB = 0;
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

template <class TWork>
TFigures Measure(const char* name, int expected, TWork work) {
  ResetPeak();
  TFigures f;
  f.Name = name;
  f.StartKiB = StatusKiB("VmRSS:");
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  const auto start = TClock::now();
  const int code = work();
  f.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
  getrusage(RUSAGE_SELF, &after);
  f.SystemSeconds = Seconds(after.ru_stime) - Seconds(before.ru_stime);
  f.CpuSeconds = Seconds(after.ru_utime) - Seconds(before.ru_utime) + f.SystemSeconds;
  f.PeakKiB = StatusKiB("VmHWM:");
  if (code != expected) {
    std::fprintf(stderr, "%s ended with %d\n", name, code);
    std::exit(1);
  }
  return f;
}

void Print(const TFigures& f, std::size_t size, double opensslCpu, double opensslWall, bool memory) {
  const double wall = static_cast<double>(size) / f.Seconds, cpu = static_cast<double>(size) / f.CpuSeconds;
  std::printf("  %-8s %5.2f GB/s wall (%.2f of openssl), %5.2f GB/s by CPU time (%.2f of openssl; %.0f%% of it in the kernel)",
              f.Name, wall / 1e9, wall / opensslWall, cpu / 1e9, cpu / opensslCpu, 100 * f.SystemSeconds / f.CpuSeconds);
  if (!memory) std::printf(", peak RSS %ld MiB (%+ld MiB)", f.PeakKiB / 1024, (f.PeakKiB - f.StartKiB) / 1024);
  std::printf("\n");
}

// What the file system gives without the cipher: the plain file copied with
// the same buffer, cached reads and writes, synced before its rename.
int PlainCopy(const std::string& from, const std::string& to, std::size_t buffer) {
  kof::TOpenedFile in = kof::OpenFileForReading(from);
  kof::TReplacementFile out(to);
  kof::TFileHandle fd = out.TakeHandle();
  kof::TMappedBuffer block(buffer);
  for (std::int64_t n; (n = kof::ReadSome(in.Handle.Fd(), block.data(), buffer)) > 0;)
    if (!kof::WriteAll(fd.Fd(), block.data(), static_cast<std::size_t>(n))) return errno;
  return out.Commit(fd.Fd(), 0600) ? 0 : out.Error();
}

bool SameStart(const std::string& a, const std::string& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> p(kMiB), q(kMiB);
  x.read(p.data(), kMiB);
  y.read(q.data(), kMiB);
  return x.gcount() == y.gcount() && p == q;
}

// A stream over memory that is already there (touched), so that the engine's
// rate is not the page faults of a growing output.
class TMemoryStream : public kof::TKofStream {
 public:
  TMemoryStream(std::string& data, bool full) : FData(data), FUsed(full ? data.size() : 0) {}
  std::size_t Read(void* buffer, std::size_t count) override {
    const std::size_t n = std::min(count, FUsed - std::min(FUsed, FPos));
    std::memcpy(buffer, FData.data() + FPos, n);
    FPos += n;
    return n;
  }
  void Write(const void* buffer, std::size_t count) override {
    if (FPos + count > FData.size()) throw kof::ECryptoStreamError(kof::ceWriteError, ENOSPC, "memory");
    std::memcpy(FData.data() + FPos, buffer, count);
    FPos += count;
    FUsed = std::max(FUsed, FPos);
  }
  std::int64_t Seek(std::int64_t offset, int origin) override {
    const std::size_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? FPos : FUsed;
    FPos = base + static_cast<std::size_t>(offset);
    return static_cast<std::int64_t>(FPos);
  }
  std::int64_t Size() override { return static_cast<std::int64_t>(FUsed); }

 private:
  std::string& FData;
  std::size_t FUsed;
  std::size_t FPos = 0;
};

void SetKeys(kof::TOpenSSLGcmCrypto& crypto) {
  crypto.SetKey(std::string(64, '7'));
  crypto.SetIv("00112233445566778899AABB");
  crypto.SetAad("FEEDFACEDEADBEEF");
  crypto.SetKey2(std::string(64, 'C'));
  crypto.SetIv2("0F1E2D3C4B5A69788796A5B4");
  crypto.SetAad2("");
}

std::vector<TFigures> MemoryRun(kof::TOpenSSLGcmCrypto& crypto) {
  std::string plain(kMemorySize, '\0'), sealed(kMemorySize + 20, '\0'), opened(kMemorySize, '\0'),
      rekeyed(kMemorySize + 20, '\0');
  const std::vector<std::uint64_t> block = Pattern();
  for (std::size_t i = 0; i < kMemorySize; i += block.size() * 8)
    std::memcpy(plain.data() + i, block.data(), block.size() * 8);
  std::vector<TFigures> rows;
  rows.push_back(Measure("encrypt", 0, [&] {
    TMemoryStream in(plain, true), out(sealed, false);
    return crypto.Encrypt(in, out, nullptr);
  }));
  rows.push_back(Measure("decrypt", 0, [&] {
    TMemoryStream in(sealed, true), out(opened, false);
    return crypto.Decrypt(in, out, nullptr);
  }));
  rows.push_back(Measure("re-key", 0, [&] {
    TMemoryStream in(sealed, true), out(rekeyed, false);
    return crypto.Recrypt(in, out, nullptr);
  }));
  if (opened != plain) {
    std::fprintf(stderr, "decrypted memory differs\n");
    std::exit(1);
  }
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t size = (argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024) * kMiB;
  std::string folder = kof::TemporaryFolder() + "/kof-bench-extfiles-XXXXXX";
  if (!mkdtemp(folder.data())) return 2;
  ::setenv("KOFFRA_CONFIG_HOME", (folder + "/config").c_str(), 1);
  const std::size_t buffer = static_cast<std::size_t>(kof::TKofPluginConfiguration().BufferSize()) * kMiB;

  const std::string plain = folder + "/plain", stored = folder + "/stored", back = folder + "/back",
                    rekeyed = folder + "/rekeyed";
  MakePlainFile(plain, size);
  kof::TOpenSSLGcmCrypto crypto;
  SetKeys(crypto);
  const long startKiB = StatusKiB("VmRSS:");
  const TFigures files[] = {
      Measure("encrypt", 0, [&] { return crypto.Encrypt(plain, stored, buffer, nullptr); }),
      Measure("decrypt", 0, [&] { return crypto.Decrypt(stored, back, buffer, nullptr, false); }),
      Measure("re-key", 0, [&] { return crypto.Recrypt(stored, rekeyed, buffer, nullptr); }),
  };
  const long filePeakKiB = StatusKiB("VmHWM:");
  const TFigures copy = Measure("copy", 0, [&] { return PlainCopy(plain, folder + "/copy", buffer); });
  const bool same = kof::FileSizeOf(back) == static_cast<std::int64_t>(size) && SameStart(plain, back);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  const std::vector<TFigures> memory = MemoryRun(crypto);
  const double opensslCpu = OpensslSpeed(buffer, false), opensslWall = OpensslSpeed(buffer, true);

  std::printf("openssl speed -evp aes-256-gcm -bytes %zu: %.2f GB/s by CPU time, %.2f GB/s wall (-elapsed)\n", buffer,
              opensslCpu / 1e9, opensslWall / 1e9);
  std::printf("file to file, %zu MiB in %s, buffer %zu MiB (each output synced to its device before its rename):\n",
              size / kMiB, kof::TemporaryFolder().c_str(), buffer / kMiB);
  for (const TFigures& f : files) Print(f, size, opensslCpu, opensslWall, false);
  std::printf("  the file system alone: a plain copy through its cache, same buffer and sync:\n");
  Print(copy, size, opensslCpu, opensslWall, false);
  std::printf("  memory: RSS %ld MiB before the file operations, peak %ld MiB; bound: two %zu MiB buffers (the work block, read, sealed and written in place, and one stream buffer)\n",
              startKiB / 1024, filePeakKiB / 1024, buffer / kMiB);
  std::printf("memory to memory, %zu MiB (the engine without file I/O):\n", kMemorySize / kMiB);
  for (const TFigures& f : memory) Print(f, kMemorySize, opensslCpu, opensslWall, true);
  std::printf("decrypted file %s the plain file\n", same ? "matches" : "DIFFERS from");
  return same ? 0 : 1;
}
