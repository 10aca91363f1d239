// The plugin's own dialogs, shown by wfxhost's stand-in for the file
// manager's extension interface and filled by scripts as a user would.
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

  std::map<std::string, std::deque<std::string>> FScripts;
};

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
