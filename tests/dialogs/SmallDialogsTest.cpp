#include "dialogs/KofSmallDialogs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kof {
namespace {

TEST(SetPasswordDialog, StartsWithTheGivenPasswordTogglesItsMaskAndAnswersItAsTyped) {
  TSetPasswordDialog d(false, "notes.txt", "old");
  EXPECT_EQ(d.Caption(), "Set File Password");
  EXPECT_EQ(d.Control("labFilename").Caption, "File name:");
  EXPECT_TRUE(d.Control("edtPassword").Masked);
  EXPECT_EQ(d.Password().View(), "old");
  d.Click("sbShowPswd");
  EXPECT_TRUE(d.Control("edtPasswordShown").Visible);
  EXPECT_FALSE(d.Control("edtPassword").Visible);
  EXPECT_EQ(d.Control("edtPasswordShown").Text.View(), "old");
  d.SetValue("edtPasswordShown", " new ");
  d.Click("sbHidePswd");
  EXPECT_TRUE(d.Control("edtPassword").Visible);
  EXPECT_EQ(d.Click("btnOK"), mrOK);
  EXPECT_EQ(d.Password().View(), " new ");
  TSetPasswordDialog cert(true, "vpn.pfx", "");
  EXPECT_EQ(cert.Caption(), "Set Certificate Password");
  EXPECT_EQ(cert.Click("btnCancel"), mrAbort);
}

TEST(NewSafeBoxDialog, PreselectsASharedSafeBoxAndLockedKeepsIt) {
  TNewSafeBoxDialog open("Servers", false);
  EXPECT_EQ(open.Kind(), 0);
  EXPECT_FALSE(open.Private());
  open.SetItemIndex("rgKindOfSafeBox", 1);
  open.SetItemIndex("rgTypeOfSafeBox", 0);
  EXPECT_EQ(open.Kind(), 1);
  EXPECT_TRUE(open.Private());
  TNewSafeBoxDialog locked("Servers", true);
  EXPECT_FALSE(locked.Control("rgKindOfSafeBox").Enabled);
  EXPECT_FALSE(locked.Control("rgTypeOfSafeBox").Enabled);
  EXPECT_TRUE(locked.Control("ledSafeBoxName").ReadOnly);
  EXPECT_EQ(locked.Click("btOK"), mrOK);
  EXPECT_FALSE(locked.Private());
}

TEST(CopyResultDialog, RowsByOperationAndTheToggleRebuildsTheDetails) {
  const struct {
    TCopyResultContent::TForm Form;
    const char* Caption;
    const char* Row;
    const char* Boxes;
  } cases[] = {
      {TCopyResultContent::Copy, "Copy/Move Result", "Copied Files/Records:", "2"},
      {TCopyResultContent::Move, "Copy/Move Result", "Moved Files/Records:", "2"},
      {TCopyResultContent::Rename, "Copy/Move Result", "Renamed Files/Records:", "2"},
      {TCopyResultContent::DeleteExternal, "Deleting External Files Result", "Deleted External Files:",
       "-----------------------------------"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Row);
    std::vector<bool> saved;
    std::vector<std::string> copied;
    TCopyResultContent content;
    content.Form = c.Form;
    content.CreatedBoxes = 2, content.FailedBoxes = 1, content.DoneRecords = 5, content.FailedRecords = 3;
    content.Details = [](bool grouping) { return std::string(grouping ? "grouped" : "plain"); };
    content.GroupingChanged = [&](bool grouping) { saved.push_back(grouping); };
    content.CopyText = [&](const std::string& text) {
      copied.push_back(text);
      return std::string();
    };
    TCopyResultDialog d(content, true);
    EXPECT_EQ(d.Caption(), c.Caption);
    EXPECT_EQ(d.Control("stRecOk").Caption, c.Row);
    EXPECT_EQ(d.Control("stRecOkCount").Caption, "5");
    EXPECT_EQ(d.Control("stRecErrCount").Caption, "3");
    EXPECT_EQ(d.Control("stBoxNewCount").Caption, c.Boxes);
    EXPECT_EQ(d.Control("memDetails").Text.View(), "grouped");
    d.Click("btnToggleView");
    EXPECT_EQ(d.Control("memDetails").Text.View(), "plain");
    EXPECT_EQ(saved, std::vector<bool>{false});
    d.Click("btnCopyToCpbd");
    EXPECT_EQ(copied, std::vector<std::string>{"plain"});
    EXPECT_EQ(d.Click("btnOK"), mrOK);
  }
}

TEST(MappingPathsDialog, ShowsTheRulesAsWrittenOrEvaluatedAndRefreshes) {
  std::vector<TMappingRule> rules = {{"%ext%", "%TEMP%\\ext", "/tmp/ext", ""}};
  int refreshed = 0;
  TMappingPathsDialog d(rules, false, [&] {
    ++refreshed;
    return std::vector<TMappingRule>{};
  });
  EXPECT_EQ(d.Control("gridMappings").Text.View(), "Pattern\tMapped Path\r\n%ext%\t%TEMP%\\ext");
  d.SetChecked("chbDisplayEvaluated", true);
  EXPECT_EQ(d.Control("gridMappings").Text.View(), "Pattern\tMapped Path\r\n%ext%\t/tmp/ext");
  d.Click("btnRefresh");
  EXPECT_EQ(refreshed, 1);
  EXPECT_EQ(d.Control("gridMappings").Text.View(), "Pattern\tMapped Path") << "no rules: only the header";
  EXPECT_EQ(d.Click("btnClose"), mrCancel);
  EXPECT_TRUE(d.DisplayEvaluated());
}

TEST(SelectTagsDialog, MarksTheRecordsTagsCountsThemAndTheHeaderSetsEveryRow) {
  TSelectTagsDialog d({"ops", "R&D", "web"}, {"ops", "gone"});
  EXPECT_EQ(d.Caption(), "Select Tags");
  EXPECT_EQ(d.CounterText(), "1/3 tags");
  EXPECT_EQ(d.Control("stTagCount").Caption, "1/3 tags");
  EXPECT_EQ(d.Control(TSelectTagsDialog::RowName(1)).Caption, "R&&D") << "no accelerator in a tag's name";
  d.SetChecked(TSelectTagsDialog::RowName(2), true);
  EXPECT_EQ(d.Control("stTagCount").Caption, "2/3 tags");
  EXPECT_EQ(d.Chosen(), (std::vector<std::string>{"ops", "web"}));
  d.SetChecked("chbAllTags", true);
  EXPECT_EQ(d.Control("stTagCount").Caption, "3/3 tags");
  d.SetChecked("chbAllTags", false);
  EXPECT_TRUE(d.Chosen().empty()) << "the header flipped twice leaves every tag unchosen";
  EXPECT_EQ(d.Control("stTagCount").Caption, "0/3 tags");
  EXPECT_EQ(d.Click("btnOK"), mrOK);
  EXPECT_EQ(TSelectTagsDialog({}, {}).CounterText(), "0/0 tags");
}

TEST(LoggedUserDialog, NamesTheUserWhenThereIsOne) {
  EXPECT_EQ(TLoggedUserDialog("ann").Control("stInfo").Caption, "User ann authenticated by Gatewarden SSO");
  EXPECT_EQ(TLoggedUserDialog("").Control("stInfo").Caption, "User authenticated by Gatewarden SSO");
}

}  // namespace
}  // namespace kof
