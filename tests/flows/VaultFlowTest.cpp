// Logging in to a vault and browsing it through the exports, against a
// kof-test-server child process, as a file manager without plugin dialogs does:
// every question arrives through RequestProc.
#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "client/KofRESTsend.h"
#include "sessions/PluginKofSessions5.h"
#include "tests/flows/FlowFixture.h"
#include "tests/flows/VaultLogin.h"
#include "tests/serverflow/ServerProcess.h"

namespace kof::test {
namespace {

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
json Seed(bool clientEncryption) {
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

// SHA-256 of the certificate as a session stores its pin: "AB:CD:...".
std::string Fingerprint(const std::string& pemFile) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(pemFile.c_str(), "r"), &std::fclose);
  if (!file) return "";
  std::unique_ptr<X509, void (*)(X509*)> cert(PEM_read_X509(file.get(), nullptr, nullptr, nullptr), &X509_free);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!cert || X509_digest(cert.get(), EVP_sha256(), digest, &size) != 1) return "";
  std::string text;
  char hex[4];
  for (unsigned int i = 0; i < size; ++i) {
    std::snprintf(hex, sizeof hex, i ? ":%02X" : "%02X", digest[i]);
    text += hex;
  }
  return text;
}

bool IsReuseQuestion(const Request& r) {
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
    FPlugin.GetAnswers().SetFallback([this](const Request& r) { return Answer(r); });
  }

  void TearDown() override {
    FPlugin.Unload();  // it clears its clipboard text on the way out
    ::unsetenv("KOFFRA_CLIPBOARD_CMD");
    FApi.reset();
    FServer.reset();
    PluginFlow::TearDown();
  }

  // Starts the server and imports the session "Demo" that points at it.
  void StartVault(bool clientEncryption = false, const std::string& sessionLines = "") {
    FServer = std::make_unique<TServerProcess>(Seed(clientEncryption));
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
    FPlugin.Unload();
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

NameList AccessoryNames(bool clientEncryption) {
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

class VaultBrowse : public VaultFlow, public ::testing::WithParamInterface<bool> {};

TEST_P(VaultBrowse, LogInWalkTheTreeAndLogOut) {
  const bool encrypted = GetParam();
  StartVault(encrypted);
  ASSERT_TRUE(Enter()) << AskedSoFar();

  // The login asks for domain, user name and password, in that order.
  std::vector<Request> login;
  for (const auto& r : FPlugin.GetAnswers().Asked())
    if (IsLoginPrompt(r) || (r.Type == wfx::RT_Password && !IsAccessCodePrompt(r))) login.push_back(r);
  ASSERT_EQ(login.size(), 3u) << AskedSoFar();
  EXPECT_EQ(login[0].Text, "Domain");
  EXPECT_EQ(login[1].Type, wfx::RT_UserName);
  EXPECT_EQ(login[2].Type, wfx::RT_Password);
  for (const auto& r : login) EXPECT_EQ(r.Title, "Login to Demo");

  ExpectListing("/Demo", kRoot);
  ExpectListing("/Demo/Company", kCompany);
  ExpectListing("/Demo/Company/Servers", kServers);
  ExpectListing("/Demo/Company/Finance", {{kAccessories, kFolder, 0}});

  // The bin: a deleted record named after its box, and a deleted box.
  const auto bin = FPlugin.List("/Demo/" + kBin);
  ASSERT_EQ(bin.size(), 2u);
  for (const auto& e : bin) {
    SCOPED_TRACE(e.Name);
    EXPECT_EQ(e.Attributes, kRecord);
    if (e.Reserved0 == 107) {
      EXPECT_EQ(e.Name, "Old router \xCB\xB8 Servers [107].account");
      EXPECT_EQ(e.Size, 100u);
    } else {
      EXPECT_EQ(e.Reserved0, 5u);
      EXPECT_NE(e.Name.find("ARCHIVE"), std::string::npos);
      EXPECT_TRUE(e.Name.ends_with(".<BOX>"));
      EXPECT_EQ(e.Size, 0u);
    }
  }

  for (const char* where : {"/Demo/", "/Demo/Company/Servers/"}) {
    SCOPED_TRACE(where);
    NameList accessories = Names(where + kAccessories);
    std::sort(accessories.begin(), accessories.end());
    EXPECT_EQ(accessories, AccessoryNames(encrypted));
  }

  {
    SCOPED_TRACE("back up the tree the way a host does: by listing the parents");
    ExpectListing("/Demo/Company/Servers", kServers);
    ExpectListing("/Demo/Company", kCompany);
    ExpectListing("/Demo", kRoot);
  }

  std::string newPath;
  EXPECT_EQ(FPlugin.Exec("open", "/Demo/" + kAccessories + "/" + kLogout, &newPath).Code, wfx::FS_EXEC_SYMLINK);
  EXPECT_EQ(newPath, "/");
  EXPECT_EQ(Names("/"), (NameList{kHelp, "Demo.<KOF>"}));

  // Entering again logs in again.
  FPlugin.GetAnswers().ClearAsked();
  ASSERT_TRUE(Enter()) << AskedSoFar();
  EXPECT_EQ(CountAsked(IsLoginPrompt), 2) << AskedSoFar();
  ExpectListing("/Demo", kRoot);
}

INSTANTIATE_TEST_SUITE_P(ClientEncryption, VaultBrowse, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

TEST_F(VaultFlow, EnteringAConnectedSessionAsksBeforeReconnecting) {
  struct Case {
    bool reuse;
    int loginPrompts;
    int result;
  } cases[] = {{false, 0, wfx::FS_EXEC_OK}, {true, 2, wfx::FS_EXEC_SYMLINK}};
  StartVault();
  ASSERT_TRUE(Enter()) << AskedSoFar();
  ExpectListing("/Demo/Company", kCompany);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reuse ? "reuse" : "keep");
    FReuseConnectedSession = c.reuse;
    FPlugin.GetAnswers().ClearAsked();
    EXPECT_EQ(FPlugin.Exec("open", "/Demo.<KOF>").Code, c.result);
    EXPECT_EQ(CountAsked(IsReuseQuestion), 1) << AskedSoFar();
    EXPECT_EQ(CountAsked(IsLoginPrompt), c.loginPrompts) << AskedSoFar();
    ExpectListing("/Demo/Company", kCompany);
  }
}

TEST_F(VaultFlow, AccessCodeIsAskedOnceUntilItExpires) {
  StartVault(false, "Access Code Timeout [sec]=2\r\n");
  ASSERT_TRUE(Enter()) << AskedSoFar();
  ASSERT_FALSE(FPlugin.List("/Demo/Personal").empty());
  EXPECT_EQ(CountAsked(IsAccessCodePrompt), 0) << "a listing needs no access code";

  const std::string account = "/Demo/Personal/Mail.account";
  FPlugin.Exec("open", account);
  EXPECT_EQ(CountAsked(IsAccessCodePrompt), 1) << AskedSoFar();
  EXPECT_EQ(ReadFile(Clipboard()), "m4il") << "the password is copied with the code given";
  FPlugin.Exec("open", account);
  EXPECT_EQ(CountAsked(IsAccessCodePrompt), 1) << "a fresh code is remembered\n" << AskedSoFar();

  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  ASSERT_FALSE(FPlugin.List("/Demo/Personal").empty());
  FPlugin.Exec("open", account);
  EXPECT_EQ(CountAsked(IsAccessCodePrompt), 2) << "an expired code is asked again\n" << AskedSoFar();
  for (const auto& r : FPlugin.GetAnswers().Asked())
    if (IsAccessCodePrompt(r)) {
      EXPECT_EQ(r.Title, "Demo - Access Code");
    }
}

TEST_F(VaultFlow, SecondFactor) {
  struct Case {
    const char* name;
    std::deque<std::string> answers;
    bool loggedIn;
    int asked;
  } cases[] = {
      {"CodeAccepted", {kCurrentTotp}, true, 1},
      {"WrongCodeIsAskedAgain", {"000000", kCurrentTotp}, true, 2},
      {"CancelledPromptEndsTheLogin", {}, false, 1},
  };
  FLogin.Domain = "CORP";
  FLogin.User = FLogin.Password = "alice";
  FLogin.AccessCode = "4321";
  StartVault();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RestartHost();
    FLogin.CancelEverything = false;
    FLogin.SecondFactor = c.answers;
    EXPECT_EQ(Enter(), c.loggedIn) << AskedSoFar();
    EXPECT_EQ(CountAsked(IsSecondFactorPrompt), c.asked) << AskedSoFar();
    if (c.loggedIn) {
      ExpectListing("/Demo", kRoot);
    } else {
      ExpectNoPanel();
    }
  }
}

