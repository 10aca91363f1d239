// The plugin's own dialogs, shown by wfxhost's stand-in for the file
// manager's extension interface and filled by scripts as a user would.
#include <filesystem>

#include "tests/flows/VaultFixture.h"

namespace kof::test {
namespace {

using wfxhost::ShownDialog;

class DialogFlow : public VaultFlow {
 protected:
  void SetUp() override {
    VaultFlow::SetUp();
    FPlugin.EnableDialogs();
    RestartHost();
    FPlugin.Dialogs().SetScriptSource([this](const ShownDialog& d) { return Script(d); });
  }

  // What the user does in each dialog, by its caption; an unknown dialog is cancelled.
  std::optional<std::string> Script(const ShownDialog& d) {
    const auto it = FScripts.find(d.Caption);
    if (it == FScripts.end() || it->second.empty()) return std::nullopt;
    std::string script = it->second.front();
    it->second.pop_front();
    return script == kCurrentTotp ? "set edtDigit1 " + CurrentTotp() : script;
  }

  std::string CurrentTotp() {
    return Control("GET", "/__control/totp?user=" + FLogin.User + "&domain=" + FLogin.Domain)["code"].get<std::string>();
  }

  std::vector<std::string> Captions() {
    std::vector<std::string> captions;
    for (const auto& d : FPlugin.Dialogs().Shown()) captions.push_back(d.Caption);
    return captions;
  }

  std::string Faults() {
    std::string text;
    for (const auto& f : FPlugin.Dialogs().Faults()) text += f + "\n";
    return text;
  }

  void LogIn() {
    FScripts["Login to Demo"] = {"set edtKofPswd demo; click btnConnect"};
    ASSERT_TRUE(Enter()) << Faults();
    FScripts["Demo - Access Code"] = {"set edtKofAccessCode 1234; click btnOK"};
    FPlugin.Dialogs().Clear();
  }

  json Stored(const std::string& kind, int id) {
    const json state = Control("GET", "/__control/state");
    for (const auto& item : state[kind])
      if (item.value("id", 0) == id) return item;
    return {};
  }

  // Alt+Enter on a path; the dialog shown with the caption given, as it closed.
  const ShownDialog* Properties(const std::string& path, const std::string& caption) {
    FPlugin.Exec("properties", path);
    for (const auto& d : FPlugin.Dialogs().Shown())
      if (d.Caption == caption) return &d;
    return nullptr;
  }

