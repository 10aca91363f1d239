#pragma once
// The vault of the flow tests (a kof-test-server child process with a small
// seeded vault) and the fixture that logs in to it through the exports, as a
// file manager without plugin dialogs does: every question arrives through
// RequestProc.
#include <malloc.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <utility>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/flows/FlowFixture.h"
#include "tests/flows/VaultLogin.h"
#include "tests/serverflow/ServerProcess.h"

namespace kof::test {

using nlohmann::json;
using testserver::flow::TApi;
using testserver::flow::TServerProcess;
using wfxhost::Entry;
using wfxhost::Request;
using NameList = std::vector<std::string>;

const std::string kHelp = "__ use F3 to view HELP __";
const std::string kBin = "!!__Bin_Deleted__!!";
const std::string kAccessories = "!!_ Accessories _!!";
const std::string kLogout = "__Logout Session__";
const std::string kBackToSessions = "__Press Enter here to go to Sessions folder__";
const std::string kBadLogin = "Login failed: unknown user name or bad password";
constexpr uint32_t kFolder = 16;
constexpr uint32_t kRecord = 32;

// demo: password, access code. alice: second factor. A group with two boxes,
// every record kind in one of them, a box at the top, and two items in the bin.
inline json Seed(bool clientEncryption) {
  json seed = json::parse(R"({
    "server": {"fileSizeLimit": 1048576, "externalFilesRoot": "koffra-ext"},
    "users": [
      {"login": "demo", "password": "demo", "accessCode": "1234"},
      {"login": "alice", "domain": "CORP", "password": "alice", "accessCode": "4321",
       "totpSecret": "JBSWY3DPEHPK3PXPJBSWY3DPEHPK3PXP"}
    ],
    "boxes": [
      {"id": 1, "name": "Company", "type": "SAFEBOX_GROUP", "boxes": [
        {"id": 2, "name": "Servers", "records": [
          {"id": 101, "template": "account", "name": "db01 root", "loginName": "root", "password": "Tr0ub4dor&3"},
          {"id": 102, "template": "account-sec", "name": "Domain admin", "password": "staple",
           "attributes": {"sec-loginName": "CORP\\admin", "sec-note": "sealed"}},
          {"id": 103, "template": "ccard", "name": "Visa", "attributes": {"number": "4111111111111111", "cvv": "737"}},
          {"id": 104, "template": "file", "name": "Release notes", "fileName": "release-notes.txt",
           "contentText": "Koffra 5.0\n", "attributes": {"file": "release-notes.txt"}},
          {"id": 105, "template": "cert", "name": "VPN certificate", "fileName": "vpn.pfx",
           "contentText": "certificate bytes", "attributes": {"file": "vpn.pfx", "filePassword": "pfx"}},
          {"id": 106, "template": "external-file", "name": "holiday.mp4",
           "attributes": {"efFileName": "holiday.mp4", "efFilePath": "koffra-ext/2/0123456789ABCDEF.kofx",
                          "efKey": "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F",
                          "efIV": "A0A1A2A3A4A5A6A7A8A9AAAB", "efAAD": "B0B1B2B3B4B5B6B7B8B9BABBBCBDBEBF",
                          "fileSize": 73400320}},
          {"id": 107, "template": "account", "name": "Old router", "password": "admin", "deleted": true}
        ]},
        {"id": 3, "name": "Finance"}
      ]},
      {"id": 4, "name": "Personal", "records": [
        {"id": 111, "template": "account", "name": "Mail", "loginName": "me", "password": "m4il"}
      ]},
      {"id": 5, "name": "Archive", "deleted": true, "deletedDate": 1765000000000}
    ]
  })");
  seed["server"]["clientEncryption"] = clientEncryption;
  return seed;
}

// Built with the address sanitizer, which keeps freed memory back for a while.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// A field of /proc/self/status in KiB.
inline long StatusKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  return -1;
}

// How much the test process's peak resident memory (the plugin's included) rose while CALL ran.
template <class F>
long PeakGrowthKiB(F&& call) {
  // Freed pages the heap keeps would hide a plugin that buffers a whole file.
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
  const long before = StatusKiB("VmRSS:");
  call();
  return StatusKiB("VmHWM:") - before;
}

#if defined(__SANITIZE_ADDRESS__)
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void*, std::size_t),
                                              void (*onFree)(const volatile void*));
