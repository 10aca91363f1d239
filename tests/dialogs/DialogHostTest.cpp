#include "plugin/KofDialogHost.h"

#include <gtest/gtest.h>

#include <memory>

#include "dialogs/KofLoginDialogs.h"
#include "tools/wfxhost/DialogStandIn.h"

namespace kof {
namespace {

// The user moves the focus behind the dialog's back: each move the dialog asks
// for must reach the host, also one to the control it named last time.
TEST(DialogHost, TheFocusGoesWhereTheDialogPutsItAfterTheUserMovedIt) {
  const struct {
    const char* Name;
    const char* Script;
    const char* Focus;
  } cases[] = {
      {"shown", "", "edtDigit1"},
      {"typed on", "set edtDigit1 1; set edtDigit2 2", "edtDigit3"},
      {"a box typed again after the user went back to it",
       "set edtDigit1 1; set edtDigit2 2; set edtDigit2 ; set edtDigit2 7", "edtDigit3"},
      {"backspace in an empty box", "set edtDigit1 1; set edtDigit2 2; key edtDigit3 8", "edtDigit2"},
  };
  wfxhost::DialogStandIn standIn;
  auto info = std::make_unique<wfx::tExtensionStartupInfo>();
  standIn.Fill(*info, "/tmp", "/tmp");
  TKofDialogHost host(TKofExtension::FromHost(info.get()));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    standIn.Clear();
    standIn.Push(std::string(c.Script) + "; cancel");
    TSecondFactorDialog dialog;
    EXPECT_EQ(host.Show(dialog), mrCancel);
    ASSERT_EQ(standIn.Shown().size(), 1u);
    EXPECT_EQ(standIn.Shown().back().Focus, c.Focus);
    EXPECT_TRUE(standIn.Faults().empty()) << standIn.Faults().front();
  }
}

}  // namespace
}  // namespace kof