  std::map<std::string, std::deque<std::string>> FScripts;
};

const std::string kServers = "/Demo/Company/Servers/";

TEST_F(DialogFlow, EachKindsPropertiesSaveAnEditToTheServer) {
  const struct {
    const char* Path;
    const char* Caption;
    const char* Script;
    int Id;
    std::function<void(const json&)> Check;
  } cases[] = {
      {"db01 root.account", "Edit Account", "set edtDescription primary; click sbShowPswd; set edtPassword n3w; click btnOK",
       101,
       [](const json& r) {
         EXPECT_EQ(r.value("description", ""), "primary");
         EXPECT_EQ(r.value("password", ""), "n3w");
         EXPECT_EQ(r.value("loginName", ""), "root");
       }},
      {"Domain admin.secretaccount", "Edit Secret Account",
       "click sbShowSecureGroup; set edtLogin CORP\\root; click btnOK", 102,
       [](const json& r) {
         EXPECT_EQ(r["attributes"].value("sec-loginName", ""), "CORP\\root");
         EXPECT_EQ(r["attributes"].value("sec-note", ""), "sealed");
         EXPECT_EQ(r.value("password", ""), "staple");
       }},
      {"Visa.creditcard", "Edit Credit Card", "set edtName Visa Gold; click btnOK", 103,
       [](const json& r) {
         EXPECT_EQ(r.value("name", ""), "Visa Gold");
         EXPECT_EQ(r["attributes"].value("number", ""), "4111111111111111") << "unrevealed secrets are kept";
       }},
      {"Release notes.txt", "Edit File",
       "click sbShowSecGroup; click sbShowSecNote; set memSecNote kept here; click btnOK", 104,
       [](const json& r) {
         EXPECT_EQ(r["attributes"].value("sec-note", ""), "kept here");
         EXPECT_EQ(r.value("contentBase64", ""), "S29mZnJhIDUuMAo=") << "the file's content is untouched";
       }},
      {"VPN certificate.pfx", "Edit Certificate",
       "click sbShowSecGroup; click sbShowPswd; set edtPasswordShown pfx2; click btnOK", 105,
       [](const json& r) { EXPECT_EQ(r["attributes"].value("filePassword", ""), "pfx2"); }},
      {"holiday.mp4", "Edit External File", "set edtDescription big; click btnOK", 106,
       [](const json& r) {
         EXPECT_EQ(r.value("description", ""), "big");
         EXPECT_EQ(r["attributes"].value("efFileName", ""), "holiday.mp4");
       }},
  };
  StartVault();
  LogIn();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Path);
    FPlugin.Dialogs().Clear();
    FScripts[c.Caption] = {c.Script};
    const ShownDialog* d = Properties(kServers + c.Path, c.Caption);
    ASSERT_NE(d, nullptr) << Faults() << AskedSoFar();
    EXPECT_EQ(d->Result, 1) << Faults();
    EXPECT_EQ(Faults(), "");
    c.Check(Stored("records", c.Id));
  }
  EXPECT_TRUE(NoticeShown("Record name changed", "Record name modified."));
  FScripts["Edit Safe Box"] = {"set edtDescription Hosts; click btnOK"};
  ASSERT_NE(Properties("/Demo/Company/Servers", "Edit Safe Box"), nullptr) << Faults() << AskedSoFar();
  EXPECT_EQ(Stored("boxes", 2).value("description", ""), "Hosts");
  FScripts["Edit Safe Box Group"] = {"set edtName Firm; click btnOK"};
  ASSERT_NE(Properties("/Demo/Company", "Edit Safe Box Group"), nullptr) << Faults() << AskedSoFar();
  EXPECT_EQ(Stored("boxes", 1).value("name", ""), "Firm");
  EXPECT_TRUE(NoticeShown("Safe Box name changed", "Safe Box name modified."));
}

TEST_F(DialogFlow, TheExternalFilesPathIsTypedOrTakenFromAPickedFilesFolder) {
  const std::filesystem::path folder = FDir / "ext store";
  std::filesystem::create_directories(folder);
  WriteFile((folder / "any.kofx").string(), "x");
  const struct {
    const char* Name;
    std::string Typed;
    std::string Stored;
  } cases[] = {
      {"a folder typed", "/srv/koffra ext", "/srv/koffra ext"},
      {"a file picked with the edit's button", (folder / "any.kofx").string(), folder.string()},
  };
  StartVault();
  LogIn();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FPlugin.Dialogs().Clear();
    FScripts["Edit Safe Box"] = {"set edtExtFile " + c.Typed + "; click btnOK"};
    const ShownDialog* d = Properties("/Demo/Company/Servers", "Edit Safe Box");
    ASSERT_NE(d, nullptr) << Faults() << AskedSoFar();
    EXPECT_EQ(d->Find("edtExtFile")->Class, "TFileNameEdit");
    EXPECT_EQ(Faults(), "");
    EXPECT_EQ(Stored("boxes", 2).value("externalFilesPath", ""), c.Stored);
  }
}