std::size_t __sanitizer_get_allocated_size(const volatile void* block);
}

// The heap bytes in use as the sanitizer's allocator counts them, and the
// most they reached since the last reset: what was live, not what it keeps back.
struct THeapPeak {
  static inline std::atomic<long long> Live{0};
  static inline std::atomic<long long> Peak{0};
  static void OnMalloc(const volatile void*, std::size_t size) {
    const long long now = Live += static_cast<long long>(size);
    for (long long peak = Peak.load(); now > peak && !Peak.compare_exchange_weak(peak, now);) {
    }
  }
  static void OnFree(const volatile void* block) {
    Live -= static_cast<long long>(__sanitizer_get_allocated_size(block));
  }
};
#endif

// How much the test process's heap in use (the plugin's included) rose at its
// highest while CALL ran; without the sanitizer, the peak resident memory.
template <class F>
long PeakHeapGrowthKiB(F&& call) {
#if defined(__SANITIZE_ADDRESS__)
  static const bool installed =
      __sanitizer_install_malloc_and_free_hooks(&THeapPeak::OnMalloc, &THeapPeak::OnFree) != 0;
  (void)installed;
  const long long before = THeapPeak::Live.load();
  THeapPeak::Peak = before;
  call();
  return static_cast<long>((THeapPeak::Peak.load() - before) / 1024);
#else
  return PeakGrowthKiB(std::forward<F>(call));
#endif
}

inline bool IsReuseQuestion(const Request& r) {
  return r.Type == wfx::RT_MsgYesNo && r.Text.find("is already connected") != std::string::npos;
}

struct TExpected {
  std::string Name;
  uint32_t Attributes;
  std::optional<uint64_t> Size;  // nullopt: any size above 0
};

class VaultFlow : public PluginFlow {
 protected:
  void SetUp() override {
    PluginFlow::SetUp();
    // Copied passwords go to a file instead of the desktop's clipboard.
    const std::string clip = (FDir / "clip.sh").string();
    WriteFile(clip, "#!/bin/sh\ncase \"$1\" in\n  copy) cat > '" + Clipboard() + "' ;;\n  paste) cat '" + Clipboard() +
                        "' 2>/dev/null ;;\nesac\n");
    ::chmod(clip.c_str(), 0755);
    ::setenv("KOFFRA_CLIPBOARD_CMD", clip.c_str(), 1);
    // A test's own reply to a title comes before the usual answers.
    FPlugin.GetAnswers().SetFallback([this](const Request& r) -> std::optional<std::string> {
      if (const auto reply = FReplies.find(r.Title); reply != FReplies.end()) return reply->second;
      return Answer(r);
    });
  }

  // Replies by prompt title, answered before the usual answers.
  std::map<std::string, std::string> FReplies;

  void TearDown() override {
    UnloadPlugin();  // it clears its clipboard text on the way out
    ::unsetenv("KOFFRA_CLIPBOARD_CMD");
    FApi.reset();
    FServer.reset();
    PluginFlow::TearDown();
  }

  // Starts the server and imports the session "Demo" that points at it.
  void StartVault(bool clientEncryption = false, const std::string& sessionLines = "") {
    StartVaultWith(Seed(clientEncryption), sessionLines);
  }

  void StartVaultWith(const json& seed, const std::string& sessionLines = "") {
    FServer = std::make_unique<TServerProcess>(seed);
    FApi = std::make_unique<TApi>(*FServer);
    AddSession(VaultURL(), sessionLines);
  }

  std::string VaultURL() const { return "https://127.0.0.1:" + std::to_string(FServer->Port()) + "/"; }

  void AddSession(const std::string& url, const std::string& extraLines) {
    WriteFile(Local("Demo.KOF"), SessionFileText(url, FLogin, extraLines));
    ASSERT_EQ(FPlugin.Put(Local("Demo.KOF"), "/Demo.KOF", wfx::FS_COPYFLAGS_OVERWRITE).Code, wfx::FS_FILE_OK);
  }

  std::string Clipboard() const { return (FDir / "clipboard").string(); }

  // As a new host process: the sessions stay, no panel does.
  void RestartHost() {
    UnloadPlugin();
    LoadPlugin();
    FPlugin.GetAnswers().ClearAsked();
  }