TEST_F(VaultFlow, RefusedLoginsLeaveNoPanel) {
  struct Case {
    const char* name;
    std::string user, password;
    bool serverDown;
    const char* title;  // of the notice; empty: any
    const char* notice;
  } cases[] = {
      {"WrongPassword", "demo", "wrong", false, "Connection", kBadLogin.c_str()},
      {"UnknownUser", "nobody", "demo", false, "Connection", kBadLogin.c_str()},
      {"ServerDown", "demo", "demo", true, "", ""},
  };
  StartVault();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RestartHost();
    FLogin = TLogin{};
    FLogin.User = c.user;
    FLogin.Password = c.password;
    AddSession(c.serverDown ? "https://127.0.0.1:1/" : VaultURL(), "");
    EXPECT_FALSE(Enter());
    EXPECT_TRUE(NoticeShown(c.title, c.notice)) << AskedSoFar();
    EXPECT_EQ(Names("/"), (NameList{kHelp, "Demo.<KOF>"}));
    ExpectNoPanel();
  }
}

TEST_F(VaultFlow, SessionPathsListedWithoutAPanelLogInAndList) {
  struct Case {
    const char* path;
    const std::vector<TExpected>& expected;
  } cases[] = {
      {"/Demo", kRoot},
      {"/Demo/Company", kCompany},
      {"/Demo/Company/Servers", kServers},
  };
  StartVault();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    RestartHost();
    ExpectListing(c.path, c.expected);
    EXPECT_EQ(CountAsked(IsLoginPrompt), 2) << AskedSoFar();
    // The panel now exists: listing again asks nothing.
    FPlugin.GetAnswers().ClearAsked();
    ExpectListing(c.path, c.expected);
    EXPECT_EQ(CountAsked(IsLoginPrompt), 0) << AskedSoFar();
  }
}