TEST_F(DialogFlow, EditsAreRefusedWhereTheSessionOrTheBoxForbidsThem) {
  json seed = Seed(false);
  seed["boxes"][0]["boxes"][1]["boxACL"] = "R";
  seed["boxes"][0]["boxes"][1]["records"] = json::parse(R"([{"id": 121, "template": "account", "name": "Bank", "password": "b"}])");
  const struct {
    const char* Name;
    std::string SessionLines;
    std::string Path;
    const char* Info;
    const char* Caption = "Account";
  } cases[] = {
      {"session", "Allow Records Modification=OFF\r\n", kServers + "db01 root.account",
       "Editing records is disabled in the configuration"},
      {"box", "", "/Demo/Company/Finance/Bank.account", "User does not have the right to edit the record"},
      {"session, a safe box", "Allow Records Modification=OFF\r\n", "/Demo/Company/Servers",
       "Editing records is disabled in the configuration", "Safe Box"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FApi.reset();
    FServer.reset();
    StartVaultWith(seed, c.SessionLines);
    RestartHost();
    LogIn();
    FScripts[c.Caption] = {"set edtName Changed; click btnOK; click btnClose"};
    const ShownDialog* d = Properties(c.Path, c.Caption);
    ASSERT_NE(d, nullptr) << Faults() << AskedSoFar();
    EXPECT_EQ(d->Find("stInfo")->Caption, c.Info);
    EXPECT_FALSE(d->Find("btnOK")->Visible);
    EXPECT_NE(Faults().find("edtName"), std::string::npos) << Faults();
    EXPECT_EQ(Control("GET", "/__control/requests").dump().find("\"PUT\""), std::string::npos);
  }
}

TEST_F(DialogFlow, ACopyButtonPutsTheFieldOnTheClipboard) {
  StartVault();
  LogIn();
  FScripts["Edit Account"] = {"click sbLoginCopy", "click sbShowPswd; click sbPasswordCopy; click btnCancel"};
  ASSERT_NE(Properties(kServers + "db01 root.account", "Edit Account"), nullptr) << Faults();
  EXPECT_EQ(ReadFile(Clipboard()), "root");
  FPlugin.Dialogs().Clear();
  ASSERT_NE(Properties(kServers + "db01 root.account", "Edit Account"), nullptr) << Faults();
  EXPECT_EQ(ReadFile(Clipboard()), "Tr0ub4dor&3");
  EXPECT_EQ(Faults(), "");
  EXPECT_EQ(FPlugin.Dialogs().Shown().back().Find("edtPassword")->Text, "") << "the host's copy was not wiped";
}

TEST_F(DialogFlow, SessionConfigurationDialogCreatesAndChangesASession) {
  const auto exported = [this](const std::string& session) {
    std::filesystem::remove(Local(session + ".KOF"));
    FPlugin.List("/");  // as the host does before it copies from the sessions folder
    EXPECT_EQ(FPlugin.Get("/" + session + ".<KOF>", Local(session + ".<KOF>"), 0).Code, wfx::FS_FILE_OK);
    return ReadFile(Local(session + ".KOF"));
  };
  FScripts["Configuration of a new Session"] = {
      "set edtURL https://vault.example.test/; set edtDomain CORP; set edtUsername ann; set ledACTimeout 2; "
      "check chbEditable 0; set ledBufferSize 80; click btnOK"};
  ASSERT_NE(FPlugin.MkDir("/Work").Code, 0) << Faults() << AskedSoFar();
  EXPECT_EQ(Faults(), "");
  std::string file = exported("Work");
  for (const char* line : {"URL=https://vault.example.test/\r\n", "Domain=CORP\r\n", "Username=ann\r\n",
                           "Access Code Timeout [sec]=120\r\n", "Allow Records Modification=OFF\r\n",
                           "Buffer Size [MB]=64\r\n"})
    EXPECT_NE(file.find(line), std::string::npos) << line << file;

  FScripts["Session Configuration"] = {"set edtUsername bob; check chbMessage 0; click btnOK"};
  FPlugin.Exec("properties", "/Work.<KOF>");
  EXPECT_EQ(Faults(), "");
  file = exported("Work");
  for (const char* line : {"Username=bob\r\n", "Allow Copy Password Msg=OFF\r\n", "Buffer Size [MB]=64\r\n"})
    EXPECT_NE(file.find(line), std::string::npos) << line << file;

  // Inside a logged-in session its connection stays; the settings change.
  StartVault();
  LogIn();
  FScripts["Session Configuration"] = {"set edtURL https://elsewhere/; check chbGrouping 1; click btnOK"};
  FPlugin.Exec("open", "/Demo/" + kAccessories + "/__ Configuration __.dlg");
  ASSERT_FALSE(FPlugin.Dialogs().Shown().empty()) << AskedSoFar();
  const ShownDialog& d = FPlugin.Dialogs().Shown().back();
  EXPECT_EQ(d.Find("stLoggedUser")->Caption, "Logged user: demo");
  EXPECT_EQ(Faults(), "'edtURL' cannot be used now: set edtURL https://elsewhere/\n");
  file = exported("Demo");
  EXPECT_NE(file.find("Error Print Grouping=ON"), std::string::npos) << file;
  EXPECT_NE(file.find("URL=" + VaultURL()), std::string::npos) << file;
}

TEST_F(DialogFlow, NewSafeBoxDialogChoosesKindAndTypeAtTheSessionRoot) {
  const struct {
    const char* Name;
    const char* Script;
    const char* Type;  // of the box made; none when cancelled
    bool Private;
  } cases[] = {
      {"Team", "choose rgKindOfSafeBox 1; choose rgTypeOfSafeBox 0; click btOK", "SAFEBOX_GROUP", true},
      {"Shared", "click btOK", "SAFEBOX", false},
      {"Never", "choose rgKindOfSafeBox 1; click btCancel", nullptr, false},
  };
  StartVault();
  LogIn();
  FPlugin.List("/Demo");
  FPlugin.GetAnswers().ClearAsked();
  const auto live = [this](const std::string& name) {
    const json state = Control("GET", "/__control/state");
    for (const auto& box : state["boxes"])
      if (box.value("name", "") == name && !box.value("deleted", false)) return box;
    return json();
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FPlugin.Dialogs().Clear();
    FScripts["New Safe Box"] = {c.Script};
    const auto r = FPlugin.MkDir("/Demo/" + std::string(c.Name));
    EXPECT_EQ(r.Code != 0, c.Type != nullptr);
    ASSERT_EQ(Captions(), std::vector<std::string>{"New Safe Box"}) << AskedSoFar();
    EXPECT_EQ(FPlugin.Dialogs().Shown()[0].Find("ledSafeBoxName")->Text, c.Name);
    EXPECT_EQ(Faults(), "");
    const json box = live(c.Name);
    if (!c.Type) {
      EXPECT_TRUE(box.is_null()) << box.dump();
      EXPECT_EQ(r.LastError, wfx::ERROR_CANCELLED);
      continue;
    }
    ASSERT_FALSE(box.is_null());
    EXPECT_EQ(box["type"], c.Type);
    EXPECT_EQ(box["privateBox"], c.Private);
  }
  EXPECT_EQ(CountAsked([](const Request& r) { return r.Type == wfx::RT_MsgYesNo; }), 0) << AskedSoFar();
  // In a group the kind is given: no dialog.
  FPlugin.Dialogs().Clear();
  EXPECT_NE(FPlugin.MkDir("/Demo/Company/Web").Code, 0) << AskedSoFar();
  EXPECT_TRUE(Captions().empty());
}

TEST_F(DialogFlow, AnEditedFileAsksItsVersioningModeAndPasswordInDialogs) {
  StartVault(false, "Allow Change File Versioning=ON\r\nSave File Password=ON\r\n");
  LogIn();
  FPlugin.List("/Demo/Company/Servers");
  FScripts["Change Versioning Mode"] = {"choose cbxVersionSystem 2; click btnOk"};
  FScripts["Set File Password"] = {"click sbShowPswd; set edtPasswordShown n0te; click btnOK"};
  const std::string remote = kServers + "Release notes.txt";
  ASSERT_EQ(FPlugin.Exec("open", remote).Code, wfx::FS_EXEC_YOURSELF);
  ASSERT_EQ(FPlugin.Get(remote, Local("Release notes.txt"), 0).Code, wfx::FS_FILE_OK);
  WriteFile(Local("Release notes.txt"), "edited");
  ASSERT_EQ(FPlugin.Put(Local("Release notes.txt"), remote, wfx::FS_COPYFLAGS_OVERWRITE).Code, wfx::FS_FILE_OK)
      << Faults() << AskedSoFar();
  const std::vector<std::string> captions = Captions();
  for (const char* caption : {"Change Versioning Mode", "Set File Password"})
    EXPECT_EQ(std::count(captions.begin(), captions.end(), caption), 1) << caption;
  EXPECT_EQ(Faults(), "");
  const json state = Control("GET", "/__control/state");
  json stored;
  for (const auto& r : state["records"])
    if (r.value("name", "") == "Release notes_ver_1") stored = r;
  ASSERT_FALSE(stored.is_null()) << state.dump();
  EXPECT_EQ(stored["attributes"].value("sec-note", ""), "n0te");
}

TEST_F(DialogFlow, AnEditedCertificateAsksItsPasswordAfreshInTheCertificateDialog) {
  // Without a password remembered with it, a new version asks for one.
  json seed = Seed(false);
  seed["boxes"][0]["boxes"][0]["records"][4]["attributes"].erase("filePassword");
  StartVaultWith(seed, "File Versioning Mode=Filename_ver_(Number)\r\nSave File Password=ON\r\n");
  LogIn();
  FPlugin.List("/Demo/Company/Servers");
  FScripts["Set Certificate Password"] = {"set edtPassword c3rt; click btnOK"};
  const std::string remote = kServers + "VPN certificate.pfx";
  ASSERT_EQ(FPlugin.Exec("open", remote).Code, wfx::FS_EXEC_YOURSELF);
  ASSERT_EQ(FPlugin.Get(remote, Local("VPN certificate.pfx"), 0).Code, wfx::FS_FILE_OK);
  WriteFile(Local("VPN certificate.pfx"), "renewed certificate");
  FPlugin.Dialogs().Clear();
  ASSERT_EQ(FPlugin.Put(Local("VPN certificate.pfx"), remote, wfx::FS_COPYFLAGS_OVERWRITE).Code, wfx::FS_FILE_OK)
      << Faults() << AskedSoFar();
  ASSERT_EQ(Captions(), std::vector<std::string>{"Set Certificate Password"}) << AskedSoFar();
  const ShownDialog& d = FPlugin.Dialogs().Shown().front();
  EXPECT_EQ(d.Find("labFilename")->Caption, "Certificate file:");
  EXPECT_EQ(d.Find("edtPassword")->Text, "") << "the typed password stayed in the host";
  EXPECT_EQ(Faults(), "");
  const json state = Control("GET", "/__control/state");
  json stored;
  for (const auto& r : state["records"])
    if (r.value("template", "") == "cert" && r.value("id", 0) != 105) stored = r;
  ASSERT_FALSE(stored.is_null());
  EXPECT_EQ(stored["attributes"].value("filePassword", ""), "c3rt");
}

TEST_F(DialogFlow, AFailedMultiFileCopyEndsWithTheResultDialog) {
  StartVault();
  LogIn();
  FPlugin.List("/Demo/Company/Servers");
  Control("POST", "/__control/faults",
          {{"path", "/safe/records/104/download/file"}, {"kind", "fail"}, {"status", 500}, {"times", 1}});
  FScripts["Copy/Move Result"] = {"click btnToggleView; click btnCopyToCpbd; click btnOK"};
  FPlugin.GetMany("/Demo/Company/Servers", {"Release notes.txt", "VPN certificate.pfx"}, Local(""),
                  wfx::FS_COPYFLAGS_OVERWRITE);
  ASSERT_EQ(Captions().back(), "Copy/Move Result") << AskedSoFar();
  const ShownDialog& d = FPlugin.Dialogs().Shown().back();
  EXPECT_EQ(d.Find("stRecOk")->Caption, "Copied Files/Records:");
  EXPECT_EQ(d.Find("stRecOkCount")->Caption, "1");
  EXPECT_EQ(d.Find("stRecErrCount")->Caption, "1");
  EXPECT_EQ(d.Find("memDetails")->Text.rfind("[READ] ", 0), 0u) << "toggled to the grouped view: " << d.Find("memDetails")->Text;
  EXPECT_EQ(ReadFile(Clipboard()), d.Find("memDetails")->Text);
  EXPECT_EQ(Faults(), "");
}

TEST_F(DialogFlow, OneLoginDialogInsteadOfThreePromptsAndThePasswordLeavesNoTrace) {
  StartVault();
  FScripts["Login to Demo"] = {"set edtKofPswd demo; click btnConnect"};
  ASSERT_TRUE(Enter()) << Faults() << AskedSoFar();
  EXPECT_EQ(Faults(), "");
  EXPECT_EQ(Captions(), std::vector<std::string>{"Login to Demo"});
  EXPECT_EQ(CountAsked(IsLoginPrompt), 0) << AskedSoFar();
  const ShownDialog& login = FPlugin.Dialogs().Shown().front();
  EXPECT_EQ(login.Result, 1);
  EXPECT_EQ(login.Find("edtKofDomain")->Text, "SYSTEM");
  EXPECT_EQ(login.Find("edtKofUsername")->Text, "demo");
  EXPECT_EQ(login.Find("stKofUrl")->Caption, VaultURL());
  EXPECT_EQ(login.Find("edtKofPswd")->Text, "") << "the host's copy of the password was not wiped";
  ExpectListing("/Demo", kRoot);
}

TEST_F(DialogFlow, LoginDialogOutcomes) {
  const struct {
    const char* Name;
    std::string Script;
    bool LoggedIn;
    bool Fault;  // the script tried what a user cannot do
  } cases[] = {
      {"connect stays off without a password", "click btnConnect", false, true},
      {"cancel", "set edtKofPswd demo; click btnCancel", false, false},
      {"wrong password", "set edtKofPswd nope; click btnConnect", false, false},
      {"another user typed in", "set edtKofUsername alice; set edtKofDomain CORP; set edtKofPswd alice; click btnConnect",
       true, false},
  };
  StartVault();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    RestartHost();
    FPlugin.Dialogs().Clear();
    FScripts["Login to Demo"] = {c.Script};
    FScripts["TWO-FACTOR AUTHENTICATION"] = {kCurrentTotp};
    if (std::string(c.Name) == "another user typed in") FLogin.User = "alice", FLogin.Domain = "CORP";
    EXPECT_EQ(Enter(), c.LoggedIn) << Faults();
    EXPECT_EQ(!FPlugin.Dialogs().Faults().empty(), c.Fault) << Faults();
    EXPECT_EQ(CountAsked(IsLoginPrompt), 0) << AskedSoFar();
  }
  // The typed user name and domain are the session's from now on.
  RestartHost();
  FPlugin.Dialogs().Clear();
  FScripts["Login to Demo"] = {"cancel"};
  Enter();
  ASSERT_FALSE(FPlugin.Dialogs().Shown().empty());
  EXPECT_EQ(FPlugin.Dialogs().Shown().front().Find("edtKofUsername")->Text, "alice");
}