  // Enter on the session entry; true when the host was sent into the session.
  bool Enter() {
    std::string newPath;
    const auto r = FPlugin.Exec("open", "/Demo.<KOF>", &newPath);
    if (r.Code != wfx::FS_EXEC_SYMLINK) return false;
    EXPECT_EQ(newPath, "/Demo");
    return true;
  }

  std::optional<std::string> Answer(const Request& r) {
    if (IsReuseQuestion(r)) return FReuseConnectedSession ? "yes" : "no";
    return AnswerLogin(FLogin, r, [this] {
      return Control("GET", "/__control/totp?user=" + FLogin.User + "&domain=" + FLogin.Domain)["code"]
          .get<std::string>();
    });
  }

  json Control(const std::string& method, const std::string& path, const json& body = {}) {
    return testserver::flow::Control(*FApi, method, path, body);
  }

  int CountAsked(bool (*kind)(const Request&)) {
    int n = 0;
    for (const auto& r : FPlugin.GetAnswers().Asked()) n += kind(r) ? 1 : 0;
    return n;
  }

  bool NoticeShown(const std::string& title, const std::string& text) {
    for (const auto& r : FPlugin.GetAnswers().Asked())
      if (r.Type == wfx::RT_MsgOK && (title.empty() || r.Title == title) && r.Text.find(text) != std::string::npos)
        return true;
    return false;
  }

  std::string AskedSoFar() {
    std::string text;
    for (const auto& r : FPlugin.GetAnswers().Asked())
      text += wfxhost::RequestTypeName(r.Type) + " [" + r.Title + "] " + r.Text + "\n";
    return text;
  }

  // A session path listed while no panel exists: the login runs again; with
  // every prompt cancelled only the way back remains.
  void ExpectNoPanel() {
    FLogin.CancelEverything = true;
    FPlugin.GetAnswers().ClearAsked();
    EXPECT_EQ(Names("/Demo"), NameList{kBackToSessions});
    EXPECT_FALSE(FPlugin.GetAnswers().Asked().empty()) << "a panel was still there";
  }

  void ExpectListing(const std::string& path, const std::vector<TExpected>& expected) {
    SCOPED_TRACE("listing " + path);
    const std::vector<Entry> entries = FPlugin.List(path);
    NameList got;
    for (const auto& e : entries) got.push_back(e.Name);
    ASSERT_EQ(entries.size(), expected.size()) << ::testing::PrintToString(got);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE(expected[i].Name);
      EXPECT_EQ(entries[i].Name, expected[i].Name);
      EXPECT_EQ(entries[i].Attributes, expected[i].Attributes);
      if (expected[i].Size) {
        EXPECT_EQ(entries[i].Size, *expected[i].Size);
      } else {
        EXPECT_GT(entries[i].Size, 0u);
      }
    }
  }

  TLogin FLogin;
  bool FReuseConnectedSession = false;
  std::unique_ptr<TServerProcess> FServer;
  std::unique_ptr<TApi> FApi;
};

const std::vector<TExpected> kRoot = {
    {"Company", kFolder, 0}, {"Personal", kFolder, 0}, {kBin, kFolder, 0}, {kAccessories, kFolder, 0}};
const std::vector<TExpected> kCompany = {{"Finance", kFolder, 0}, {"Servers", kFolder, 0}, {kAccessories, kFolder, 0}};
// Password kinds are sized by their JSON text; a file record shows its file's
// extension and size, an external file its plain size.
const std::vector<TExpected> kServers = {{"db01 root.account", kRecord, std::nullopt},
                                         {"Domain admin.secretaccount", kRecord, std::nullopt},
                                         {"holiday.mp4", kRecord, 73400320},
                                         {"Release notes.txt", kRecord, 11},
                                         {"Visa.creditcard", kRecord, std::nullopt},
                                         {"VPN certificate.pfx", kRecord, 17},
                                         {kAccessories, kFolder, 0}};

inline NameList AccessoryNames(bool clientEncryption) {
  NameList names = {kHelp,
                    kLogout,
                    "__ Koffra __.info",
                    "__ Configuration __.dlg",
                    clientEncryption ? "__  Enhanced Client Encryption is ENABLED  __"
                                     : "__  Enhanced Client Encryption is DISABLED  __",
                    "__ Mapping paths to external files is DISABLED __"};
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace kof::test
