#include "dialogs/KofDialog.h"

#include <algorithm>
#include <stdexcept>

namespace kof {

TKofDialog::TKofDialog(std::string caption, int width, int height)
    : FCaption(std::move(caption)), FWidth(width), FHeight(height) {}

TDialogControl& TKofDialog::Control(std::string_view name) {
  for (auto& c : FControls)
    if (c.Name == name) return c;
  throw std::out_of_range("no dialog control " + std::string(name));
}

const TDialogControl& TKofDialog::Control(std::string_view name) const {
  return const_cast<TKofDialog*>(this)->Control(name);
}

bool TKofDialog::Has(std::string_view name) const {
  for (const auto& c : FControls)
    if (c.Name == name) return true;
  return false;
}

void TKofDialog::SetValue(std::string_view name, std::string_view text) {
  TDialogControl& c = Control(name);
  if (c.Text.View() == text) return;
  c.Text.Assign(text);
  Changed(c.Name);
}

void TKofDialog::SetChecked(std::string_view name, bool checked) {
  TDialogControl& c = Control(name);
  if (c.Checked == checked) return;
  c.Checked = checked;
  Changed(c.Name);
}

void TKofDialog::SetItemIndex(std::string_view name, int index) {
  TDialogControl& c = Control(name);
  if (index < -1 || index >= static_cast<int>(c.Items.size()) || c.ItemIndex == index) return;
  c.ItemIndex = index;
  Changed(c.Name);
}

TModalResult TKofDialog::Click(std::string_view name) {
  const TDialogControl& c = Control(name);
  // A disabled or hidden control cannot be pressed, whatever the host reports.
  if (!c.Enabled || !c.Visible) return mrNone;
  const TModalResult result = Clicked(c.Name);
  if (result != mrNone) FClosing = result;
  return FClosing;
}

void TKofDialog::Key(std::string_view name, int key, bool modifiers) {
  const TDialogControl& c = Control(name);
  if (c.Keys) KeyDown(c.Name, key, modifiers);
}

TModalResult TKofDialog::Clicked(const std::string& name) { return Control(name).Result; }

TDialogControl& TKofDialog::Add(TDialogControl control) {
  if (Has(control.Name)) throw std::logic_error("dialog control named twice: " + control.Name);
  FControls.push_back(std::move(control));
  return FControls.back();
}

TDialogControl& TKofDialog::AddLabel(std::string name, std::string caption, int left, int top, int width) {
  return Add(MakeLabel(std::move(name), std::move(caption), left, top, width));
}

TDialogControl& TKofDialog::AddField(std::string labelName, std::string labelCaption, TDialogControl field, int& top,
                                     int labelWidth) {
  if (!labelName.empty()) AddLabel(std::move(labelName), std::move(labelCaption), kMargin, top, labelWidth - 8);
  field.Left = kMargin + labelWidth;
  field.Top = top;
  if (field.Width == 0) field.Width = FWidth - field.Left - kMargin;
  if (field.Height == 0) field.Height = field.Kind == TControlKind::Memo ? 80 : 23;
  top += field.Height + (kRowHeight - 23);
  return Add(std::move(field));
}

void TKofDialog::AddButtons(std::vector<TDialogControl> buttons) {
  constexpr int kWidth = 90, kHeight = 27, kGap = 8;
  int left = FWidth - kMargin;
  for (auto it = buttons.rbegin(); it != buttons.rend(); ++it) {
    left -= kWidth;
    it->Left = left, it->Top = FHeight - kMargin - kHeight, it->Width = kWidth, it->Height = kHeight;
    left -= kGap;
  }
  for (auto& b : buttons) Add(std::move(b));
}

TDialogControl MakeLabel(std::string name, std::string caption, int left, int top, int width) {
  TDialogControl label;
  label.Name = std::move(name);
  label.Kind = TControlKind::Label;
  label.Caption = std::move(caption);
  label.Left = left, label.Top = top + 4, label.Width = width, label.Height = 17;
  return label;
}

TDialogControl MakeEdit(std::string name, std::string hint, bool masked) {
  TDialogControl c;
  c.Name = std::move(name);
  c.Kind = TControlKind::Edit;
  c.Hint = std::move(hint);
  c.Masked = masked;
  return c;
}

TDialogControl MakeButton(std::string name, std::string caption, TModalResult result, std::string hint) {
  TDialogControl c;
  c.Name = std::move(name);
  c.Kind = TControlKind::Button;
  c.Caption = std::move(caption);
  c.Hint = std::move(hint);
  c.Result = result;
  c.Default = result == mrOK;
  c.Cancel = result == mrCancel || result == mrClose;
  return c;
}

int EstimatedTextWidth(std::string_view text) {
  int characters = 0;
  for (const char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80 && c != '&') ++characters;
  return characters * 8;
}

int EstimatedListWidth(const std::vector<std::string>& items) {
  constexpr int kDropButton = 30;
  int widest = 0;
  for (const std::string& item : items) widest = std::max(widest, EstimatedTextWidth(item));
  return widest + kDropButton;
}

SecureString Trimmed(const SecureString& value) {
  std::string_view v = value.View();
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!v.empty() && blank(v.front())) v.remove_prefix(1);
  while (!v.empty() && blank(v.back())) v.remove_suffix(1);
  return SecureString(v);
}

}  // namespace kof