TEST_F(DialogFlow, AnExpiredLoginIsRenewedInTheReloginDialog) {
  StartVault();
  LogIn();
  FPlugin.List("/Demo");
  Control("POST", "/__control/expire-sessions");
  FScripts["Relogin to Koffra"] = {"set edtKofPswd demo; click btnConnect"};
  const NameList group = Names("/Demo/Company");
  EXPECT_NE(std::find(group.begin(), group.end(), "Servers"), group.end()) << Faults() << AskedSoFar();
  ASSERT_EQ(Captions(), std::vector<std::string>{"Relogin to Koffra"}) << AskedSoFar();
  const ShownDialog& d = FPlugin.Dialogs().Shown().front();
  EXPECT_EQ(d.Find("stKofUsername")->Caption, "demo");
  EXPECT_EQ(d.Find("stKofDomain")->Caption, "SYSTEM");
  EXPECT_EQ(d.Find("edtKofPswd")->Text, "") << "the host's copy of the password was not wiped";
  EXPECT_EQ(Faults(), "");
  // Cancelled, the folder cannot be read; nothing is asked another way.
  Control("POST", "/__control/expire-sessions");
  FPlugin.Dialogs().Clear();
  FScripts["Relogin to Koffra"] = {"cancel"};
  const NameList personal = Names("/Demo/Personal");
  EXPECT_EQ(std::find(personal.begin(), personal.end(), "Mail.account"), personal.end());
  EXPECT_EQ(Captions(), std::vector<std::string>{"Relogin to Koffra"});
  EXPECT_EQ(CountAsked(IsLoginPrompt), 0) << AskedSoFar();
}

