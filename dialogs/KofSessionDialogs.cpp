#include "dialogs/KofSessionDialogs.h"

#include <algorithm>
#include <charconv>

#include "support/KofText.h"

namespace kof {
namespace {

constexpr int kWidth = 620;
constexpr int kFieldLeft = 130;
constexpr int kMinBuffer = 1, kMaxBuffer = 64;

std::vector<std::string> ModeNames() {
  std::vector<std::string> names;
  for (int i = 0; i < kVersionTypeCount; ++i) names.emplace_back(VersionTypeName(static_cast<TVersionType>(i)));
  return names;
}

TDialogControl CheckBox(std::string name, std::string caption, std::string hint, bool checked, int left, int top) {
  TDialogControl c;
  c.Name = std::move(name);
  c.Kind = TControlKind::CheckBox;
  c.Caption = std::move(caption);
  c.Hint = std::move(hint);
  c.Checked = checked;
  c.Left = left, c.Top = top, c.Width = kWidth - 2 * 12 - left - 8, c.Height = 21;
  return c;
}

TDialogControl Positioned(TDialogControl c, int left, int top, int width, int height = 23) {
  c.Left = left, c.Top = top, c.Width = width, c.Height = height;
  return c;
}

const char* SsoCaption(int status) {
  switch (status) {
    case 0: return "Gatewarden SSO: disconnected";
    case 1:
    case 2: return "Gatewarden SSO: connecting";
    case 3: return "Gatewarden SSO: authenticated";
    default: return "Gatewarden SSO: not found";
  }
}

}  // namespace

int TypedNumber(std::string_view text, int fallback) {
  const std::string t = Trim(text);
  int value = 0;
  const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
  return t.empty() || error != std::errc() || end != t.data() + t.size() ? fallback : value;
}

TSessionConfigDialog::TSessionConfigDialog(const TSessionConfigValues& values, TSessionConfigOptions options)
    : TKofDialog(options.NewSession ? "Configuration of a new Session" : "Session Configuration", kWidth, 560),
      FOptions(std::move(options)),
      FIn(values) {
  const TSessionSettings& s = values.Settings;
  const bool ro = FOptions.ReadOnly;
  // The connection.
  TDialogControl group;
  group.Name = "SessionDlg";
  group.Kind = TControlKind::GroupBox;
  group.Left = kMargin, group.Top = kMargin, group.Width = kWidth - 2 * kMargin, group.Height = 160;
  Add(std::move(group));
  const struct {
    const char* Label;
    const char* Caption;
    const char* Edit;
    const std::string& Value;
    const char* TextHint;
  } rows[] = {{"labName", "Name:", "edtName", values.Name, ""},
              {"labURL", "URL:", "edtURL", values.Address.URL, "https://koffra.example:443"},
              {"labDomain", "KOF Domain:", "edtDomain", values.Address.Domain, "SYSTEM"},
              {"labUsername", "Username:", "edtUsername", values.Address.Username, ""}};
  int top = 4;
  for (const auto& r : rows) {
    TDialogControl label = MakeLabel(r.Label, r.Caption, 8, top, kFieldLeft - 16);
    label.Parent = "SessionDlg";
    Add(std::move(label));
    TDialogControl edit = Positioned(MakeEdit(r.Edit), kFieldLeft, top, 300);
    edit.Parent = "SessionDlg";
    edit.Text.Assign(r.Value);
    edit.TextHint = r.TextHint;
    edit.ReadOnly = ro;
    edit.Enabled = !FOptions.LockIdentity;
    Add(std::move(edit));
    top += kRowHeight;
  }
  const int side = kFieldLeft + 312;
  for (auto [name, caption, hint, row] :
       {std::tuple{"btnTest", "&Test", "Test URL", 1}, std::tuple{"btnEnrich", "En&rich Name", "Enriches the Session name with parameters", 0}}) {
    TDialogControl b = Positioned(MakeButton(name, caption, mrNone, hint), side, 4 + row * kRowHeight, 110);
    b.Parent = "SessionDlg";
    b.Enabled = !FOptions.LockIdentity;
    Add(std::move(b));
  }
  // One line of text stands for the four status images.
  TDialogControl sso = MakeLabel("panIcons", SsoCaption(FOptions.SsoStatus), side, 4 + 2 * kRowHeight, 130);
  sso.Parent = "SessionDlg";
  sso.Hint = sso.Caption;
  Add(std::move(sso));
  TDialogControl plugVer = MakeLabel("stPlugVer", FOptions.VersionText, side, 4 + 3 * kRowHeight, 130);
  plugVer.Parent = "SessionDlg";
  plugVer.Visible = !FOptions.VersionText.empty();
  Add(std::move(plugVer));
  // The settings.
  top = kMargin + 170;
  AddLabel("labACTimeout", "Access Code &Timeout [min]", kMargin, top, 200);
  TDialogControl timeout = Positioned(MakeEdit("ledACTimeout", "Enter accesss code timeout "), kMargin + 210, top, 70);
  if (s.AccessCodeTimeout >= 0) timeout.Text.Assign(std::to_string(s.AccessCodeTimeout / 60));
  timeout.ReadOnly = ro;
  timeout.Enabled = !ro;
  Add(std::move(timeout));
  top += kRowHeight;
  AddLabel("labVersionSystem", "File &versioning mode", kMargin, top, 200);
  TDialogControl modes = Positioned(MakeEdit("cbxVersionSystem", "Choose type of file versioning"), kMargin + 210, top,
                                    std::max(300, EstimatedListWidth(ModeNames())));
  modes.Kind = TControlKind::ComboBox;
  modes.Items = ModeNames();
  modes.ItemIndex = s.VersionType < kVersionTypeCount ? s.VersionType : 0;
  modes.Enabled = !ro;
  Add(std::move(modes));
  top += kRowHeight;
  const struct {
    const char* Name;
    const char* Caption;
    const char* Hint;
    bool Value;
  } checks[] = {
      {"chbVerSysUsage", "Allow versioning mode change before &file update",
       "Allow changes of file versioning before update file record", s.AllowedVersionTypeChange},
      {"chbEditable", "Allow records &modification", "Modifiing and saving records allowed ", s.EditableRecords},
      {"chbFilesWithPasswords", "&Put password to File record", "Checked = save password to secret note of File record",
       s.FilesWithPasswords},
      {"chbGrouping", "&Group error lines (in the Copy Result dialog)",
       "Grouping error rows in the Copy/Move Result Dialog", s.ErrorGrouping},
      {"chbMessage", "&Inform about a copy/clear to/of the Clipboard",
       "Plugin notifies the copy to the clipboard or its clearing", s.ClipCopyMessage},
      {"chbDisplayHelpFolder", "Display \"&Accessories\" folder in all Safe Boxes",
       "Plugin displays Help folders in inner Safe Boxes", s.DisplayHelpFolders},
      {"chbEncrypting", "&Encrypt files in the Temp folder of user's profile",
       "Pressing F3/F4/Enter saves the file to the Temp folder", s.EncryptingFiles},
  };
  for (const auto& c : checks) {
    TDialogControl box = CheckBox(c.Name, c.Caption, c.Hint, c.Value, kMargin, top);
    const std::string name = c.Name;
    box.Enabled = !ro || name == "chbDisplayHelpFolder" || name == "chbEncrypting";
    Add(std::move(box));
    top += 24;
  }
  TDialogControl logged = MakeLabel("stLoggedUser", "Logged user: " + FOptions.LoggedUser, kMargin, top, 300);
  logged.Visible = !FOptions.LoggedUser.empty();
  Add(std::move(logged));
  AddLabel("stAppVer", FOptions.VersionText, kWidth - kMargin - 160, top, 160);
  top += 26;
  // External files.
  TDialogControl storage;
  storage.Name = "gbxStorage";
  storage.Kind = TControlKind::GroupBox;
  storage.Caption = " External Files Storage ";
  storage.Left = kMargin, storage.Top = top, storage.Width = kWidth - 2 * kMargin, storage.Height = 78;
  Add(std::move(storage));
  TDialogControl storeAll = CheckBox("chbStoreAll", "Store all files in the storage regardless of their size", "",
                                     s.StoreAllFiles, 8, 2);
  storeAll.Parent = "gbxStorage";
  storeAll.Enabled = !ro;
  Add(std::move(storeAll));
  TDialogControl bufLabel = MakeLabel("labBufferSize", "&Buffer Size:  ", 8, 28, 100);
  bufLabel.Parent = "gbxStorage";
  Add(std::move(bufLabel));
  TDialogControl buffer = Positioned(
      MakeEdit("ledBufferSize", "The plugin uses two buffers simultaneously when encrypting/decrypting files. The "
                                "allowed size of each is 1 - 64 MB."),
      110, 28, 60);
  buffer.Parent = "gbxStorage";
  buffer.Text.Assign(std::to_string(s.BufferSize >= kMinBuffer && s.BufferSize <= kMaxBuffer ? s.BufferSize : 1));
  buffer.ReadOnly = ro;
  buffer.Enabled = !ro;
  Add(std::move(buffer));
  TDialogControl units = MakeLabel("stUnits", "[MB]", 176, 28, 40);
  units.Parent = "gbxStorage";
  Add(std::move(units));
  top += 86;
  TDialogControl info = MakeLabel("stConfigInfo", "Not allowed to edit fields in the dialog", kMargin, top, 300);
  info.Visible = ro;
  Add(std::move(info));
  SetSize(kWidth, top + 60);
  AddButtons({MakeButton("btnOK", "O&K", mrOK), MakeButton("btnCancel", "Cancel", mrCancel),
              MakeButton("btnClose", "&Close", mrCancel)});
  Control("btnOK").Visible = Control("btnCancel").Visible = !ro;
  Control("btnClose").Visible = Control("btnClose").Enabled = ro;
  // Enter and Escape press the buttons that show: the host takes the last default and cancel button it reads.
  Control("btnClose").Default = Control("btnClose").Cancel = ro;
  Control("btnOK").Default = Control("btnCancel").Cancel = !ro;
  SetFocus(FOptions.LockIdentity || ro ? (ro ? "btnClose" : "ledACTimeout") : "edtName");
}

void TSessionConfigDialog::Init() { Changed("edtName"); }

void TSessionConfigDialog::Changed(const std::string& name) {
  if (name != "edtName" && name != "edtURL" && name != "edtUsername") return;
  Control("btnOK").Enabled =
      !Trim(Control("edtName").Text.View()).empty() && !Trim(Control("edtURL").Text.View()).empty();
}

TModalResult TSessionConfigDialog::Clicked(const std::string& name) {
  if (name == "btnEnrich") {
    const std::string current = Trim(Control("edtName").Text.View());
    const int minutes = TypedNumber(Control("ledACTimeout").Text.View(), 0);
    Control("edtName").Text.Assign(
        current + TKofSession::EnrichedAppendix(current, minutes * 60, Control("chbEditable").Checked,
                                                Control("chbFilesWithPasswords").Checked,
                                                static_cast<TVersionType>(std::max(0, Control("cbxVersionSystem").ItemIndex))));
    Changed("edtName");
    return mrNone;
  }
  if (name == "btnTest") {
    const std::string url = Trim(Control("edtURL").Text.View());
    const auto [title, message] = url.empty() ? std::pair<std::string, std::string>{"Warning", "Empty URL. Enter address of Koffra."}
                                  : FOptions.Test ? FOptions.Test(url)
                                                  : std::pair<std::string, std::string>{"Error", "Koffra not found."};
    if (FOptions.ShowMessage) FOptions.ShowMessage(title, message);
    return mrNone;
  }
  return TKofDialog::Clicked(name);
}

TSessionConfigValues TSessionConfigDialog::Values() const {
  TSessionConfigValues v = FIn;
  const auto text = [&](const char* name) { return Trim(Control(name).Text.View()); };
  v.Name = text("edtName");
  v.Address = {text("edtURL"), text("edtDomain"), text("edtUsername")};
  TSessionSettings& s = v.Settings;
  s.AccessCodeTimeout = TypedNumber(Control("ledACTimeout").Text.View(), 0) * 60;
  const int mode = Control("cbxVersionSystem").ItemIndex;
  s.VersionType = mode >= 0 && mode < kVersionTypeCount ? static_cast<TVersionType>(mode) : verNone;
  s.AllowedVersionTypeChange = Control("chbVerSysUsage").Checked;
  s.EditableRecords = Control("chbEditable").Checked;
  s.FilesWithPasswords = Control("chbFilesWithPasswords").Checked;
  s.ErrorGrouping = Control("chbGrouping").Checked;
  s.ClipCopyMessage = Control("chbMessage").Checked;
  s.DisplayHelpFolders = Control("chbDisplayHelpFolder").Checked;
  s.EncryptingFiles = Control("chbEncrypting").Checked;
  s.StoreAllFiles = Control("chbStoreAll").Checked;
  s.BufferSize = std::clamp(TypedNumber(Control("ledBufferSize").Text.View(), 1), kMinBuffer, kMaxBuffer);
  return v;
}

// ---- TVerSysDialog

TVerSysDialog::TVerSysDialog(TVersionType mode)
    : TKofDialog("Change Versioning Mode", std::max(420, 2 * 12 + 136 + EstimatedListWidth(ModeNames())), 120) {
  AddLabel("labVersionSystem", "File &version mode:", kMargin, kMargin, 130);
  TDialogControl list = Positioned(MakeEdit("cbxVersionSystem"), kMargin + 136, kMargin, Width() - 2 * kMargin - 136);
  list.Kind = TControlKind::ComboBox;
  list.Items = ModeNames();
  list.ItemIndex = mode < kVersionTypeCount ? mode : 0;
  Add(std::move(list));
  AddButtons({MakeButton("btnOk", "O&K", mrOK), MakeButton("btnCancel", "Cancel", mrCancel)});
  SetFocus("cbxVersionSystem");
}

TVersionType TVerSysDialog::VerType() const {
  const int index = Control("cbxVersionSystem").ItemIndex;
  return index >= 0 && index < kVersionTypeCount ? static_cast<TVersionType>(index) : verNone;
}

}  // namespace kof
