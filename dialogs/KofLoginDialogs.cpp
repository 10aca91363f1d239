#include "dialogs/KofLoginDialogs.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "platform/KofKeyboardLayout.h"

namespace kof {
namespace {

constexpr int kWidth = 440;
constexpr int kMargin = 12;
constexpr char kRelogin[] = "Relogin to Koffra";

TDialogControl KeyboardIndicator(int left, int top) {
  const TKeyboardLayout layout = ActiveKeyboardLayout();
  TDialogControl c;
  c.Name = "stKeybLang";
  c.Kind = TControlKind::Label;
  c.Sunken = true;
  c.Caption = layout.Abbreviation;
  c.Hint = layout.Name;
  c.Left = left, c.Top = top, c.Width = 28, c.Height = 21;
  return c;
}

TDialogControl Hidden(TDialogControl c) {
  c.Visible = false;
  c.ReadOnly = true;
  return c;
}

// A value shown, not edited: a group box holding a static text, beside its
// label, and the hidden read-only edit that holds it.
void AddShownValue(TKofDialog& d, const char* box, const char* shown, const char* label, const char* labelCaption,
                   const char* edit, const char* hint, std::string_view value, int top) {
  d.Add(MakeLabel(label, labelCaption, kMargin, top + 8, 120));
  TDialogControl group;
  group.Name = box;
  group.Kind = TControlKind::GroupBox;
  group.Left = kMargin + 130, group.Top = top, group.Width = kWidth - 2 * kMargin - 130, group.Height = 44;
  d.Add(std::move(group));
  TDialogControl text = MakeLabel(shown, std::string(value), 8, -2, kWidth - 2 * kMargin - 150);
  text.Parent = box;
  d.Add(std::move(text));
  TDialogControl holder = Hidden(MakeEdit(edit, hint));
  holder.Text.Assign(value);
  holder.Left = kMargin, holder.Top = top, holder.Width = 10, holder.Height = 23;
  d.Add(std::move(holder));
}

// Both logins: Connect only while the address, password and user name are filled in.
void EnableConnect(TKofDialog& d) {
  const auto filled = [&](const char* name) { return !Trimmed(d.Control(name).Text).Empty(); };
  d.Control("btnConnect").Enabled = filled("edtKofUrl") && filled("edtKofPswd") && filled("edtKofUsername");
}

}  // namespace

// ---- TLoginDialog

TLoginDialog::TLoginDialog(std::string caption, std::string_view url, std::string_view domain, std::string_view user)
    : TKofDialog(caption.empty() ? kRelogin : std::move(caption), kWidth, 300) {
  if (url.empty() || domain.empty() || user.empty())
    throw std::invalid_argument("the login dialog needs the address, domain and user name");
  SetHint("Koffra login data dialog");
  int top = kMargin;
  const struct {
    const char* Box;
    const char* Static;
    const char* Label;
    const char* LabelCaption;
    const char* Edit;
    const char* Hint;
    std::string_view Value;
  } shown[] = {
      {"gbxKofUrl", "stKofUrl", "labKofUrl", "KOF URL:", "edtKofUrl", "Enter the URL of Koffra", url},
      {"gbxKofDomian", "stKofDomain", "labKofDomain", "KOF domain:", "edtKofDomain", "Enter Koffra domain", domain},
      {"gbxKofUsername", "stKofUsername", "labKofUsername", "KOF username:", "edtKofUsername", "Enter Koffra username",
       user},
  };
  for (const auto& s : shown) {
    AddShownValue(*this, s.Box, s.Static, s.Label, s.LabelCaption, s.Edit, s.Hint, s.Value, top);
    top += 50;
  }
  AddField("labKofPswd", "KOF password:", MakeEdit("edtKofPswd", "Enter Koffra password", true), top);
  Add(KeyboardIndicator(kMargin, Height() - kMargin - 24));
  AddButtons({MakeButton("btnConnect", "&Connect", mrOK, "Connects to Koffra"), MakeButton("btnCancel", "Cancel", mrCancel)});
  SetFocus("edtKofPswd");
}

void TLoginDialog::Init() { EnableConnect(*this); }

void TLoginDialog::Changed(const std::string&) { EnableConnect(*this); }

// ---- TLoginDialogExt

TLoginDialogExt::TLoginDialogExt(std::string caption, std::string_view url, std::string_view domain,
                                 std::string_view user)
    : TKofDialog(caption.empty() ? kRelogin : std::move(caption), kWidth, 250) {
  SetHint("Koffra login data dialog");
  int top = kMargin;
  AddShownValue(*this, "gbxKofUrl", "stKofUrl", "labKofUrl", "KOF URL:", "edtKofUrl", "Enter the URL of Koffra", url,
                top);
  top += 50;
  TDialogControl domainEdit = MakeEdit("edtKofDomain", "Enter Koffra domain");
  domainEdit.Text.Assign(domain);
  domainEdit.TextHint = "SYSTEM";
  AddField("labKofDomain", "KOF domain:", std::move(domainEdit), top);
  TDialogControl userEdit = MakeEdit("edtKofUsername", "Enter Koffra username");
  userEdit.Text.Assign(user);
  AddField("labKofUsername", "KOF username:", std::move(userEdit), top);
  AddField("labKofPswd", "KOF password:", MakeEdit("edtKofPswd", "Enter Koffra password", true), top);
  Add(KeyboardIndicator(kMargin, Height() - kMargin - 24));
  AddButtons({MakeButton("btnConnect", "&Connect", mrOK, "Connects to Koffra"), MakeButton("btnCancel", "Cancel", mrCancel)});
  // The first empty field gets the focus, the domain before the user name.
  SetFocus(domain.empty() ? "edtKofDomain" : user.empty() ? "edtKofUsername" : "edtKofPswd");
}

void TLoginDialogExt::Init() { EnableConnect(*this); }

void TLoginDialogExt::Changed(const std::string&) { EnableConnect(*this); }

SecureString TLoginDialogExt::Domain() const {
  SecureString domain = Trimmed(Control("edtKofDomain").Text);
  if (domain.Empty()) domain.Assign("SYSTEM");
  return domain;
}

// ---- TAccessCodeDialog

TAccessCodeDialog::TAccessCodeDialog(std::string caption, std::string info, bool encryptionEnabled)
    : TKofDialog(std::move(caption), 380, 190) {
  int top = kMargin;
  AddLabel("labKofAccessCode", "Enter Access Code", kMargin, top, 200);
  top += 24;
  TDialogControl code = MakeEdit("edtKofAccessCode", "Enter Koffra access code", true);
  code.Left = kMargin, code.Top = top, code.Width = Width() - 2 * kMargin - 36, code.Height = 23;
  Add(std::move(code));
  Add(KeyboardIndicator(Width() - kMargin - 28, top + 1));
  top += 32;
  AddLabel("Info", std::move(info), kMargin, top, Width() - 2 * kMargin).Height = 34;
  // The host shows no icon button; the same notice stands as a line of text.
  TDialogControl encryption;
  encryption.Name = "sbEncryption";
  encryption.Kind = TControlKind::Label;
  encryption.Caption = "Enhanced Client Encryption is enabled";
  encryption.Hint = encryption.Caption;
  encryption.Visible = encryption.Enabled = encryptionEnabled;
  encryption.Left = kMargin, encryption.Top = Height() - kMargin - 22, encryption.Width = 170, encryption.Height = 17;
  Add(std::move(encryption));
  AddButtons({MakeButton("btnOK", "O&K", mrOK), MakeButton("btCancel", "Cancel", mrCancel)});
  SetFocus("edtKofAccessCode");
}

void TAccessCodeDialog::Init() { Changed("edtKofAccessCode"); }

void TAccessCodeDialog::Changed(const std::string&) { Control("btnOK").Enabled = !Code().Empty(); }

// ---- TSecondFactorDialog

TSecondFactorDialog::TSecondFactorDialog() : TKofDialog("TWO-FACTOR AUTHENTICATION", 430, 170) {
  AddLabel("labSecondFactor", "Enter 6-digit code from your authenticator application", 16, 16, 400);
  for (int i = 1; i <= kDigits; ++i) {
    TDialogControl digit = MakeEdit(Box(i));
    digit.TextHint = ".";
    digit.Keys = true;
    // The first box takes a pasted code whole; the others one digit.
    digit.MaxLength = i == 1 ? kDigits : 1;
    digit.Left = 16 + (i - 1) * 67, digit.Top = 56, digit.Width = 57, digit.Height = 45;
    Add(std::move(digit));
  }
  TDialogControl progress;
  progress.Name = "ProgressBar";
  progress.Kind = TControlKind::ProgressBar;
  progress.Max = kDigits;
  progress.Left = 16, progress.Top = 116, progress.Width = 392, progress.Height = 12;
  Add(std::move(progress));
  SetFocus(Box(1));
}

void TSecondFactorDialog::SetDigit(int number, std::string_view digit) { Control(Box(number)).Text.Assign(digit); }

void TSecondFactorDialog::Changed(const std::string& name) {
  if (FFilling) return;
  const int number = name[name.size() - 1] - '0';
  if (number < 1 || number > kDigits) return;
  const std::string_view text = Control(name).Text.View();
  const bool allDigits =
      std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
  FFilling = true;
  if (number == 1 && text.size() > 1 && text.size() <= kDigits && allDigits) {
    // A pasted code of up to six digits fills the boxes from the first; any
    // other text is taken as one typed character.
    const SecureString digits(text);
    for (int i = 1; i <= kDigits; ++i)
      SetDigit(i, i <= static_cast<int>(digits.Size()) ? digits.View().substr(i - 1, 1) : std::string_view());
    const int filled = static_cast<int>(digits.Size());
    Control("ProgressBar").Position = filled;
    SetFocus(Box(std::min(filled + 1, kDigits)));
  } else {
    const bool digit = !text.empty() && std::isdigit(static_cast<unsigned char>(text[0]));
    const SecureString kept(digit ? text.substr(0, 1) : std::string_view());
    SetDigit(number, kept.View());
    if (digit) {
      Control("ProgressBar").Position = number;
      if (number < kDigits) SetFocus(Box(number + 1));
    }
  }
  FFilling = false;
  Complete();
}

void TSecondFactorDialog::KeyDown(const std::string& name, int key, bool modifiers) {
  if (modifiers) return;
  const int number = name[name.size() - 1] - '0';
  if (key == kKeyEscape) {
    FSecondFactor.Clear();
    Close(mrCancel);
  } else if (key == kKeyBackspace && number > 1 && Control(name).Text.Empty()) {
    FFilling = true;
    SetDigit(number - 1, {});
    FFilling = false;
    Control("ProgressBar").Position = number - 2;
    SetFocus(Box(number - 1));
  }
}

void TSecondFactorDialog::Complete() {
  SecureString code;
  for (int i = 1; i <= kDigits; ++i) {
    const SecureString& digit = Control(Box(i)).Text;
    if (digit.Size() != 1) return;
    code.Append(digit.View());
  }
  Control("ProgressBar").Position = kDigits;
  FSecondFactor = std::move(code);
  Close(mrOK);
}

}  // namespace kof