TEST_F(DialogFlow, SecondFactorDialog) {
  const struct {
    const char* Name;
    std::deque<std::string> Scripts;
    bool LoggedIn;
    int Shown;
  } cases[] = {
      {"pasted code", {kCurrentTotp}, true, 1},
      {"wrong code asks again", {"set edtDigit1 000000", kCurrentTotp}, true, 2},
      {"escape ends the login", {"key edtDigit1 27"}, false, 1},
  };
  FLogin.Domain = "CORP";
  FLogin.User = FLogin.Password = "alice";
  StartVault();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    RestartHost();
    FPlugin.Dialogs().Clear();
    FScripts["Login to Demo"] = {"set edtKofPswd alice; click btnConnect"};
    FScripts["TWO-FACTOR AUTHENTICATION"] = c.Scripts;
    EXPECT_EQ(Enter(), c.LoggedIn) << Faults() << AskedSoFar();
    const std::vector<std::string> captions = Captions();
    EXPECT_EQ(std::count(captions.begin(), captions.end(), "TWO-FACTOR AUTHENTICATION"), c.Shown);
    EXPECT_EQ(CountAsked(IsSecondFactorPrompt), 0) << AskedSoFar();
    EXPECT_EQ(Faults(), "");
  }
}

TEST_F(DialogFlow, AccessCodeDialogBeforeAPasswordIsCopied) {
  StartVault();
  FScripts["Login to Demo"] = {"set edtKofPswd demo; click btnConnect"};
  ASSERT_TRUE(Enter()) << Faults();
  FScripts["Demo - Access Code"] = {"click btnOK; set edtKofAccessCode 9999; click btnOK",
                                    "set edtKofAccessCode 1234; click btnOK"};
  FPlugin.Dialogs().Clear();
  FPlugin.Exec("open", "/Demo/Company/Servers/db01 root.account");
  // OK cannot be pressed without a code; a wrong code asks again, saying so.
  ASSERT_EQ(FPlugin.Dialogs().Shown().size(), 2u) << Faults();
  EXPECT_EQ(Faults(), "'btnOK' cannot be used now: click btnOK\n");
  EXPECT_EQ(FPlugin.Dialogs().Shown()[0].Find("Info")->Caption, "Viewing account");
  EXPECT_EQ(FPlugin.Dialogs().Shown()[1].Find("Info")->Caption, "Invalid access code");
  EXPECT_EQ(CountAsked(IsAccessCodePrompt), 0) << AskedSoFar();
  EXPECT_EQ(ReadFile(Clipboard()), "Tr0ub4dor&3");
}

