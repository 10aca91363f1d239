#include "dialogs/KofRecordDialogs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "model/KofFields.h"
#include "model/KofRecordTypes.h"
#include "support/KofText.h"

namespace kof {
namespace {

constexpr int kWidth = 560;
constexpr int kLabelWidth = 110;
constexpr int kCopyWidth = 44;
constexpr int kToggleWidth = 52;
constexpr int kMemoHeight = 88;
constexpr char kCopyHint[] = "Copy to clipboard";

template <class T>
const T& As(const TKofRecord& r) {
  return dynamic_cast<const T&>(r);
}
template <class T>
T& As(TKofRecord& r) {
  return dynamic_cast<T&>(r);
}

// A field of the kind's one description of its fields, shown in the control EDIT:
// what it reads and writes, whether it is secret and has lines come from there.
TRecordField Field(TKofObjectType kind, std::string edit, std::string caption, std::string_view name) {
  const TKofFieldInfo* info = FindField(kind, name);
  if (!info) throw std::logic_error("record dialog: no field " + std::string(name));
  TRecordField f;
  f.Edit = std::move(edit);
  f.Caption = std::move(caption);
  f.Secret = info->Secret;
  if (info->MultiLine) f.Kind = TControlKind::Memo;
  f.Get = info->Get;
  f.Set = info->Set;
  return f;
}

TRecordField Secret(TRecordField f, bool masked = false, std::string toggle = {}) {
  f.Secret = true;
  f.Masked = masked;
  if (!toggle.empty()) f.Toggle = std::move(toggle);
  return f;
}

TRecordField Memo(TRecordField f, std::string toggle = {}) {
  f.Kind = TControlKind::Memo;
  f.Toggle = std::move(toggle);
  return f;
}

TRecordField Fixed(TRecordField f) {
  f.Fixed = true;
  f.Set = nullptr;
  return f;
}

TRecordField SecNote(TKofObjectType kind) {
  return Memo(Field(kind, "memSecNote", "Secret Note:", "SecNote"), "SecNote");
}

TRecordField Launcher() {
  TRecordField f;
  f.Edit = "cbxConnectionType";
  f.Caption = "Connection Type:";
  f.Kind = TControlKind::ComboBox;
  f.Get = [](const TKofRecord& r) { return SecureString(std::to_string(static_cast<int>(r.Launcher()))); };
  f.Set = [](TKofRecord& r, std::string_view v) {
    const int index = v.empty() ? 0 : std::atoi(std::string(v).c_str());
    if (index >= 0 && index < kKofLauncherCount) r.SetLauncher(static_cast<TKofLauncher>(index));
  };
  return f;
}

TRecordField Password(const char* caption) {
  TRecordField f;
  f.Edit = "edtPassword";
  f.Caption = caption;
  f.Get = [](const TKofRecord& r) {
    if (r.ObjType() == kofCertificate) return As<TKofCertificate>(r).FilePassword();
    return As<TKofAccountCommon>(r).Password();
  };
  f.Set = [](TKofRecord& r, std::string_view v) {
    if (r.ObjType() == kofCertificate) As<TKofCertificate>(r).SetFilePassword(v);
    else As<TKofAccountCommon>(r).SetPassword(v);
  };
  return f;
}

// The expiration as month and year; written back together by Apply. A card
// without one shows both fields empty, so that OK keeps it without a date.
TRecordField ExpirationPart(bool month) {
  TRecordField f;
  f.Edit = month ? "edtExpirationMonth" : "edtExpirationYear";
  f.Caption = month ? "Expiration:" : "";
  f.Secret = true;
  f.Get = [month](const TKofRecord& r) {
    const std::string_view text = As<TKofCreditCard>(r).Expiration().View();
    if (text.size() < 7 || text[4] != '-') return SecureString();
    if (month) return SecureString(std::to_string(std::atoi(std::string(text.substr(5, 2)).c_str())));
    return SecureString(text.substr(0, 4));
  };
  return f;
}

std::vector<TRecordDialogKind> MakeKinds() {
  std::vector<TRecordDialogKind> kinds(kofExternalFile + 1);
  kinds[kofAccount] = {"Account", "sbShowPswd", "sbHidePswd",
                       {Field(kofAccount, "edtAddress", "Address:", "ServerAddress"),
                        Field(kofAccount, "edtSite", "Login Site:", "LoginSite"),
                        Field(kofAccount, "edtLogin", "Login:", "LoginName"), Launcher(),
                        Secret(Password("Password:"))}};
  kinds[kofAccountSec] = {"Secret Account", "sbShowSecureGroup", "sbHideSecureGroup",
                          {Field(kofAccountSec, "edtSite", "Login Site:", "LoginSite"), Launcher(),
                           Field(kofAccountSec, "edtAddress", "Address:", "SecServerAddress"),
                           Field(kofAccountSec, "edtLogin", "Login:", "SecLoginName"),
                           Secret(Password("Password:"), true, "Pswd"), SecNote(kofAccountSec)}};
  kinds[kofCreditCard] = {"Credit Card", "sbShowSecFields", "sbHideSecFields",
                          {Field(kofCreditCard, "edtNumber", "Number:", "Number"), ExpirationPart(true),
                           ExpirationPart(false), Secret(Field(kofCreditCard, "edtCVV", "CVV:", "Cvv"), true, "CVV"),
                           Secret(Field(kofCreditCard, "edtPIN", "PIN:", "Pin"), true, "PIN"),
                           SecNote(kofCreditCard)}};
  kinds[kofFile] = {"File", "sbShowSecGroup", "sbHideSecGroup",
                    {Fixed(Field(kofFile, "edtFile", "File:", "Filename")), SecNote(kofFile)}};
  kinds[kofCertificate] = {"Certificate", "sbShowSecGroup", "sbHideSecGroup",
                           {Fixed(Field(kofCertificate, "edtCertificate", "Certificate:", "Filename")),
                            Field(kofCertificate, "edtAlias", "Alias:", "Alias"),
                            Secret(Password("Certif pswd:"), true, "Pswd"), SecNote(kofCertificate)}};
  kinds[kofExternalFile] = {"External File", "sbShowSecureGroup", "sbHideSecureGroup",
                            {Fixed(Field(kofExternalFile, "edtOrigFileName", "Original file:", "Filename")),
                             Fixed(Field(kofExternalFile, "edtStorageFileName", "Storage file:", "efFilePath"))}};
  return kinds;
}

std::vector<TRecordField> CommonFields() {
  TRecordField tags;
  tags.Edit = "edtTags";
  tags.Caption = "Tags:";
  tags.Fixed = true;
  tags.Get = [](const TKofRecord& r) { return SecureString(r.Tags()); };
  // Not typed into: the tag button fills it.
  tags.Set = [](TKofRecord& r, std::string_view v) { r.SetTags(v); };
  TRecordField name;
  name.Edit = "edtName";
  name.Caption = "Name:";
  name.Get = [](const TKofRecord& r) { return SecureString(r.Name()); };
  // Every record kind describes these alike; the account's description serves all.
  return {name, Field(kofAccount, "edtDescription", "Description:", "Description"), tags,
          Field(kofAccount, "memNote", "Note:", "Note")};
}

std::string Stem(const std::string& control) { return control.substr(3); }

bool Number(std::string_view text, int& value) {
  const std::string t = Trim(text);
  if (t.empty() || t.size() > 9 || !std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  value = std::atoi(t.c_str());
  return true;
}

}  // namespace

const TRecordDialogKind* RecordDialogKind(TKofObjectType kind) {
  static const std::vector<TRecordDialogKind> kinds = MakeKinds();
  if (static_cast<std::size_t>(kind) >= kinds.size() || kinds[kind].Caption.empty()) return nullptr;
  return &kinds[kind];
}

std::string_view MemoLine(std::string_view text, int row) {
  for (int i = 1; i < row; ++i) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return {};
    text.remove_prefix(end + 1);
  }
  text = text.substr(0, text.find('\n'));
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return text;
}

// ---- TPropertiesDialog

TPropertiesDialog::TPropertiesDialog(std::string caption, int width, TPropertiesHooks hooks)
    : TKofDialog(caption, width, 200), FHooks(std::move(hooks)), FBaseCaption(std::move(caption)) {}

void TPropertiesDialog::SetEditing(bool editableRecords, bool modifiable) {
  FReadOnly = !(editableRecords && modifiable);
  if (!FReadOnly) SetCaption("Edit " + FBaseCaption);
  Control("btnClose").Visible = FReadOnly;
  Control("btnOK").Visible = Control("btnCancel").Visible = !FReadOnly;
  // Enter and Escape press the one default and cancel button that shows: the host takes the last one it reads.
  Control("btnClose").Default = Control("btnClose").Cancel = FReadOnly;
  Control("btnOK").Default = Control("btnCancel").Cancel = !FReadOnly;
  Control("stInfo").Caption = !FReadOnly        ? ""
                              : !editableRecords ? "Editing records is disabled in the configuration"
                                                 : "User does not have the right to edit the record";
}

void TPropertiesDialog::AddCopy(const std::string& field, const std::string& parent, int left, int top, bool timed) {
  TDialogControl b = MakeButton("sb" + Stem(field) + "Copy", "Copy", mrNone, kCopyHint);
  b.Parent = parent;
  b.Visible = !timed;
  b.Left = left, b.Top = top, b.Width = kCopyWidth, b.Height = 23;
  FCopies.push_back({b.Name, field, 0, timed});
  Add(std::move(b));
}

void TPropertiesDialog::AddRowCopies(const std::string& memo, const std::string& prefix, const std::string& parent,
                                     int left, int top, bool timed) {
  for (int row = 1; row <= 4; ++row) {
    TDialogControl b = MakeButton(prefix + "Row" + std::to_string(row) + "Copy", std::to_string(row), mrNone, kCopyHint);
    b.Parent = parent;
    b.Visible = !timed;
    b.Left = left, b.Top = top + (row - 1) * 22, b.Width = kCopyWidth, b.Height = 21;
    FCopies.push_back({b.Name, memo, row, timed});
    Add(std::move(b));
  }
}

bool TPropertiesDialog::CopyClicked(const std::string& name) {
  const auto it = std::find_if(FCopies.begin(), FCopies.end(), [&](const TCopy& c) { return c.Button == name; });
  if (it == FCopies.end()) return false;
  // A masked field copies from whichever of its twins shows.
  std::string field = it->Field;
  if (Has(field + "Shown") && Control(field + "Shown").Visible) field += "Shown";
  const SecureString& text = Control(field).Text;
  const SecureString copied(it->Row ? MemoLine(text.View(), it->Row) : text.View());
  const std::string error = FHooks.Copy ? FHooks.Copy(copied.View(), it->Timed) : "no clipboard";
  Control("BalloonHint").Visible = error.empty();
  if (!error.empty() && FHooks.ShowError) FHooks.ShowError(error);
  return true;
}

void TPropertiesDialog::AddBottom(int top) {
  SetSize(Width(), top + 60);
  TDialogControl info = MakeLabel("stInfo", "", kMargin, Height() - kMargin - 48, Width() - 2 * kMargin);
  Add(std::move(info));
  // The balloon the host cannot show: a line that says what the copy did.
  TDialogControl balloon = MakeLabel("BalloonHint", "Text copied to clipboard", kMargin, Height() - kMargin - 27, 220);
  balloon.Visible = false;
  Add(std::move(balloon));
  AddButtons({MakeButton("btnOK", "O&K", mrOK), MakeButton("btnCancel", "Cancel", mrCancel),
              MakeButton("btnClose", "&Close", mrClose)});
}

void TPropertiesDialog::ApplyName(TKofObject& object, std::string_view typed) {
  FNameChanged = !SameText(Trim(object.Name()), Trim(typed));
  object.SetName(typed);
}

// ---- TRecordDialog

namespace {

const TRecordDialogKind& KindOf(const TKofRecord& record) {
  const TRecordDialogKind* kind = RecordDialogKind(record.ObjType());
  if (!kind) throw std::invalid_argument("no record dialog for " + GetKofObjectTypeName(record.ObjType()));
  return *kind;
}

TDialogControl Group(std::string name, std::string caption, int top, int height) {
  TDialogControl g;
  g.Name = std::move(name);
  g.Kind = TControlKind::GroupBox;
  g.Caption = std::move(caption);
  g.Left = 12, g.Top = top, g.Width = kWidth - 24, g.Height = height;
  return g;
}

TDialogControl ToggleButton(std::string name, std::string caption, const std::string& parent, int left, int top,
                            int width, bool visible) {
  TDialogControl b = MakeButton(std::move(name), std::move(caption), mrNone);
  b.Parent = parent;
  b.Left = left, b.Top = top, b.Width = width, b.Height = 23;
  b.Visible = visible;
  return b;
}

}  // namespace

TRecordDialog::TRecordDialog(TKofRecord& record, bool editableRecords, bool modifiable, TPropertiesHooks hooks)
    : TPropertiesDialog(KindOf(record).Caption, kWidth, std::move(hooks)),
      FRecord(record),
      FKind(KindOf(record)),
      FCommon(CommonFields()) {
  FReadOnly = !(editableRecords && modifiable);
  int top = kMargin;
  AddLabel("labRecId", "Record Id:", kMargin, top, kLabelWidth - 8);
  AddLabel("stRecId", std::to_string(record.Id()), kMargin + kLabelWidth, top, 120);
  top += 26;
  // The plain account keeps its password in the identification group, with its show and hide pair.
  const bool secureGroup = FKind.ShowGroup != "sbShowPswd";
  const int groupTop = top;
  int inner = 4;
  Add(Group("gbxIdentification", " Identification ", top, 0));
  for (const TRecordField* f : Fields())
    if (!f->Secret || !secureGroup) AddFieldRow(*f, "gbxIdentification", inner, kWidth - 24);
  Control("gbxIdentification").Height = inner + 24;
  top = groupTop + inner + 32;
  if (secureGroup) {
    Add(Group("gbxSecure", " Secure ", top, 0));
    inner = 4;
    Add(ToggleButton(FKind.ShowGroup, "Show secure fields", "gbxSecure", 8, inner, 140, true));
    Add(ToggleButton(FKind.HideGroup, "Hide secure fields", "gbxSecure", 8, inner, 140, false));
    inner += 30;
    for (const TRecordField* f : Fields())
      if (f->Secret) AddFieldRow(*f, "gbxSecure", inner, kWidth - 24);
    Control("gbxSecure").Height = inner + 24;
    top += inner + 32;
  }
  AddBottom(top);
  SetEditing(editableRecords, modifiable);
  SetFocus(FReadOnly ? "btnClose" : "edtName");
}

TRecordDialog::~TRecordDialog() {
  if (FSecrets) FSecrets->WipeStrings();
}

std::vector<const TRecordField*> TRecordDialog::Fields() const {
  std::vector<const TRecordField*> fields;
  for (const auto& f : FCommon) fields.push_back(&f);
  for (const auto& f : FKind.Fields) fields.push_back(&f);
  return fields;
}

void TRecordDialog::AddFieldRow(const TRecordField& field, const std::string& parent, int& top, int width) {
  const int fieldLeft = 8 + kLabelWidth;
  const int copyLeft = width - 16 - kCopyWidth;
  const int toggleLeft = copyLeft - 6 - kToggleWidth;
  const bool yearOfMonth = field.Caption.empty();
  if (yearOfMonth) top -= kRowHeight;
  if (!yearOfMonth) {
    TDialogControl label = MakeLabel("lab" + Stem(field.Edit), field.Caption, 8, top, kLabelWidth - 8);
    label.Parent = parent;
    Add(std::move(label));
  }
  TDialogControl c;
  c.Name = field.Edit;
  c.Kind = field.Kind;
  c.Parent = parent;
  c.Secret = field.Secret;
  c.Visible = !field.Secret;
  c.ReadOnly = FReadOnly || field.Fixed;
  c.Left = fieldLeft, c.Top = top, c.Height = field.Kind == TControlKind::Memo ? kMemoHeight : 23;
  c.Width = toggleLeft - 6 - fieldLeft;
  const bool expiration = field.Edit.rfind("edtExpiration", 0) == 0;
  if (expiration) c.Width = 60, c.Left += yearOfMonth ? 70 : 0;
  if (field.Kind == TControlKind::ComboBox) {
    c.Items.assign(KofLauncherNames.begin(), KofLauncherNames.end());
    c.ItemIndex = std::atoi(field.Get(FRecord).CStr());
    c.Enabled = !FReadOnly;
  } else if (!field.Secret) {
    c.Text = field.Get(FRecord);
  }
  Add(std::move(c));
  if (field.Masked) {
    TDialogControl& masked = Control(field.Edit);
    TDialogControl twin = masked;
    masked.Masked = true;
    twin.Name = PlainTwin(field.Edit);
    Add(std::move(twin));
  }
  // The copy buttons of a secret field show with the field.
  if (field.Kind == TControlKind::Memo) {
    AddRowCopies(field.Edit, "sb" + Stem(field.Edit), parent, copyLeft, top, field.Secret);
  } else if (field.Kind == TControlKind::Edit && !expiration) {
    AddCopy(field.Edit, parent, copyLeft, top, field.Secret);
  }
  if (!field.Toggle.empty()) {
    Add(ToggleButton("sbShow" + field.Toggle, "Show", parent, toggleLeft, top, kToggleWidth, false));
    Add(ToggleButton("sbHide" + field.Toggle, "Hide", parent, toggleLeft, top, kToggleWidth, false));
  } else if (field.Edit == "edtTags") {
    TDialogControl& choose = Add(ToggleButton("sbTagList", "Tags", parent, toggleLeft, top, kToggleWidth, true));
    choose.Hint = "Selects tags from Tag repository";
    choose.Enabled = !FReadOnly;
  } else if (field.Secret && parent == "gbxIdentification") {
    Add(ToggleButton(FKind.ShowGroup, "Show", parent, toggleLeft, top, kToggleWidth, true));
    Add(ToggleButton(FKind.HideGroup, "Hide", parent, toggleLeft, top, kToggleWidth, false));
  }
  top += Control(field.Edit).Height + (kRowHeight - 23);
}

const TDialogControl& TRecordDialog::Shown(const TRecordField& field) const {
  if (field.Masked && Control(PlainTwin(field.Edit)).Visible) return Control(PlainTwin(field.Edit));
  return Control(field.Edit);
}

void TRecordDialog::Changed(const std::string& name) {
  // The twins of a masked field hold the same text, whichever the user typed into.
  for (const TRecordField* f : Fields()) {
    if (!f->Masked) continue;
    const std::string twin = PlainTwin(f->Edit);
    if (name == f->Edit) Control(twin).Text = Control(name).Text;
    if (name == twin) Control(f->Edit).Text = Control(name).Text;
  }
}

TModalResult TRecordDialog::Clicked(const std::string& name) {
  if (CopyClicked(name)) return mrNone;
  if (name == "sbTagList") {
    ChooseTags();
  } else if (name == FKind.ShowGroup) {
    ShowGroup();
  } else if (name == FKind.HideGroup) {
    HideGroup();
  } else if (name.rfind("sbShow", 0) == 0) {
    ToggleField(name.substr(6), true);
  } else if (name.rfind("sbHide", 0) == 0) {
    ToggleField(name.substr(6), false);
  } else if (name == "btnOK") {
    Apply();
    return mrOK;
  } else {
    return TKofDialog::Clicked(name);
  }
  return mrNone;
}

void TRecordDialog::ChooseTags() {
  TTagList list;
  list.SetCommaText(Control("edtTags").Text.View());
  std::vector<std::string> tags = list.Items();
  if (!FHooks.ChooseTags || !FHooks.ChooseTags(tags)) return;
  list.Clear();
  for (const std::string& tag : tags) list.Add(tag);
  Control("edtTags").Text.Assign(list.CommaText());
}

void TRecordDialog::ShowGroup() {
  std::string error;
  std::unique_ptr<TKofRecord> secrets = FHooks.ReadSecrets ? FHooks.ReadSecrets(error) : nullptr;
  if (!secrets || secrets->ObjType() != FRecord.ObjType()) {
    if (secrets) secrets->WipeStrings();
    if (FHooks.ShowError) FHooks.ShowError(error.empty() ? "The secret fields cannot be read" : error);
    return;
  }
  FSecrets = std::move(secrets);
  for (const TRecordField* f : Fields()) {
    if (!f->Secret) continue;
    Control(f->Edit).Text = f->Get(*FSecrets);
    if (f->Masked) Control(PlainTwin(f->Edit)).Text = Control(f->Edit).Text;
  }
  SetSecretsVisible(true);
}

void TRecordDialog::HideGroup() {
  FSecrets->WipeStrings();
  FSecrets.reset();
  SetSecretsVisible(false);
  for (const TRecordField* f : Fields()) {
    if (!f->Secret) continue;
    WipeText(f->Edit);
    if (f->Masked) WipeText(PlainTwin(f->Edit));
  }
}

// Revealed, every secret field shows, its own toggle (if it has one) in the
// hidden state: a masked field as "*", a secret note not at all.
void TRecordDialog::SetSecretsVisible(bool visible) {
  Control(FKind.ShowGroup).Visible = !visible;
  Control(FKind.HideGroup).Visible = visible;
  for (const TRecordField* f : Fields()) {
    if (!f->Secret) continue;
    const bool memo = f->Kind == TControlKind::Memo;
    Control(f->Edit).Visible = visible && !memo;
    if (f->Masked) Control(PlainTwin(f->Edit)).Visible = false;
    if (!f->Toggle.empty()) {
      Control("sbShow" + f->Toggle).Visible = visible;
      Control("sbHide" + f->Toggle).Visible = false;
    }
    if (memo) {
      for (int row = 1; row <= 4; ++row) Control("sb" + Stem(f->Edit) + "Row" + std::to_string(row) + "Copy").Visible = false;
    } else if (Has("sb" + Stem(f->Edit) + "Copy")) {
      Control("sb" + Stem(f->Edit) + "Copy").Visible = visible;
    }
  }
}

void TRecordDialog::ToggleField(const std::string& toggle, bool show) {
  for (const TRecordField* f : Fields()) {
    if (f->Toggle != toggle) continue;
    Control("sbShow" + toggle).Visible = !show;
    Control("sbHide" + toggle).Visible = show;
    if (f->Masked) {
      Control(f->Edit).Visible = !show;
      Control(PlainTwin(f->Edit)).Visible = show;
    } else {
      Control(f->Edit).Visible = show;
      for (int row = 1; row <= 4; ++row) Control("sb" + Stem(f->Edit) + "Row" + std::to_string(row) + "Copy").Visible = show;
    }
  }
}

void TRecordDialog::Apply() {
  TKofRecord& target = Target();
  ApplyName(target, Control("edtName").Text.View());
  for (const TRecordField* f : Fields()) {
    if (!f->Set || (f->Secret && !FSecrets)) continue;
    const TDialogControl& c = Shown(*f);
    if (c.Kind == TControlKind::ComboBox) {
      f->Set(target, std::to_string(c.ItemIndex));
    } else if (f->Edit == "edtPassword" && target.ObjType() != kofCertificate) {
      const SecureString old = f->Get(target);
      f->Set(target, c.Text.View());
      FPasswordChanged = !(old == c.Text);
    } else {
      f->Set(target, c.Text.View());
    }
  }
  if (FSecrets && target.ObjType() == kofCreditCard) {
    int month = 0, year = 0;
    auto& card = As<TKofCreditCard>(target);
    if (!Number(Control("edtExpirationMonth").Text.View(), month) || !Number(Control("edtExpirationYear").Text.View(), year)) {
      card.SetExpiration("");
    } else {
      if (month < 1 || month > 12) month = 1;
      if (year < 2000 || year > 2999) year = 2000;
      char text[32];
      std::snprintf(text, sizeof text, "%04d-%02d-15T00:00:00.000Z", year, month);
      card.SetExpiration(text);
    }
  }
}

// ---- TSafeBoxDialog

namespace {

const std::vector<std::string> kBoxTypes = {"  &Private \xE2\x80\x93 Blocks access rights inherited from parent level",
                                            "  &Shared \xE2\x80\x93 Access rights are inherited from parent level"};
constexpr int kBoxFieldLeft = 12 + kLabelWidth + 28;

// Wide enough for the longest type to show whole beside its label.
int BoxDialogWidth() { return std::max(kWidth, kBoxFieldLeft + EstimatedListWidth(kBoxTypes) + 6 + kCopyWidth + 12); }

// The host offers no folder browser: the edit's button picks a file, and the folder that holds it is meant.
std::string FolderMeant(std::string path) {
  std::error_code error;
  if (!path.empty() && std::filesystem::is_regular_file(path, error))
    return std::filesystem::path(path).parent_path().string();
  return path;
}

}  // namespace

TSafeBoxDialog::TSafeBoxDialog(TKofSafeBox& box, bool editableRecords, bool modifiable, TPropertiesHooks hooks)
    : TPropertiesDialog(box.ObjType() == kofSafeBoxGroup ? "Safe Box Group" : "Safe Box", BoxDialogWidth(),
                        std::move(hooks)),
      FBox(box) {
  FReadOnly = !(editableRecords && modifiable);
  const bool group = box.ObjType() == kofSafeBoxGroup;
  int top = kMargin;
  const struct {
    const char* Edit;
    const char* Caption;
    const std::string& Value;
  } rows[] = {{"edtName", "Name:", box.Name()},
              {"edtDescription", "Description:", box.Description()},
              {"edtExtFile", "External files Path:", box.ExternalFilesPath()}};
  const int copyLeft = Width() - kMargin - kCopyWidth;
  for (const auto& r : rows) {
    AddLabel(std::string("lab") + (r.Edit + 3), r.Caption, kMargin, top, kLabelWidth + 20);
    TDialogControl edit = MakeEdit(r.Edit);
    if (edit.Name == "edtExtFile") {
      edit.Kind = TControlKind::FileNameEdit;
      edit.Caption = "External files Path";
      edit.Hint = "Type the folder, or pick any file in it";
    }
    edit.Text.Assign(r.Value);
    edit.ReadOnly = FReadOnly;
    edit.Left = kBoxFieldLeft, edit.Top = top, edit.Height = 23;
    edit.Width = copyLeft - 6 - edit.Left;
    Add(std::move(edit));
    AddCopy(r.Edit, "", copyLeft, top, false);
    top += kRowHeight;
  }
  // A list stands for the radio group: the host cannot tell which radio item is chosen.
  AddLabel("labSafeBoxType", group ? "Safe Box Group Type" : "Safe Box Type", kMargin, top, kLabelWidth + 20);
  TDialogControl type;
  type.Name = "rgSafeBoxType";
  type.Kind = TControlKind::ComboBox;
  type.Items = kBoxTypes;
  type.ItemIndex = box.PrivateBox() ? 0 : 1;
  type.Enabled = !FReadOnly;
  type.Left = kBoxFieldLeft, type.Top = top, type.Height = 23, type.Width = copyLeft - 6 - type.Left;
  Add(std::move(type));
  top += kRowHeight + 8;
  AddBottom(top);
  SetEditing(editableRecords, modifiable);
  SetFocus(FReadOnly ? "btnClose" : "edtName");
}

TModalResult TSafeBoxDialog::Clicked(const std::string& name) {
  if (CopyClicked(name)) return mrNone;
  if (name != "btnOK") return TKofDialog::Clicked(name);
  ApplyName(FBox, Trim(Control("edtName").Text.View()));
  FBox.SetDescription(Control("edtDescription").Text.View());
  FBox.SetExternalFilesPath(FolderMeant(std::string(Control("edtExtFile").Text.View())));
  FBox.SetPrivateBox(Control("rgSafeBoxType").ItemIndex == 0);
  return mrOK;
}

}  // namespace kof
