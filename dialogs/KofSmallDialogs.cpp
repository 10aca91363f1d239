#include "dialogs/KofSmallDialogs.h"

#include <algorithm>

namespace kof {
namespace {

constexpr char kPrivate[] = "  &Private \xE2\x80\x93 Blocks access rights inherited from parent level";
constexpr char kShared[] = "  &Shared \xE2\x80\x93 Access rights are inherited from parent level";

TDialogControl List(std::string name, TControlKind kind, std::vector<std::string> items, int index, int left, int top,
                    int width, int height = 23) {
  TDialogControl c;
  c.Name = std::move(name);
  c.Kind = kind;
  c.Items = std::move(items);
  c.ItemIndex = index;
  c.Left = left, c.Top = top, c.Width = width, c.Height = height;
  return c;
}

TDialogControl Sized(TDialogControl c, int left, int top, int width, int height = 23) {
  c.Left = left, c.Top = top, c.Width = width, c.Height = height;
  return c;
}

// A value shown in a row of its own, not edited.
void AddShownRow(TKofDialog& d, const char* label, const char* caption, const char* edit, std::string_view value,
                 int labelWidth) {
  d.Add(MakeLabel(label, caption, 12, 12, labelWidth));
  TDialogControl field = Sized(MakeEdit(edit), 12 + labelWidth + 6, 12, d.Width() - 24 - labelWidth - 6);
  field.Text.Assign(value);
  field.ReadOnly = true;
  field.Enabled = false;
  d.Add(std::move(field));
}

}  // namespace

// ---- TSetPasswordDialog

TSetPasswordDialog::TSetPasswordDialog(bool certificate, std::string_view fileName, std::string_view initialPassword)
    : TKofDialog(certificate ? "Set Certificate Password" : "Set File Password", 440, 150) {
  AddShownRow(*this, "labFilename", certificate ? "Certificate file:" : "File name:", "edFilename", fileName, 110);
  AddLabel("labPassword", "Password:", kMargin, kMargin + kRowHeight, 110);
  const int width = Width() - 2 * kMargin - 116 - 64;
  TDialogControl masked = Sized(MakeEdit("edtPassword", "", true), kMargin + 116, kMargin + kRowHeight, width);
  masked.Text.Assign(initialPassword);
  TDialogControl shown = masked;
  shown.Name = "edtPasswordShown";
  shown.Masked = false;
  shown.Secret = true;
  shown.Visible = false;
  Add(std::move(masked));
  Add(std::move(shown));
  const int toggleLeft = Width() - kMargin - 58;
  Add(Sized(MakeButton("sbShowPswd", "Show", mrNone), toggleLeft, kMargin + kRowHeight, 58));
  TDialogControl hide = Sized(MakeButton("sbHidePswd", "Hide", mrNone), toggleLeft, kMargin + kRowHeight, 58);
  hide.Visible = false;
  Add(std::move(hide));
  AddButtons({MakeButton("btnOK", "O&K", mrOK), MakeButton("btnCancel", "Cancel", mrAbort)});
  Control("btnCancel").Cancel = true;
  SetFocus("edtPassword");
}

const SecureString& TSetPasswordDialog::Password() const { return Control("edtPassword").Text; }

void TSetPasswordDialog::Changed(const std::string& name) {
  if (name == "edtPassword") Control("edtPasswordShown").Text = Control(name).Text;
  if (name == "edtPasswordShown") Control("edtPassword").Text = Control(name).Text;
}

TModalResult TSetPasswordDialog::Clicked(const std::string& name) {
  if (name != "sbShowPswd" && name != "sbHidePswd") return TKofDialog::Clicked(name);
  const bool show = name == "sbShowPswd";
  Control("sbShowPswd").Visible = Control("edtPassword").Visible = !show;
  Control("sbHidePswd").Visible = Control("edtPasswordShown").Visible = show;
  SetFocus(show ? "edtPasswordShown" : "edtPassword");
  return mrNone;
}

// ---- TNewSafeBoxDialog

namespace {

constexpr int kNewBoxLabel = 156;

// Wide enough for the longest type to show whole in its list, beside its label.
int NewSafeBoxWidth() {
  return 2 * 12 + kNewBoxLabel + EstimatedListWidth({kPrivate, kShared});
}

}  // namespace

TNewSafeBoxDialog::TNewSafeBoxDialog(std::string_view name, bool locked)
    : TKofDialog("New Safe Box", std::max(520, NewSafeBoxWidth()), 190) {
  AddShownRow(*this, "labSafeBoxName", "Name", "ledSafeBoxName", name, 150);
  // Lists stand for the two radio groups: the host cannot tell which radio item is chosen.
  AddLabel("labKindOfSafeBox", " Kind of Safe Box", kMargin, kMargin + kRowHeight, 150);
  TDialogControl kind = List("rgKindOfSafeBox", TControlKind::ComboBox, {"  &Safe Box", "  Safe Box &Group"}, 0,
                             kMargin + kNewBoxLabel, kMargin + kRowHeight, Width() - 2 * kMargin - kNewBoxLabel);
  kind.Hint = "Select kind of Safe Box";
  kind.Enabled = !locked;
  Add(std::move(kind));
  AddLabel("labTypeOfSafeBox", " Type of Safe Box", kMargin, kMargin + 2 * kRowHeight, 150);
  TDialogControl type = List("rgTypeOfSafeBox", TControlKind::ComboBox, {kPrivate, kShared}, 1, kMargin + kNewBoxLabel,
                             kMargin + 2 * kRowHeight, Width() - 2 * kMargin - kNewBoxLabel);
  type.Hint = "Select type of Safe Box";
  type.Enabled = !locked;
  Add(std::move(type));
  AddButtons({MakeButton("btOK", "O&K", mrOK), MakeButton("btCancel", "Cancel", mrCancel)});
  SetFocus("btOK");
}

// ---- TCopyResultDialog

TCopyResultDialog::TCopyResultDialog(TCopyResultContent content, bool grouping)
    : TKofDialog(content.Form == TCopyResultContent::DeleteExternal ? "Deleting External Files Result" : "Copy/Move Result",
                 640, 460),
      FContent(std::move(content)),
      FGrouping(grouping) {
  const bool external = FContent.Form == TCopyResultContent::DeleteExternal;
  const char* recordRow = FContent.Form == TCopyResultContent::Rename ? "Renamed Files/Records:"
                          : FContent.Form == TCopyResultContent::Move ? "Moved Files/Records:"
                          : external                                  ? "Deleted External Files:"
                                                                      : "Copied Files/Records:";
  const std::string dashes = "-----------------------------------";
  const struct {
    const char* Label;
    std::string Caption;
    const char* Count;
    std::string Value;
  } rows[] = {
      {"stBoxNew", external ? dashes : "Created Safe Boxes:", "stBoxNewCount", external ? dashes : std::to_string(FContent.CreatedBoxes)},
      {"stBoxErr", external ? dashes : "Safe Box Errors:", "stBoxErrCount", external ? dashes : std::to_string(FContent.FailedBoxes)},
      {"stRecOk", recordRow, "stRecOkCount", std::to_string(FContent.DoneRecords)},
      {"stRecErr", "File/Record Errors:", "stRecErrCount", std::to_string(FContent.FailedRecords)},
  };
  int top = kMargin;
  for (const auto& r : rows) {
    AddLabel(r.Label, r.Caption, kMargin, top, 220);
    AddLabel(r.Count, r.Value, kMargin + 230, top, 220);
    top += 22;
  }
  AddLabel("labDetails", "Details:", kMargin, top + 4, 100);
  top += 26;
  TDialogControl details;
  details.Name = "memDetails";
  details.Kind = TControlKind::Memo;
  details.ReadOnly = true;
  details.Text.Assign(FContent.Details ? FContent.Details(FGrouping) : std::string());
  Add(Sized(std::move(details), kMargin, top, Width() - 2 * kMargin, Height() - top - 60));
  AddButtons({MakeButton("btnToggleView", "&Toggle view", mrNone), MakeButton("btnCopyToCpbd", "&Copy to Clipboard", mrNone),
              MakeButton("btnOK", "O&k", mrOK)});
  Control("btnOK").Cancel = true;
  SetFocus("btnOK");
}

TModalResult TCopyResultDialog::Clicked(const std::string& name) {
  if (name == "btnToggleView") {
    FGrouping = !FGrouping;
    if (FContent.GroupingChanged) FContent.GroupingChanged(FGrouping);
    Control("memDetails").Text.Assign(FContent.Details ? FContent.Details(FGrouping) : std::string());
    return mrNone;
  }
  if (name == "btnCopyToCpbd") {
    if (FContent.CopyText) FContent.CopyText(std::string(Control("memDetails").Text.View()));
    return mrNone;
  }
  return TKofDialog::Clicked(name);
}

// ---- TMappingPathsDialog

TMappingPathsDialog::TMappingPathsDialog(std::vector<TMappingRule> rules, bool displayEvaluated,
                                         std::function<std::vector<TMappingRule>()> refresh)
    : TKofDialog("Mapping Paths", 640, 360), FRules(std::move(rules)), FRefresh(std::move(refresh)) {
  SetHint("Mapping paths dialog");
  TDialogControl grid = List("gridMappings", TControlKind::Memo, {}, -1, kMargin, kMargin, Width() - 2 * kMargin,
                             Height() - 2 * kMargin - 70);
  grid.ReadOnly = true;
  grid.Hint = "Mapping paths";
  Add(std::move(grid));
  TDialogControl check;
  check.Name = "chbDisplayEvaluated";
  check.Kind = TControlKind::CheckBox;
  check.Caption = "Display evaluated Mappings";
  check.Hint = "Display Replacements with expanded environment varaibles";
  check.Checked = displayEvaluated;
  Add(Sized(std::move(check), kMargin, Height() - kMargin - 60, 300, 21));
  AddButtons({MakeButton("btnRefresh", "Refresh", mrNone, "Reload Koffra.substcfg file(-s)"),
              MakeButton("btnClose", "Close", mrCancel, "Close dialog")});
  Fill();
}

void TMappingPathsDialog::Fill() {
  const bool evaluated = DisplayEvaluated();
  std::string text = "Pattern\tMapped Path";
  for (const auto& r : FRules) text += "\r\n" + r.Pattern + "\t" + (evaluated ? r.Expanded : r.Replacement);
  Control("gridMappings").Text.Assign(text);
}

void TMappingPathsDialog::Changed(const std::string& name) {
  if (name == "chbDisplayEvaluated") Fill();
}

TModalResult TMappingPathsDialog::Clicked(const std::string& name) {
  if (name != "btnRefresh") return TKofDialog::Clicked(name);
  if (FRefresh) FRules = FRefresh();
  Fill();
  return mrNone;
}

// ---- TSelectTagsDialog

namespace {

constexpr int kTagRows = 12;  // check boxes in one column
constexpr int kTagWidth = 180;
constexpr int kTagHeight = 24;

// A tag shown as a caption: "&" would mark an accelerator.
std::string CaptionOf(std::string_view tag) {
  std::string out;
  for (const char c : tag) out += c == '&' ? std::string("&&") : std::string(1, c);
  return out;
}

TDialogControl CheckBox(std::string name, std::string caption, bool checked, int left, int top, int width) {
  TDialogControl c;
  c.Name = std::move(name);
  c.Kind = TControlKind::CheckBox;
  c.Caption = std::move(caption);
  c.Checked = checked;
  c.Left = left, c.Top = top, c.Width = width, c.Height = 21;
  return c;
}

int TagColumns(std::size_t tags) { return std::max(1, static_cast<int>((tags + kTagRows - 1) / kTagRows)); }

}  // namespace

TSelectTagsDialog::TSelectTagsDialog(std::vector<std::string> tags, const std::vector<std::string>& chosen)
    : TKofDialog("Select Tags", std::max(360, 2 * kMargin + 16 + TagColumns(tags.size()) * kTagWidth),
                 130 + std::min<int>(static_cast<int>(tags.size()), kTagRows) * kTagHeight),
      FTags(std::move(tags)) {
  Add(CheckBox("chbAllTags", "All tags", false, kMargin, kMargin, 150));
  AddLabel("stTagCount", "", kMargin + 160, kMargin - 2, Width() - 2 * kMargin - 160);
  TDialogControl grid;
  grid.Name = "gridTags";
  grid.Kind = TControlKind::GroupBox;
  grid.Left = kMargin, grid.Top = kMargin + 28, grid.Width = Width() - 2 * kMargin;
  grid.Height = Height() - grid.Top - 60;
  Add(std::move(grid));
  for (std::size_t i = 0; i < FTags.size(); ++i) {
    const bool marked = std::find(chosen.begin(), chosen.end(), FTags[i]) != chosen.end();
    TDialogControl row = CheckBox(RowName(i), CaptionOf(FTags[i]), marked, 8 + static_cast<int>(i / kTagRows) * kTagWidth,
                                  4 + static_cast<int>(i % kTagRows) * kTagHeight, kTagWidth - 8);
    row.Parent = "gridTags";
    Add(std::move(row));
  }
  Control("stTagCount").Caption = CounterText();
  AddButtons({MakeButton("btnOK", "O&K", mrOK), MakeButton("btnCancel", "Cancel", mrCancel)});
  SetFocus(FTags.empty() ? "btnOK" : RowName(0));
}

void TSelectTagsDialog::Changed(const std::string& name) {
  if (name == "chbAllTags")
    for (std::size_t i = 0; i < FTags.size(); ++i) Control(RowName(i)).Checked = Control(name).Checked;
  Control("stTagCount").Caption = CounterText();
}

std::vector<std::string> TSelectTagsDialog::Chosen() const {
  std::vector<std::string> chosen;
  for (std::size_t i = 0; i < FTags.size(); ++i)
    if (Control(RowName(i)).Checked) chosen.push_back(FTags[i]);
  return chosen;
}

std::string TSelectTagsDialog::CounterText() const {
  return std::to_string(Chosen().size()) + "/" + std::to_string(FTags.size()) + " tags";
}

// ---- TLoggedUserDialog

std::string LoggedUserText(std::string_view user) {
  return user.empty() ? "User authenticated by Gatewarden SSO" : "User " + std::string(user) + " authenticated by Gatewarden SSO";
}

TLoggedUserDialog::TLoggedUserDialog(std::string_view user) : TKofDialog("", 360, 110) {
  AddLabel("stInfo", LoggedUserText(user), kMargin, kMargin, Width() - 2 * kMargin).Height = 34;
  AddButtons({MakeButton("btnClose", "Close", mrClose)});
  Control("btnClose").Default = true;
  SetFocus("btnClose");
}

}  // namespace kof