TEST_F(DialogFlow, TheTagButtonChoosesFromTheBoxsTagsAndOkSavesThem) {
  json seed = Seed(false);
  seed["tags"] = json::parse(R"([{"name": "ops"}, {"name": "prod"}, {"name": "web"}])");
  seed["boxes"][0]["boxes"][0]["records"][0]["tags"] = "ops";
  StartVaultWith(seed);
  LogIn();
  FScripts["Edit Account"] = {"click sbTagList; click btnOK"};
  FScripts["Select Tags"] = {"check chbTag1 0; check chbTag3 1; check chbTag2 1; click btnOK"};
  ASSERT_NE(Properties(kServers + "db01 root.account", "Edit Account"), nullptr) << Faults() << AskedSoFar();
  EXPECT_EQ(Faults(), "");
  std::vector<std::string> captions = Captions();
  ASSERT_GE(captions.size(), 2u);
  // The tag dialog shows over the record's and closes first.
  ASSERT_EQ(std::vector<std::string>(captions.end() - 2, captions.end()),
            (std::vector<std::string>{"Select Tags", "Edit Account"}));
  const ShownDialog& tags = FPlugin.Dialogs().Shown()[captions.size() - 2];
  EXPECT_EQ(tags.Find("chbTag1")->Caption, "ops");
  EXPECT_EQ(tags.Find("stTagCount")->Caption, "2/3 tags");
  EXPECT_EQ(FPlugin.Dialogs().Shown().back().Find("edtTags")->Text, "prod,web");
  EXPECT_EQ(Stored("records", 101)["tags"], json::parse(R"(["prod", "web"])"));

  // Tags that cannot be read give no tag dialog and leave the record's as they are.
  Control("POST", "/__control/faults", {{"path", "/safe/tags"}, {"kind", "fail"}, {"status", 500}, {"times", 1}});
  FPlugin.Dialogs().Clear();
  FScripts["Edit Account"] = {"click sbTagList; click btnOK"};
  ASSERT_NE(Properties(kServers + "db01 root.account", "Edit Account"), nullptr) << Faults() << AskedSoFar();
  captions = Captions();
  EXPECT_EQ(std::count(captions.begin(), captions.end(), "Select Tags"), 0);
  EXPECT_EQ(Stored("records", 101)["tags"], json::parse(R"(["prod", "web"])"));
}

