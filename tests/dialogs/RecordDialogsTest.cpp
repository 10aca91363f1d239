#include "dialogs/KofRecordDialogs.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kof {
namespace {

std::unique_ptr<TKofSecAccount> SecAccount(std::string_view password = "s3cret", std::string_view note = "line one\r\nline two") {
  auto r = std::make_unique<TKofSecAccount>("Domain admin", "Break-glass", "server,ops", "plain note", "", password,
                                            "CORP\\admin", "dc01", "https://login", note);
  r->SetId(102);
  return r;
}

// Hands the dialog a record read "with secrets" and remembers what it put on the clipboard.
struct TFakePlugin {
  std::function<std::unique_ptr<TKofRecord>()> Secrets;
  std::vector<std::pair<std::string, bool>> Copied;
  std::vector<std::string> Errors;
  std::string CopyError;

  TPropertiesHooks Hooks() {
    TPropertiesHooks h;
    h.ReadSecrets = [this](std::string& error) -> std::unique_ptr<TKofRecord> {
      if (!Secrets) {
        error = "Access denied";
        return nullptr;
      }
      return Secrets();
    };
    h.Copy = [this](std::string_view text, bool timed) {
      if (CopyError.empty()) Copied.emplace_back(std::string(text), timed);
      return CopyError;
    };
    h.ShowError = [this](const std::string& m) { Errors.push_back(m); };
    return h;
  }
};

TEST(RecordDialog, EditingNeedsBothTheSessionAndTheRightToModify) {
  const struct {
    bool Editable, Modifiable;
    const char* Caption;
    const char* Info;
  } cases[] = {
      {true, true, "Edit Secret Account", ""},
      {false, true, "Secret Account", "Editing records is disabled in the configuration"},
      {false, false, "Secret Account", "Editing records is disabled in the configuration"},
      {true, false, "Secret Account", "User does not have the right to edit the record"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Caption + std::string(" ") + c.Info);
    auto record = SecAccount();
    TFakePlugin plugin;
    TRecordDialog d(*record, c.Editable, c.Modifiable, plugin.Hooks());
    const bool editing = c.Editable && c.Modifiable;
    EXPECT_EQ(d.Caption(), c.Caption);
    EXPECT_EQ(d.Control("stInfo").Caption, c.Info);
    EXPECT_EQ(d.Control("btnClose").Visible, !editing);
    EXPECT_EQ(d.Control("btnOK").Visible, editing);
    EXPECT_EQ(d.Control("btnCancel").Visible, editing);
    EXPECT_EQ(d.Control("edtName").ReadOnly, !editing);
    EXPECT_EQ(d.Control("cbxConnectionType").Enabled, editing);
    EXPECT_TRUE(d.Control("edtTags").ReadOnly);
    EXPECT_EQ(d.Control("stRecId").Caption, "102");
    EXPECT_EQ(d.Control("edtTags").Text.View(), "ops,server");
    EXPECT_EQ(d.Control("sbTagList").Enabled, editing);
  }
}

TEST(RecordDialog, TheTagButtonTakesTheChosenTagsAndOkWritesThem) {
  auto record = SecAccount();
  TFakePlugin plugin;
  TPropertiesHooks hooks = plugin.Hooks();
  std::vector<std::string> offered;
  bool answer = false;
  hooks.ChooseTags = [&](std::vector<std::string>& tags) {
    offered = tags;
    if (answer) tags = {"web", "db ops"};
    return answer;
  };
  TRecordDialog d(*record, true, true, hooks);
  d.Click("sbTagList");
  EXPECT_EQ(offered, (std::vector<std::string>{"ops", "server"}));
  EXPECT_EQ(d.Control("edtTags").Text.View(), "ops,server") << "cancelled: the tags stay";
  answer = true;
  d.Click("sbTagList");
  EXPECT_EQ(d.Control("edtTags").Text.View(), "\"db ops\",web");
  ASSERT_EQ(d.Click("btnOK"), mrOK);
  EXPECT_EQ(record->TagList().Items(), (std::vector<std::string>{"db ops", "web"}));
}

TEST(RecordDialog, OkWithoutRevealingWritesThePlainFieldsIntoTheCallersRecordOnly) {
  auto record = SecAccount();
  TFakePlugin plugin;
  plugin.Secrets = [] { return SecAccount("never used"); };
  TRecordDialog d(*record, true, true, plugin.Hooks());
  EXPECT_FALSE(d.Control("edtPassword").Visible);
  EXPECT_TRUE(d.Control("edtPassword").Text.Empty());
  d.SetValue("edtName", " domain ADMIN ");
  d.SetValue("edtDescription", "changed");
  d.SetValue("edtSite", "https://other");
  d.SetItemIndex("cbxConnectionType", kofSSH);
  ASSERT_EQ(d.Click("btnOK"), mrOK);
  EXPECT_EQ(&d.Target(), record.get());
  EXPECT_FALSE(d.NameChanged()) << "only the letter case and blanks changed";
  EXPECT_FALSE(d.PasswordChanged());
  EXPECT_EQ(record->Name(), " domain ADMIN ");
  EXPECT_EQ(record->Description(), "changed");
  EXPECT_EQ(record->LoginSite(), "https://other");
  EXPECT_EQ(record->Launcher(), kofSSH);
  EXPECT_EQ(record->Password().View(), "s3cret");
  EXPECT_EQ(record->SecNote().View(), "line one\r\nline two");
}

TEST(RecordDialog, RevealedSecretsAreEditedInTheRecordReadWithThem) {
  auto record = SecAccount("");
  TFakePlugin plugin;
  plugin.Secrets = [] { return SecAccount("from server"); };
  TRecordDialog d(*record, true, true, plugin.Hooks());
  EXPECT_EQ(d.Click("sbShowSecureGroup"), mrNone);
  ASSERT_TRUE(d.SecretsShown());
  EXPECT_TRUE(d.Control("edtPassword").Visible && d.Control("edtPassword").Masked);
  EXPECT_EQ(d.Control("edtPassword").Text.View(), "from server");
  EXPECT_FALSE(d.Control("memSecNote").Visible) << "the secret note has its own toggle";
  d.Click("sbShowPswd");
  EXPECT_TRUE(d.Control(TRecordDialog::PlainTwin("edtPassword")).Visible);
  EXPECT_FALSE(d.Control("edtPassword").Visible);
  d.SetValue(TRecordDialog::PlainTwin("edtPassword"), "new one");
  d.SetValue("edtName", "Renamed");
  ASSERT_EQ(d.Click("btnOK"), mrOK);
  ASSERT_NE(&d.Target(), record.get());
  const auto& target = dynamic_cast<const TKofSecAccount&>(d.Target());
  EXPECT_EQ(target.Password().View(), "new one");
  EXPECT_EQ(target.Name(), "Renamed");
  EXPECT_EQ(target.SecLoginName().View(), "CORP\\admin");
  EXPECT_TRUE(d.PasswordChanged());
  EXPECT_TRUE(d.NameChanged());
}

TEST(RecordDialog, HidingAgainWipesTheSecretsAndOkThenWritesNoneOfThem) {
  auto record = SecAccount();
  TFakePlugin plugin;
  plugin.Secrets = [] { return SecAccount("from server"); };
  TRecordDialog d(*record, true, true, plugin.Hooks());
  d.Click("sbShowSecureGroup");
  d.SetValue("edtPassword", "typed");
  d.Click("sbHideSecureGroup");
  EXPECT_FALSE(d.SecretsShown());
  EXPECT_TRUE(d.Control("edtPassword").Text.Empty());
  EXPECT_TRUE(d.Control(TRecordDialog::PlainTwin("edtPassword")).Text.Empty());
  const std::vector<std::string> wipes = d.TakeWipes();
  for (const char* name : {"edtPassword", "edtPasswordShown", "edtLogin", "edtAddress", "memSecNote"})
    EXPECT_NE(std::find(wipes.begin(), wipes.end(), name), wipes.end()) << name;
  EXPECT_TRUE(d.Control("sbShowSecureGroup").Visible);
  EXPECT_FALSE(d.Control("sbPasswordCopy").Visible);
  ASSERT_EQ(d.Click("btnOK"), mrOK);
  EXPECT_EQ(&d.Target(), record.get());
  EXPECT_EQ(record->Password().View(), "s3cret");
  EXPECT_FALSE(d.PasswordChanged());
}

TEST(RecordDialog, ASecretReadThatFailsIsToldAndKeepsTheGroupHidden) {
  auto record = SecAccount();
  TFakePlugin plugin;
  TRecordDialog d(*record, true, true, plugin.Hooks());
  d.Click("sbShowSecureGroup");
  EXPECT_EQ(plugin.Errors, std::vector<std::string>{"Access denied"});
  EXPECT_FALSE(d.SecretsShown());
  EXPECT_FALSE(d.Control("edtPassword").Visible);
  EXPECT_EQ(d.Click("sbPasswordCopy"), mrNone);
  EXPECT_TRUE(plugin.Copied.empty()) << "a hidden secret's copy button cannot be pressed";
}

TEST(RecordDialog, CopyButtonsCopyTheShownTextAndOnlySecretsAreTimed) {
  auto record = SecAccount();
  TFakePlugin plugin;
  plugin.Secrets = [] { return SecAccount("pw", "first\r\nsecond\r\nthird"); };
  TRecordDialog d(*record, false, true, plugin.Hooks());
  d.Click("sbNameCopy");
  d.Click("sbSiteCopy");
  d.Click("sbShowSecureGroup");
  d.Click("sbPasswordCopy");
  d.Click("sbShowSecNote");
  d.Click("sbSecNoteRow2Copy");
  d.Click("sbSecNoteRow4Copy");
  const std::vector<std::pair<std::string, bool>> expected = {
      {"Domain admin", false}, {"https://login", false}, {"pw", true}, {"second", true}, {"", true}};
  EXPECT_EQ(plugin.Copied, expected);
  EXPECT_TRUE(d.Control("BalloonHint").Visible);
  plugin.CopyError = "no clipboard program";
  d.Click("sbLoginCopy");
  EXPECT_FALSE(d.Control("BalloonHint").Visible);
  EXPECT_EQ(plugin.Errors, std::vector<std::string>{"no clipboard program"});
}

TEST(RecordDialog, TheAccountRevealsItsPasswordInPlace) {
  auto record = std::make_unique<TKofAccount>("db01 root", "", "", "", "", "", "root", "db01", "");
  TFakePlugin plugin;
  plugin.Secrets = [] {
    return std::make_unique<TKofAccount>("db01 root", "", "", "", "", "Tr0ub4dor&3", "root", "db01", "");
  };
  TRecordDialog d(*record, true, true, plugin.Hooks());
  EXPECT_FALSE(d.Has("gbxSecure"));
  EXPECT_EQ(d.Control("edtLogin").Text.View(), "root");
  d.Click("sbShowPswd");
  EXPECT_EQ(d.Control("edtPassword").Text.View(), "Tr0ub4dor&3");
  EXPECT_FALSE(d.Control("edtPassword").Masked);
  d.Click("sbLoginCopy");
  d.Click("sbPasswordCopy");
  EXPECT_EQ(plugin.Copied, (std::vector<std::pair<std::string, bool>>{{"root", false}, {"Tr0ub4dor&3", true}}));
  ASSERT_EQ(d.Click("btnOK"), mrOK);
  EXPECT_FALSE(d.PasswordChanged());
}

TEST(RecordDialog, CardExpirationIsShownAsMonthAndYearAndWrittenBackOnTheFifteenth) {
  const struct {
    const char* Name;
    const char* Stored;
    const char* ShownMonth;
    const char* ShownYear;
    const char* Month;
    const char* Year;
    const char* Written;
  } cases[] = {
      {"kept", "2028-09-15T00:00:00.000Z", "9", "2028", nullptr, nullptr, "2028-09-15T00:00:00.000Z"},
      {"none stays none", "", "", "", nullptr, nullptr, ""},
      {"none is given one", "", "", "", "3", "2031", "2031-03-15T00:00:00.000Z"},
      {"half a date is none", "", "", "", "3", nullptr, ""},
      {"out of range", "2028-09-15T00:00:00.000Z", "9", "2028", "13", "1999", "2000-01-15T00:00:00.000Z"},
      {"not a number clears it", "2028-09-15T00:00:00.000Z", "9", "2028", "x", "2030", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TKofCreditCard card("Visa", "", "", "", "", "", "", "", "");
    TFakePlugin plugin;
    const std::string stored = c.Stored;
    plugin.Secrets = [&] { return std::make_unique<TKofCreditCard>("Visa", "", "", "", "", "4111", stored, "737", "2580"); };
    TRecordDialog d(card, true, true, plugin.Hooks());
    d.Click("sbShowSecFields");
    EXPECT_EQ(d.Control("edtExpirationMonth").Text.View(), c.ShownMonth);
    EXPECT_EQ(d.Control("edtExpirationYear").Text.View(), c.ShownYear);
    EXPECT_TRUE(d.Control("edtCVV").Masked && d.Control("edtPIN").Masked);
    if (c.Month) d.SetValue("edtExpirationMonth", c.Month);
    if (c.Year) d.SetValue("edtExpirationYear", c.Year);
    ASSERT_EQ(d.Click("btnOK"), mrOK);
    EXPECT_EQ(dynamic_cast<const TKofCreditCard&>(d.Target()).Expiration().View(), c.Written);
  }
}

TEST(RecordDialog, FileNamesAreNeverEditable) {
  TKofExternalFile ext("Holiday video", "", "", "", "holiday.mp4", "koffra-ext/6/x.kofx", "", "", "", 10);
  TFakePlugin plugin;
  plugin.Secrets = [] {
    return std::make_unique<TKofExternalFile>("Holiday video", "", "", "", "holiday.mp4", "koffra-ext/6/x.kofx", "", "",
                                              "", 10);
  };
  TRecordDialog d(ext, true, true, plugin.Hooks());
  d.Click("sbShowSecureGroup");
  EXPECT_EQ(d.Control("edtOrigFileName").Text.View(), "holiday.mp4");
  EXPECT_TRUE(d.Control("edtOrigFileName").ReadOnly && d.Control("edtStorageFileName").ReadOnly);
  EXPECT_FALSE(d.Control("edtName").ReadOnly);
  EXPECT_EQ(RecordDialogKind(kofStation), nullptr);
  EXPECT_EQ(RecordDialogKind(kofSafeBox), nullptr);
}

TEST(SafeBoxDialog, CaptionsByKindAndTheTypeWrittenBackAsPrivate) {
  const struct {
    bool Group;
    bool Private;
    int Chosen;
    const char* Caption;
    const char* TypeLabel;
  } cases[] = {{false, true, 1, "Edit Safe Box", "Safe Box Type"}, {true, false, 0, "Edit Safe Box Group", "Safe Box Group Type"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Caption);
    std::unique_ptr<TKofSafeBox> box = c.Group ? std::make_unique<TKofSafeBoxGroup>("Company", "", c.Private, 0)
                                               : std::make_unique<TKofSafeBox>("Company", "", c.Private, 0);
    TFakePlugin plugin;
    TSafeBoxDialog d(*box, true, true, plugin.Hooks());
    EXPECT_EQ(d.Caption(), c.Caption);
    EXPECT_EQ(d.Control("labSafeBoxType").Caption, c.TypeLabel);
    EXPECT_EQ(d.Control("rgSafeBoxType").ItemIndex, c.Private ? 0 : 1);
    d.SetValue("edtName", "  Firm ");
    d.SetItemIndex("rgSafeBoxType", c.Chosen);
    d.Click("sbNameCopy");
    ASSERT_EQ(d.Click("btnOK"), mrOK);
    EXPECT_EQ(box->Name(), "Firm");
    EXPECT_TRUE(d.NameChanged());
    EXPECT_EQ(box->PrivateBox(), c.Chosen == 0);
    EXPECT_EQ(plugin.Copied, (std::vector<std::pair<std::string, bool>>{{"  Firm ", false}}));
  }
}

TEST(SafeBoxDialog, ReadOnlyOffersOnlyClose) {
  TKofSafeBox box("Finance", "", false, 0);
  TFakePlugin plugin;
  TSafeBoxDialog d(box, true, false, plugin.Hooks());
  EXPECT_EQ(d.Caption(), "Safe Box");
  EXPECT_FALSE(d.Control("rgSafeBoxType").Enabled);
  EXPECT_TRUE(d.Control("edtName").ReadOnly);
  EXPECT_EQ(d.Click("btnOK"), mrNone);
  EXPECT_EQ(d.Click("btnClose"), mrClose);
}

TEST(MemoLine, CountsFromTheFirstLineAndDropsLineEnds) {
  const struct {
    const char* Text;
    int Row;
    const char* Line;
  } cases[] = {{"a\r\nb\r\nc", 2, "b"}, {"a\nb", 1, "a"}, {"a", 3, ""}, {"", 1, ""}, {"a\r\n\r\nc", 3, "c"}};
  for (const auto& c : cases) EXPECT_EQ(MemoLine(c.Text, c.Row), c.Line) << c.Text << " row " << c.Row;
}

}  // namespace
}  // namespace kof
