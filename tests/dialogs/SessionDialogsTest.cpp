#include "dialogs/KofSessionDialogs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kof {
namespace {

TSessionConfigValues Work() {
  TSessionConfigValues v;
  v.Name = "Work";
  v.Address = {"https://vault.example", "CORP", "ann"};
  v.Settings.AccessCodeTimeout = 90;
  return v;
}

TEST(SessionConfigDialog, ValuesAreCorrectedOnTheWayInAndOut) {
  const struct {
    const char* Name;
    int StoredBuffer;
    const char* ShownBuffer;
    const char* TypedBuffer;  // nullptr: untouched
    int Buffer;
    const char* TypedMinutes;
    int Timeout;
  } cases[] = {
      {"untouched", 16, "16", nullptr, 16, nullptr, 60},
      {"stored 0", 0, "1", nullptr, 1, "2", 120},
      {"stored 100", 100, "1", "80", 64, "x", 0},
      {"nothing typed", 16, "16", "", 1, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TSessionConfigValues in = Work();
    in.Settings.BufferSize = c.StoredBuffer;
    TSessionConfigDialog d(in, {});
    EXPECT_EQ(d.Caption(), "Session Configuration");
    EXPECT_EQ(d.Control("ledACTimeout").Text.View(), "1");
    EXPECT_EQ(d.Control("ledBufferSize").Text.View(), c.ShownBuffer);
    if (c.TypedBuffer) d.SetValue("ledBufferSize", c.TypedBuffer);
    if (c.TypedMinutes) d.SetValue("ledACTimeout", c.TypedMinutes);
    d.SetChecked("chbEditable", false);
    d.SetItemIndex("cbxVersionSystem", 2);
    d.SetValue("edtDomain", "  HQ ");
    ASSERT_EQ(d.Click("btnOK"), mrOK);
    const TSessionConfigValues out = d.Values();
    EXPECT_EQ(out.Settings.BufferSize, c.Buffer);
    EXPECT_EQ(out.Settings.AccessCodeTimeout, c.Timeout);
    EXPECT_FALSE(out.Settings.EditableRecords);
    EXPECT_EQ(out.Settings.VersionType, verNumber);
    EXPECT_EQ(out.Address.Domain, "HQ");
    EXPECT_EQ(out.Address.URL, "https://vault.example");
  }
}

TEST(SessionConfigDialog, OkNeedsANameAndAnAddressButNoUser) {
  TSessionConfigValues in;
  in.Name = "New";
  TSessionConfigOptions options;
  options.NewSession = true;
  TSessionConfigDialog d(in, options);
  d.Init();
  EXPECT_EQ(d.Caption(), "Configuration of a new Session");
  EXPECT_FALSE(d.Control("btnOK").Enabled);
  d.SetValue("edtURL", "https://x");
  EXPECT_TRUE(d.Control("btnOK").Enabled);
  d.SetValue("edtName", "  ");
  EXPECT_FALSE(d.Control("btnOK").Enabled);
  EXPECT_EQ(d.Click("btnOK"), mrNone);
}

TEST(SessionConfigDialog, ReadOnlyOffersOnlyCloseAndLockedIdentityShowsTheUser) {
  TSessionConfigOptions ro;
  ro.ReadOnly = true;
  TSessionConfigDialog readOnly(Work(), ro);
  EXPECT_FALSE(readOnly.Control("btnOK").Visible);
  EXPECT_TRUE(readOnly.Control("btnClose").Visible);
  EXPECT_TRUE(readOnly.Control("stConfigInfo").Visible);
  EXPECT_TRUE(readOnly.Control("edtName").ReadOnly);
  EXPECT_FALSE(readOnly.Control("chbEditable").Enabled);
  EXPECT_EQ(readOnly.Click("btnOK"), mrNone);
  EXPECT_EQ(readOnly.Click("btnClose"), mrCancel);

  TSessionConfigOptions locked;
  locked.LockIdentity = true;
  locked.LoggedUser = "ann";
  TSessionConfigDialog panel(Work(), locked);
  for (const char* name : {"edtName", "edtURL", "edtDomain", "edtUsername", "btnTest", "btnEnrich"})
    EXPECT_FALSE(panel.Control(name).Enabled) << name;
  EXPECT_TRUE(panel.Control("stLoggedUser").Visible);
  EXPECT_EQ(panel.Control("stLoggedUser").Caption, "Logged user: ann");
  EXPECT_TRUE(panel.Control("chbEditable").Enabled);
}

TEST(SessionConfigDialog, EnrichAppendsEachTimeAndTestShowsOneMessage) {
  std::vector<std::string> shown;
  std::vector<std::string> tested;
  TSessionConfigOptions options;
  options.ShowMessage = [&](const std::string& title, const std::string& text) { shown.push_back(title + ": " + text); };
  options.Test = [&](const std::string& url) {
    tested.push_back(url);
    return std::pair<std::string, std::string>{"Information", "Success!"};
  };
  TSessionConfigDialog d(Work(), options);
  d.Click("btnEnrich");
  d.Click("btnEnrich");
  EXPECT_EQ(d.Control("edtName").Text.View(), "Work_AC1-NOPWD-EDIT-NOVER_AC1-NOPWD-EDIT-NOVER");
  d.SetValue("edtURL", " https://other ");
  d.Click("btnTest");
  d.SetValue("edtURL", " ");
  d.Click("btnTest");
  EXPECT_EQ(tested, std::vector<std::string>{"https://other"});
  EXPECT_EQ(shown, (std::vector<std::string>{"Information: Success!", "Warning: Empty URL. Enter address of Koffra."}));
}

TEST(VerSysDialog, PreselectsTheModeAndAnswersTheChosenOne) {
  TVerSysDialog d(verUserDaily);
  EXPECT_EQ(d.Control("cbxVersionSystem").ItemIndex, verUserDaily);
  EXPECT_EQ(d.Control("cbxVersionSystem").Items.size(), static_cast<std::size_t>(kVersionTypeCount));
  d.SetItemIndex("cbxVersionSystem", verNumber);
  EXPECT_EQ(d.Click("btnOk"), mrOK);
  EXPECT_EQ(d.VerType(), verNumber);
}

}  // namespace
}  // namespace kof
