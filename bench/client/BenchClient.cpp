// Throughput of the request layer against kof-test-server: 1,000 small
// authenticated GETs through one client (must use one TLS connection), the
// same through the curl command line in one invocation, and NaCl speed.
//
// usage: bench_client [path to kof-test-server] (default: $KOF_BINARY_DIR/kof-test-server)
// A Linux measuring program beside the plugin: it starts the server and the
// curl command line with the system's own calls.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "client/KofClients.h"

extern char** environ;

namespace {

constexpr int kRequests = 1000;
using TClock = std::chrono::steady_clock;

double Seconds(TClock::time_point start) { return std::chrono::duration<double>(TClock::now() - start).count(); }

// The server runs until its standard input closes.
class TServerProcess {
 public:
  explicit TServerProcess(const std::string& path) {
    int out[2], in[2];
    if (pipe(out) != 0 || pipe(in) != 0) std::exit(2);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    std::vector<char*> argv{const_cast<char*>(path.c_str()), const_cast<char*>("--port"), const_cast<char*>("0"),
                            nullptr};
    if (posix_spawn(&FPid, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      std::fprintf(stderr, "cannot start %s\n", path.c_str());
      std::exit(2);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(in[0]);
    FStdin = in[1];
    FStdout = fdopen(out[0], "r");
    char line[256] = {};
    if (!fgets(line, sizeof line, FStdout)) std::exit(2);
    const std::string text = line;
    const std::string prefix = "listening on ";
    if (text.rfind(prefix, 0) != 0) std::exit(2);
    FBaseURL = text.substr(prefix.size());
    while (!FBaseURL.empty() && (FBaseURL.back() == '\n' || FBaseURL.back() == '\r')) FBaseURL.pop_back();
  }
  ~TServerProcess() {
    close(FStdin);
    fclose(FStdout);
    int status = 0;
    waitpid(FPid, &status, 0);
  }
  const std::string& BaseURL() const { return FBaseURL; }

 private:
  pid_t FPid = 0;
  int FStdin = -1;
  FILE* FStdout = nullptr;
  std::string FBaseURL;
};

double ClientRun(const std::string& base, long& handshakes) {
  kof::TKofClient client(base, "demo", "demo", "1234", "", kof::TKofLanguage::koflngEnglish);
  if (!client.Status(true) || !client.Connect(nullptr, "bench", "", "", false)) {
    std::fprintf(stderr, "login failed: %s\n", client.ErrorMsg().c_str());
    std::exit(1);
  }
  const std::string url = base + "safe/boxes";
  std::string answer;
  const auto start = TClock::now();
  for (int i = 0; i < kRequests; ++i) {
    if (!client.HTTP()->Get(url, &answer) || client.HTTP()->ResultCode() != 200) {
      std::fprintf(stderr, "request %d failed: %s\n", i, client.HTTP()->LastErrorDesc().c_str());
      std::exit(1);
    }
  }
  const double seconds = Seconds(start);
  handshakes = client.HTTP()->ConnectionCount();
  return seconds;
}

// One curl invocation: login, then the GETs, sharing its cookie engine and
// connection. Credentials go into a private config file, never on the command line.
double CurlRun(const std::string& base) {
  const std::string config = "/tmp/kof_bench_client_" + std::to_string(getpid()) + ".cfg";
  const std::string counts = config + ".out";
  {
    const int fd = open(config.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return -1;
    close(fd);
    std::ofstream out(config);
    out << "silent\ninsecure\ncookie = \"\"\nurl = \"" << base << "api/login\"\n"
        << "data = \"login=demo&password=demo\"\noutput = \"/dev/null\"\nnext\n"
        << "silent\ninsecure\ncookie = \"\"\nheader = \"KOF-Access-Code: 1234\"\n"
        << "write-out = \"%{num_connects}\\n\"\n";
    for (int i = 0; i < kRequests; ++i) out << "url = \"" << base << "safe/boxes\"\noutput = \"/dev/null\"\n";
  }
  const std::string command = "curl -K " + config + " > " + counts;
  const auto start = TClock::now();
  const int rc = std::system(command.c_str());
  const double seconds = Seconds(start);
  std::remove(config.c_str());
  long connects = 0, value = 0;
  {
    std::ifstream in(counts);
    while (in >> value) connects += value;
  }
  std::remove(counts.c_str());
  if (rc != 0) {
    std::fprintf(stderr, "curl failed (%d)\n", rc);
    return -1;
  }
  std::printf("curl command line: %d GETs in %.3f s (%.0f requests/s), %ld new connections\n", kRequests, seconds,
              kRequests / seconds, connects);
  return seconds;
}

void NaClRun(std::size_t size) {
  kof::TBytes serverKey;
  kof::SecureBytes serverSecret;
  kof::TSaltyClientEncryption::GetKeyPair(serverKey, serverSecret);
  kof::TSaltyClientEncryption engine;
  const std::string plain(size, 'p');
  constexpr int kRounds = 2000;
  std::string cipher;
  auto start = TClock::now();
  for (int i = 0; i < kRounds; ++i) cipher = engine.Encrypt(serverKey, plain);
  const double encrypt = Seconds(start);
  // The box key is shared by both ends, so our own output opens with the same pair.
  start = TClock::now();
  for (int i = 0; i < kRounds; ++i)
    if (engine.Decrypt(serverKey, cipher).Size() != size) std::exit(1);
  const double decrypt = Seconds(start);
  std::printf("NaCl %5zu bytes: encrypt %.0f/s, decrypt %.0f/s\n", size, kRounds / encrypt, kRounds / decrypt);
}

}  // namespace

int main(int argc, char** argv) {
  std::string server = argc > 1 ? argv[1] : "";
  if (server.empty()) {
    const char* binary = std::getenv("KOF_BINARY_DIR");
    server = std::string(binary ? binary : ".") + "/kof-test-server";
  }
  TServerProcess process(server);
  const std::string& base = process.BaseURL();
  long handshakes = 0;
  const double client = ClientRun(base, handshakes);
  std::printf("TKofClient:        %d GETs in %.3f s (%.0f requests/s), %ld TLS handshakes%s\n", kRequests, client,
              kRequests / client, handshakes, handshakes == 1 ? "" : "  <-- expected 1");
  const double curl = CurlRun(base);
  if (curl > 0) std::printf("ratio client/curl time: %.2f\n", client / curl);
  NaClRun(32);
  NaClRun(4096);
  return handshakes == 1 ? 0 : 1;
}