TEST_F(VaultFlow, ServerThatStopsAnsweringGivesAnEmptyListingAndTheNextOneWorks) {
  // A short wait for answers, taken when the session logs in.
  constexpr int kReadTimeoutMs = 1500;
  ::setenv("KOFFRA_READ_TIMEOUT_MS", std::to_string(kReadTimeoutMs).c_str(), 1);
  struct TUnset {
    ~TUnset() { ::unsetenv("KOFFRA_READ_TIMEOUT_MS"); }
  } unset;
  StartVault();
  ASSERT_TRUE(Enter()) << AskedSoFar();
  ExpectListing("/Demo/Company", kCompany);
  Control("POST", "/__control/faults",
          {{"path", "/safe/boxes/2/records"},
           {"method", "GET"},
           {"kind", "delay"},
           {"delayMs", kReadTimeoutMs + 3000},
           {"times", 1}});
  // Only the special folders may remain.
  for (const auto& e : FPlugin.List("/Demo/Company/Servers")) EXPECT_EQ(e.Name, kAccessories);
  ExpectListing("/Demo/Company/Servers", kServers);
}

TEST_F(VaultFlow, UnknownCertificateIsAskedAboutOnceAndPinned) {
  StartVault();
  FLogin.TrustCertificate = false;
  EXPECT_FALSE(Enter());
  ASSERT_FALSE(FPlugin.GetAnswers().Asked().empty());
  EXPECT_TRUE(IsCertificateQuestion(FPlugin.GetAnswers().Asked()[0])) << AskedSoFar();
  EXPECT_NE(FPlugin.GetAnswers().Asked()[0].Text.find("it is self-signed"), std::string::npos) << AskedSoFar();
  EXPECT_EQ(CountAsked(IsLoginPrompt), 0) << "the certificate comes before anything else\n" << AskedSoFar();

  FLogin.TrustCertificate = true;
  FPlugin.GetAnswers().ClearAsked();
  ASSERT_TRUE(Enter()) << AskedSoFar();
  EXPECT_EQ(CountAsked(IsCertificateQuestion), 1);
  ASSERT_EQ(FPlugin.Get("/Demo.<KOF>", Local("Pinned.KOF"), 0).Code, wfx::FS_FILE_OK);
  const std::string pin = kCertificatePinKey + std::string("=") + Fingerprint(FServer->CertFile());
  EXPECT_NE(ReadFile(Local("Pinned.KOF")).find(pin), std::string::npos) << ReadFile(Local("Pinned.KOF"));

  std::string newPath;
  EXPECT_EQ(FPlugin.Exec("open", "/Demo/" + kAccessories + "/" + kLogout, &newPath).Code, wfx::FS_EXEC_SYMLINK);
  FPlugin.GetAnswers().ClearAsked();
  ASSERT_TRUE(Enter()) << AskedSoFar();
  EXPECT_EQ(CountAsked(IsCertificateQuestion), 0) << AskedSoFar();
  ExpectListing("/Demo", kRoot);

  // A session that arrives with the pin trusts the server without asking.
  RestartHost();
  AddSession(VaultURL(), pin + "\r\n");
  ASSERT_TRUE(Enter()) << AskedSoFar();
  EXPECT_EQ(CountAsked(IsCertificateQuestion), 0) << AskedSoFar();
}