TEST_F(DialogFlow, TheMappingDialogShowsTheRulesAndRefreshReadsTheEditedFile) {
  const std::string file = (FDir / "user" / "Koffra.subst.cfg").string();
  WriteFile(file, "subst \\\\storage\\vault /srv/vault\n");
  StartVault();
  LogIn();
  std::string before;
  FPlugin.Dialogs().SetScriptSource([&](const ShownDialog& d) -> std::optional<std::string> {
    if (d.Caption != "Mapping Paths") return Script(d);
    if (!before.empty()) return "click btnClose";
    before = d.Find("gridMappings")->Text;
    // The user edits a rule and adds one while the dialog shows.
    WriteFile(file, "subst \\\\storage\\vault /srv/other\nsubst \\\\nas\\x ~/x\n");
    return "click btnRefresh; check chbDisplayEvaluated 1; click btnClose";
  });
  const std::string entry = "/Demo/" + kAccessories + "/__ Mapping paths to external files is ENABLED __";
  std::string newPath;
  EXPECT_EQ(FPlugin.Exec("open", entry, &newPath).Code, wfx::FS_EXEC_SYMLINK);
  EXPECT_EQ(Faults(), "");
  ASSERT_EQ(Captions(), std::vector<std::string>{"Mapping Paths"}) << AskedSoFar();
  EXPECT_EQ(before, "Pattern\tMapped Path\r\n\\\\storage\\vault\t/srv/vault");
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  EXPECT_EQ(FPlugin.Dialogs().Shown().back().Find("gridMappings")->Text,
            "Pattern\tMapped Path\r\n\\\\nas\\x\t" + home + "/x\r\n\\\\storage\\vault\t/srv/other");
  EXPECT_FALSE(NoticeShown("Mapping paths", "")) << "the rules were shown once, in the dialog";
  // Opened again, it shows the rules as the user left it: evaluated.
  FPlugin.Dialogs().Clear();
  FPlugin.Exec("open", entry, &newPath);
  ASSERT_EQ(Captions(), std::vector<std::string>{"Mapping Paths"});
  EXPECT_TRUE(FPlugin.Dialogs().Shown().back().Find("chbDisplayEvaluated")->Checked);
}

TEST_F(DialogFlow, WithoutTheExtensionInterfaceEveryQuestionIsAPrompt) {
  FPlugin.EnableDialogs(false);
  StartVault();
  RestartHost();
  ASSERT_TRUE(Enter()) << AskedSoFar();
  EXPECT_TRUE(FPlugin.Dialogs().Shown().empty());
  EXPECT_EQ(CountAsked(IsLoginPrompt), 2) << AskedSoFar();
}

}  // namespace
}  // namespace kof::test
