// The access code's expiry, with the plugin linked into this program so that
// the test can move the plugin's clock on instead of waiting.
#include <chrono>

#include "platform/KofClock.h"
#include "tests/flows/VaultFixture.h"

namespace kof::test {
namespace {

TEST_F(VaultFlow, AccessCodeIsAskedOnceUntilItExpires) {
  TKofManualClock clock;
  TKofClockOverride useClock(clock);
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

  clock.Advance(std::chrono::milliseconds(3500));
  ASSERT_FALSE(FPlugin.List("/Demo/Personal").empty());
  FPlugin.Exec("open", account);
  EXPECT_EQ(CountAsked(IsAccessCodePrompt), 2) << "an expired code is asked again\n" << AskedSoFar();
  for (const auto& r : FPlugin.GetAnswers().Asked())
    if (IsAccessCodePrompt(r)) {
      EXPECT_EQ(r.Title, "Demo - Access Code");
    }
}

}  // namespace
}  // namespace kof::test