// An address typed without a scheme is the secure one: the server's
// certificate is asked about and the login goes through.
TEST_F(VaultFlow, AddressWithoutSchemeIsReachedOverHttps) {
  StartVault();
  AddSession("127.0.0.1:" + std::to_string(FServer->Port()), "");
  ASSERT_TRUE(Enter()) << AskedSoFar();
  EXPECT_EQ(CountAsked(IsCertificateQuestion), 1) << AskedSoFar();
  EXPECT_EQ(CountAsked(IsPlainHttpQuestion), 0) << AskedSoFar();
  ExpectListing("/Demo", kRoot);
}

// A plain http server that answers every request with 503 and counts them.
class TPlainHttpServer {
 public:
  TPlainHttpServer() {
    FServer.set_pre_routing_handler([this](const httplib::Request&, httplib::Response& res) {
      ++FRequests;
      res.status = 503;
      return httplib::Server::HandlerResponse::Handled;
    });
    FPort = FServer.bind_to_any_port("127.0.0.1");
    FThread = std::thread([this] { FServer.listen_after_bind(); });
    while (!FServer.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ~TPlainHttpServer() {
    FServer.stop();
    FThread.join();
  }
  std::string URL() const { return "http://127.0.0.1:" + std::to_string(FPort) + "/"; }
  int Requests() const { return FRequests; }

 private:
  httplib::Server FServer;
  int FPort = 0;
  std::atomic<int> FRequests{0};
  std::thread FThread;
};

// Passwords over plain http only after the user said so, once per session.
TEST_F(VaultFlow, PlainHttpAddressIsAskedAboutFirstAndTheAnswerIsRemembered) {
  TPlainHttpServer plain;
  AddSession(plain.URL(), "");
  EXPECT_FALSE(Enter());
  ASSERT_FALSE(FPlugin.GetAnswers().Asked().empty());
  EXPECT_TRUE(IsPlainHttpQuestion(FPlugin.GetAnswers().Asked()[0])) << AskedSoFar();
  EXPECT_EQ(CountAsked(IsLoginPrompt), 0) << AskedSoFar();
  EXPECT_EQ(plain.Requests(), 0) << "nothing is sent before the user agreed";

  FLogin.AllowPlainHttp = true;
  FPlugin.GetAnswers().ClearAsked();
  EXPECT_FALSE(Enter());  // the server only answers 503
  EXPECT_EQ(CountAsked(IsPlainHttpQuestion), 1) << AskedSoFar();
  EXPECT_GT(plain.Requests(), 0);

  RestartHost();
  FLogin.AllowPlainHttp = false;
  EXPECT_FALSE(Enter());
  EXPECT_EQ(CountAsked(IsPlainHttpQuestion), 0) << AskedSoFar();
  EXPECT_EQ(CountAsked(IsCertificateQuestion), 0) << AskedSoFar();
}

}  // namespace
}  // namespace kof::test

