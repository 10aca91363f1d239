#include "dialogs/KofLoginDialogs.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/KofKeyboardLayout.h"

namespace kof {
namespace {

constexpr char kUrl[] = "https://vault.example";

TEST(LoginDialog, CannotServeWithoutAddressDomainAndUser) {
  EXPECT_THROW(TLoginDialog("", "", "SYSTEM", "ann"), std::invalid_argument);
  EXPECT_THROW(TLoginDialog("", kUrl, "", "ann"), std::invalid_argument);
  EXPECT_THROW(TLoginDialog("", kUrl, "SYSTEM", ""), std::invalid_argument);
  TLoginDialog shown("", kUrl, "SYSTEM", "ann");
  EXPECT_EQ(shown.Caption(), "Relogin to Koffra");
  EXPECT_EQ(shown.Control("stKofUsername").Caption, "ann");
  EXPECT_FALSE(shown.Control("edtKofUsername").Visible);
}

TEST(LoginDialog, ConnectStaysOffUntilAPasswordIsTypedAndAnswersItTrimmed) {
  TLoginDialog d("Login to Demo", kUrl, "SYSTEM", "ann");
  d.Init();
  EXPECT_FALSE(d.Control("btnConnect").Enabled);
  EXPECT_EQ(d.Click("btnConnect"), mrNone);  // a disabled button cannot close it
  d.SetValue("edtKofPswd", "   ");
  EXPECT_FALSE(d.Control("btnConnect").Enabled);
  d.SetValue("edtKofPswd", "  s3cret ");
  EXPECT_TRUE(d.Control("btnConnect").Enabled);
  EXPECT_EQ(d.Click("btnConnect"), mrOK);
  EXPECT_EQ(d.Password().View(), "s3cret");
}

TEST(LoginDialogExt, NeedsUserAndPasswordAndAnswersSystemForAnEmptyDomain) {
  TLoginDialogExt d("", kUrl, "", "");
  d.Init();
  EXPECT_EQ(d.FocusName(), "edtKofDomain");
  d.SetValue("edtKofPswd", "pw");
  EXPECT_FALSE(d.Control("btnConnect").Enabled);
  d.SetValue("edtKofUsername", " bob ");
  EXPECT_TRUE(d.Control("btnConnect").Enabled);
  EXPECT_EQ(d.Click("btnConnect"), mrOK);
  EXPECT_EQ(d.Domain().View(), "SYSTEM");
  EXPECT_EQ(d.User().View(), "bob");
  EXPECT_EQ(TLoginDialogExt("", kUrl, "", "bob").FocusName(), "edtKofDomain");
  EXPECT_EQ(TLoginDialogExt("", kUrl, "CORP", "").FocusName(), "edtKofUsername");
}

TEST(LoginDialogs, ShowTheActiveKeyboardLayoutBesideTheSecret) {
  const TKeyboardLayout layout = ActiveKeyboardLayout();
  const TLoginDialog login("", kUrl, "SYSTEM", "ann");
  const TLoginDialogExt ext("", kUrl, "", "");
  const TAccessCodeDialog code("c", "", false);
  for (const TKofDialog* d : {static_cast<const TKofDialog*>(&login), static_cast<const TKofDialog*>(&ext),
                              static_cast<const TKofDialog*>(&code)}) {
    SCOPED_TRACE(d->Caption());
    EXPECT_EQ(d->Control("stKeybLang").Caption, layout.Abbreviation);
    EXPECT_EQ(d->Control("stKeybLang").Hint, layout.Name);
  }
}

TEST(AccessCodeDialog, OkOnlyWithACodeAndTheNoticeOnlyWithEncryption) {
  TAccessCodeDialog d("Demo - Access Code", "Viewing account", false);
  d.Init();
  EXPECT_FALSE(d.Control("btnOK").Enabled);
  EXPECT_FALSE(d.Control("sbEncryption").Visible);
  d.SetValue("edtKofAccessCode", " 1234 ");
  EXPECT_EQ(d.Click("btnOK"), mrOK);
  EXPECT_EQ(d.Code().View(), "1234");
  EXPECT_EQ(d.Click("btCancel"), mrCancel);
  EXPECT_TRUE(TAccessCodeDialog("c", "", true).Control("sbEncryption").Visible);
}

TEST(SecondFactorDialog, TypedDigitsMoveOnAndTheSixthClosesWithTheCode) {
  TSecondFactorDialog d;
  for (int i = 1; i <= 5; ++i) {
    d.SetValue("edtDigit" + std::to_string(i), std::to_string(i));
    EXPECT_EQ(d.Control("ProgressBar").Position, i);
    EXPECT_EQ(d.FocusName(), "edtDigit" + std::to_string(i + 1));
    EXPECT_EQ(d.Closing(), mrNone);
  }
  d.SetValue("edtDigit6", "6");
  EXPECT_EQ(d.Closing(), mrOK);
  EXPECT_EQ(d.Code().View(), "123456");
}

TEST(SecondFactorDialog, APastedCodeFillsTheBoxesOnlyWhenItIsOneToSixDigits) {
  const struct {
    const char* Pasted;
    const char* Boxes;  // what the six boxes hold afterwards
    TModalResult Closing;
  } cases[] = {
      {"123456", "123456", mrOK}, {"987", "987", mrNone}, {"12a456", "1", mrNone}, {"1234567", "1", mrNone},
      {"x", "", mrNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Pasted);
    TSecondFactorDialog d;
    d.SetValue("edtDigit1", c.Pasted);
    std::string boxes;
    for (int i = 1; i <= 6; ++i) boxes += d.Control("edtDigit" + std::to_string(i)).Text.View();
    EXPECT_EQ(boxes, c.Boxes);
    EXPECT_EQ(d.Closing(), c.Closing);
  }
}

TEST(SecondFactorDialog, BackspaceGoesBackAndEscapeCancels) {
  TSecondFactorDialog d;
  d.SetValue("edtDigit1", "4");
  d.SetValue("edtDigit2", "2");
  d.Key("edtDigit3", TSecondFactorDialog::kKeyBackspace, false);
  EXPECT_EQ(d.Control("edtDigit2").Text.View(), "");
  EXPECT_EQ(d.Control("ProgressBar").Position, 1);
  EXPECT_EQ(d.FocusName(), "edtDigit2");
  d.Key("edtDigit2", TSecondFactorDialog::kKeyEscape, true);  // with a modifier: nothing
  EXPECT_EQ(d.Closing(), mrNone);
  d.Key("edtDigit2", TSecondFactorDialog::kKeyEscape, false);
  EXPECT_EQ(d.Closing(), mrCancel);
  EXPECT_TRUE(d.Code().Empty());
}

}  // namespace
}  // namespace kof
