// Logging in to a vault and browsing it through the exports, against a
// kof-test-server child process.
#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "client/KofRESTsend.h"
#include "sessions/PluginKofSessions5.h"
#include "tests/flows/VaultFixture.h"

namespace kof::test {
namespace {

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
  // The pin stays in the store: an exported session file never carries it.
  ASSERT_EQ(FPlugin.Get("/Demo.<KOF>", Local("Pinned.KOF"), 0).Code, wfx::FS_FILE_OK);
  const std::string fingerprint = Fingerprint(FServer->CertFile());
  EXPECT_EQ(ReadFile(Local("Pinned.KOF")).find(fingerprint), std::string::npos) << ReadFile(Local("Pinned.KOF"));

  std::string newPath;
  EXPECT_EQ(FPlugin.Exec("open", "/Demo/" + kAccessories + "/" + kLogout, &newPath).Code, wfx::FS_EXEC_SYMLINK);
  FPlugin.GetAnswers().ClearAsked();
  ASSERT_TRUE(Enter()) << AskedSoFar();
  EXPECT_EQ(CountAsked(IsCertificateQuestion), 0) << AskedSoFar();
  ExpectListing("/Demo", kRoot);

  // A session file that arrives with a pin trusts nothing: the first login asks.
  RestartHost();
  AddSession(VaultURL(), "Certificate Pin (SHA-256)=" + fingerprint + "\r\n");
  ASSERT_TRUE(Enter()) << AskedSoFar();
  EXPECT_EQ(CountAsked(IsCertificateQuestion), 1) << AskedSoFar();
}

// A machine-wide store cannot be written: the user's answer goes to the
// user's own store, where the next login finds it.
TEST_F(VaultFlow, TrustAnswerForAMachineWideSessionHoldsForTheNextLogin) {
  StartVault();
  UnloadPlugin();
  std::filesystem::copy_file(FDir / "user" / "registry.json", FDir / "system" / "registry.json");
  std::filesystem::remove(FDir / "user" / "registry.json");
  LoadPlugin();
  for (int login = 1; login <= 2; ++login) {
    SCOPED_TRACE(login);
    FPlugin.GetAnswers().ClearAsked();
    ASSERT_TRUE(Enter()) << AskedSoFar();
    EXPECT_EQ(CountAsked(IsCertificateQuestion), login == 1 ? 1 : 0) << AskedSoFar();
    ExpectListing("/Demo", kRoot);
    RestartHost();
  }
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

// A listing the server fails tells the user why, once, and still lists the
// plugin's own folders; so does a listing that must first walk down.
TEST_F(VaultFlow, AFailedListingTellsWhyOnce) {
  struct Case {
    const char* name;
    const char* failing;  // request path the server fails
    std::string listed;
    bool fromNewHost;     // no panel yet: the listing logs in and walks down
    const char* title;
    NameList left;
  } cases[] = {
      {"records", "/safe/boxes/2/records", "/Demo/Company/Servers", false, "Records", {kAccessories}},
      {"boxes of a group", "/safe/boxes/1/boxes", "/Demo/Company", false, "Boxes", {kAccessories}},
      {"bin", "/safe/deleted*", "/Demo/" + kBin, false, kBin.c_str(), {}},
      {"on the way down", "/safe/boxes/1/boxes", "/Demo/Company/Servers", true, "Boxes", {}},
  };
  StartVault();
  ASSERT_TRUE(Enter()) << AskedSoFar();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.fromNewHost) RestartHost();
    Control("POST", "/__control/faults",
            {{"path", c.failing}, {"method", "GET"}, {"kind", "fail"}, {"status", 503}, {"body", "maintenance"}});
    FPlugin.GetAnswers().ClearAsked();
    EXPECT_EQ(Names(c.listed), c.left);
    int notices = 0;
    for (const auto& r : FPlugin.GetAnswers().Asked())
      if (r.Type == wfx::RT_MsgOK) {
        ++notices;
        EXPECT_EQ(r.Title, c.title);
      }
    EXPECT_EQ(notices, 1) << AskedSoFar();
    Control("DELETE", "/__control/faults");
  }
}

// Boxes and records may bear the names of the plugin's own entries; each is
// listed once, the plugin's folder under its name, and the member can be entered.
TEST_F(VaultFlow, MembersNamedLikeThePluginsEntriesAreListedOnceAndReachable) {
  json seed = Seed(false);
  seed["boxes"] = json::parse(R"([
    {"id": 7, "name": "!!__Bin_Deleted__!!", "records": [{"id": 171, "template": "account", "name": "In the box"}]},
    {"id": 8, "name": "!!_ Accessories _!!", "type": "SAFEBOX_GROUP", "boxes": [
      {"id": 9, "name": "__Press Enter here to go to Sessions folder__", "records": [
        {"id": 191, "template": "file", "name": "!!_ Accessories _!!", "fileName": "notes",
         "contentText": "x", "attributes": {"file": "notes"}}]}]}
  ])");
  StartVaultWith(seed);
  ASSERT_TRUE(Enter()) << AskedSoFar();
  const NameList root = Names("/Demo");
  for (const std::string& own : {kBin, kAccessories})
    EXPECT_EQ(std::count(root.begin(), root.end(), own), 1) << own << " in " << ::testing::PrintToString(root);
  ASSERT_EQ(root.size(), 4u) << ::testing::PrintToString(root);
  std::string binBox, group;
  for (const std::string& name : root) {
    if (name != kBin && name.starts_with(kBin)) binBox = name;
    if (name != kAccessories && name.starts_with(kAccessories)) group = name;
  }
  ASSERT_FALSE(binBox.empty());
  ASSERT_FALSE(group.empty());
  EXPECT_EQ(Names("/Demo/" + binBox), (NameList{"In the box.account", kAccessories}));
  const NameList inGroup = Names("/Demo/" + group);
  ASSERT_EQ(inGroup.size(), 2u) << ::testing::PrintToString(inGroup);
  EXPECT_NE(inGroup[0], kBackToSessions);
  EXPECT_TRUE(inGroup[0].starts_with(kBackToSessions)) << inGroup[0];
  const NameList inBox = Names("/Demo/" + group + "/" + inGroup[0]);
  ASSERT_EQ(inBox.size(), 2u) << ::testing::PrintToString(inBox);
  EXPECT_NE(inBox[0], kAccessories);
  EXPECT_TRUE(inBox[0].starts_with(kAccessories)) << inBox[0];
  EXPECT_EQ(inBox[1], kAccessories);
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