namespace kof::test {
namespace {

// Answers of every bad shape, while listing and while logging in: an empty
// listing or a refused login with a message, never a crash, and the next
// listing works once the server behaves.
struct TBadAnswer {
  const char* name;
  json fault;
};

const TBadAnswer kBadAnswers[] = {
    {"server error with a JSON body",
     {{"kind", "fail"}, {"status", 500}, {"body", R"({"key":"internal.server.Error","message":"boom"})"},
      {"contentType", "application/json"}}},
    {"server error with a text body", {{"kind", "fail"}, {"status", 503}, {"body", "maintenance"}}},
    {"not JSON", {{"kind", "garbage"}}},
    {"JSON of another shape", {{"kind", "garbage"}, {"body", R"({"records":"nope","safeboxes":[1,[2],null]})"}}},
    {"cut off", {{"kind", "drop"}}},
};

TEST_F(VaultFlow, BadAnswersWhileListingGiveAnEmptyListing) {
  StartVault();
  ASSERT_TRUE(Enter()) << AskedSoFar();
  ExpectListing("/Demo/Company", kCompany);
  for (const auto& bad : kBadAnswers) {
    SCOPED_TRACE(bad.name);
    for (const char* path : {"/safe/boxes/2/records", "/safe/boxes/1/boxes"}) {
      SCOPED_TRACE(path);
      json fault = bad.fault;
      fault["path"] = path;
      fault["method"] = "GET";
      Control("POST", "/__control/faults", fault);
      const std::string listed = std::string(path).ends_with("records") ? "/Demo/Company/Servers" : "/Demo/Company";
      for (const auto& e : FPlugin.List(listed)) EXPECT_EQ(e.Name, kAccessories);
      Control("DELETE", "/__control/faults");
      ExpectListing("/Demo/Company/Servers", kServers);
      ExpectListing("/Demo/Company", kCompany);
    }
  }
}

TEST_F(VaultFlow, BadAnswersWhileLoggingInRefuseTheLogin) {
  StartVault();
  for (const auto& bad : kBadAnswers) {
    for (const char* path : {"/public/api/status", "/api/login", "/public/api/user/config"}) {
      SCOPED_TRACE(std::string(bad.name) + " from " + path);
      json fault = bad.fault;
      fault["path"] = path;
      Control("POST", "/__control/faults", fault);
      FPlugin.GetAnswers().ClearAsked();
      EXPECT_FALSE(Enter()) << AskedSoFar();
      EXPECT_FALSE(FPlugin.GetAnswers().Asked().empty());
      EXPECT_EQ(FPlugin.GetAnswers().Asked().back().Type, wfx::RT_MsgOK) << AskedSoFar();
      Control("DELETE", "/__control/faults");
    }
  }
  FPlugin.GetAnswers().ClearAsked();
  ASSERT_TRUE(Enter()) << AskedSoFar();
  ExpectListing("/Demo", kRoot);
}

}  // namespace
}  // namespace kof::test
