// Logging in through the single-sign-on client's native host (the stand-in),
// and every way it can fail, each ending in the password login.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "tests/flows/VaultFixture.h"
#include "tests/sso/KofSsoFixture.h"

namespace kof::test {
namespace {

class SsoFlow : public VaultFlow {
 protected:
  void SetUp() override {
    VaultFlow::SetUp();
    StartVault();
    FStandIn.emplace(TSsoStandIn::Built(BuildDir()), FDir / "sso");
  }

  // The demo user's certificate, as the test server issues it.
  void HoldDemoCertificate() {
    const json issued = Control("POST", "/__control/issue-certificate", {{"user", "demo"}, {"domain", "SYSTEM"}});
    FStandIn->AnswerWith(issued["cert"].get<std::string>(), issued["key"].get<std::string>());
  }

  std::optional<TSsoStandIn> FStandIn;
};

TEST_F(SsoFlow, TheSignedInUserEntersWithoutAPassword) {
  HoldDemoCertificate();
  ASSERT_TRUE(Enter()) << AskedSoFar();
  EXPECT_EQ(CountAsked(IsLoginPrompt), 0) << AskedSoFar();
  EXPECT_TRUE(NoticeShown("GWarden-demo", "User GWarden-demo authenticated by Gatewarden SSO")) << AskedSoFar();
  ExpectListing("/Demo", kRoot);
  // The titles name the single-sign-on user: here the access-code prompt.
  FPlugin.GetAnswers().ClearAsked();
  ASSERT_FALSE(FPlugin.List("/Demo/Personal").empty());
  FPlugin.Exec("open", "/Demo/Personal/Mail.account");
  EXPECT_EQ(ReadFile(Clipboard()), "m4il");
  bool askedAsSsoUser = false;
  for (const auto& r : FPlugin.GetAnswers().Asked()) askedAsSsoUser |= IsAccessCodePrompt(r) && r.Title == "GWarden-demo - Access Code";
  EXPECT_TRUE(askedAsSsoUser) << AskedSoFar();
}

TEST_F(SsoFlow, WithTheHostsDialogsTheLoginIsNoticedInADialogOfItsOwn) {
  FPlugin.EnableDialogs();
  RestartHost();
  FPlugin.Dialogs().Push("click btnClose");
  HoldDemoCertificate();
  ASSERT_TRUE(Enter()) << AskedSoFar();
  ASSERT_EQ(FPlugin.Dialogs().Shown().size(), 1u) << AskedSoFar();
  const auto& notice = FPlugin.Dialogs().Shown().front();
  EXPECT_EQ(notice.Find("stInfo")->Caption, "User GWarden-demo authenticated by Gatewarden SSO");
  EXPECT_TRUE(FPlugin.Dialogs().Faults().empty());
  EXPECT_FALSE(NoticeShown("GWarden-demo", "authenticated by Gatewarden SSO")) << AskedSoFar();
  // The session's configuration shows the single-sign-on client's state.
  FPlugin.Dialogs().Push("cancel");
  FPlugin.Exec("properties", "/Demo.<KOF>");
  ASSERT_EQ(FPlugin.Dialogs().Shown().size(), 2u) << AskedSoFar();
  EXPECT_EQ(FPlugin.Dialogs().Shown().back().Find("panIcons")->Caption, "Gatewarden SSO: authenticated");
  FStandIn->Answer({{"status", 0}});
  FPlugin.Dialogs().Push("cancel");
  FPlugin.Exec("properties", "/Demo.<KOF>");
  ASSERT_EQ(FPlugin.Dialogs().Shown().size(), 3u);
  EXPECT_EQ(FPlugin.Dialogs().Shown().back().Find("panIcons")->Caption, "Gatewarden SSO: disconnected");
}

TEST_F(SsoFlow, EachFailureOfSingleSignOnTellsWhyAndFallsBackToThePassword) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string title;
    std::string text;
  };
  const auto behave = [this](const char* behaviour) {
    return [this, behaviour] { FStandIn->Answer({{"behaviour", behaviour}, {"status", 3}}); };
  };
  const Case cases[] = {
      {"disconnected", [this] { FStandIn->Answer({{"status", 0}}); }, "GWarden", "client is disconnected"},
      {"connecting", [this] { FStandIn->Answer({{"status", "1"}}); }, "GWarden", "client is connecting"},
      {"broken frame", behave("broken"), "GWarden", "answer was broken"},
      {"silence", behave("silent"), "GWarden", "did not answer in time"},
      {"crash", behave("crash"), "GWarden", "ended abnormally"},
      {"program missing", [this] { std::filesystem::remove(FStandIn->Folder() / "gwarden_native_host"); }, "GWarden",
       "was not found"},
      // Issued again, the first certificate is no longer the user's.
      {"certificate the server refuses",
       [this] {
         HoldDemoCertificate();
         Control("POST", "/__control/issue-certificate", {{"user", "demo"}, {"domain", "SYSTEM"}});
       },
       "Connection", "Single sign-on login failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RestartHost();
    FStandIn.emplace(TSsoStandIn::Built(BuildDir()), FDir / "sso");
    c.arrange();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Enter()) << AskedSoFar();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_TRUE(NoticeShown(c.title, c.text)) << AskedSoFar();
    EXPECT_GT(CountAsked(IsLoginPrompt), 0) << AskedSoFar();
    EXPECT_FALSE(NoticeShown("", "authenticated by Gatewarden SSO")) << AskedSoFar();
    ExpectListing("/Demo", kRoot);
  }
}

TEST_F(SsoFlow, WithoutASingleSignOnClientNothingIsSaidBeforeThePassword) {
  TKofRegistry(TRegRoot::LocalMachine).DeleteKey("Software\\Varnok\\Gatewarden SSO Client");
  ASSERT_TRUE(Enter()) << AskedSoFar();
  EXPECT_FALSE(NoticeShown("GWarden", "")) << AskedSoFar();
  EXPECT_GT(CountAsked(IsLoginPrompt), 0);
}

}  // namespace
}  // namespace kof::test
