#include "plugin/KofDialogHost.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "dialogs/KofLfm.h"

namespace kof {
namespace {

using namespace wfx;

// What the host shows of a control, to send only what an event changed.
struct TShown {
  SecureString Text;
  bool Enabled;
  bool Visible;
  bool Checked;
  int ItemIndex;
};

struct TRun {
  TKofDialog* Dialog = nullptr;
  tDlgProc Send = nullptr;
  uintptr_t Form = 0;
  TModalResult Result = mrNone;
  bool Pushing = false;  // our own DM_SETTEXT makes the host report a change
};

// The dialogs on screen, innermost last; the host's callback carries no user data.
std::vector<TRun*>& Runs() {
  static std::vector<TRun*> runs;
  return runs;
}

// The text the host shows for a control: an edit's text or a label's caption.
std::string_view ShownText(const TDialogControl& c) { return c.Editable() ? c.Text.View() : c.Caption; }

std::vector<TShown> Snapshot(const TKofDialog& d) {
  std::vector<TShown> shown;
  shown.reserve(d.Controls().size());
  for (const auto& c : d.Controls()) shown.push_back({SecureString(ShownText(c)), c.Enabled, c.Visible, c.Checked, c.ItemIndex});
  return shown;
}

intptr_t Send(TRun& run, const std::string& name, intptr_t msg, intptr_t wParam = 0, intptr_t lParam = 0) {
  return run.Send(run.Form, const_cast<char*>(name.c_str()), msg, wParam, lParam);
}

void SetText(TRun& run, const std::string& name, std::string_view text) {
  const SecureString copy(text);
  Send(run, name, DM_SETTEXT, reinterpret_cast<intptr_t>(copy.CStr()));
}

// A secret's text is overwritten in the host before it is emptied, so that it
// does not linger in the host's memory (the host keeps what it held before).
void WipeShown(TRun& run, const std::string& name) {
  const intptr_t text = Send(run, name, DM_GETTEXT);
  const std::size_t n = text ? std::strlen(reinterpret_cast<const char*>(text)) : 0;
  SetText(run, name, std::string(n, '*'));
  SetText(run, name, "");
}

void WipeSecrets(TRun& run) {
  run.Pushing = true;
  for (const auto& c : run.Dialog->Controls())
    if (c.Masked || c.Secret) WipeShown(run, c.Name);
  run.Pushing = false;
}

// Sends what changed since the snapshot was taken; showing, the focus goes
// where the dialog wants it whatever the toolkit chose.
void Push(TRun& run, const std::vector<TShown>& before, bool showing = false) {
  run.Pushing = true;
  for (const std::string& name : run.Dialog->TakeWipes()) WipeShown(run, name);
  const auto& controls = run.Dialog->Controls();
  for (std::size_t i = 0; i < controls.size() && i < before.size(); ++i) {
    const TDialogControl& c = controls[i];
    const TShown& was = before[i];
    if (ShownText(c) != was.Text.View()) SetText(run, c.Name, ShownText(c));
    if (c.Checked != was.Checked) Send(run, c.Name, DM_SETCHECK, c.Checked ? 1 : 0);
    if (c.ItemIndex != was.ItemIndex) Send(run, c.Name, DM_LISTSETITEMINDEX, c.ItemIndex);
    if (c.Enabled != was.Enabled) Send(run, c.Name, DM_ENABLE, c.Enabled ? 1 : 0);
    if (c.Visible != was.Visible) Send(run, c.Name, DM_SHOWITEM, c.Visible ? 1 : 0);
  }
  if ((run.Dialog->TakeFocusRequest() || showing) && !run.Dialog->FocusName().empty())
    Send(run, run.Dialog->FocusName(), DM_SETFOCUS);
  run.Pushing = false;
}

// Copies a control's value from the form into the dialog at once, into
// wiping storage, and notes it as shown, so that it is not sent back.
void Read(TRun& run, std::size_t index, std::vector<TShown>& shown) {
  TKofDialog& d = *run.Dialog;
  const TDialogControl& c = d.Controls()[index];
  TShown& s = shown[index];
  switch (c.Kind) {
    case TControlKind::Edit:
    case TControlKind::FileNameEdit:
    case TControlKind::Memo: {
      const auto* text = reinterpret_cast<const char*>(Send(run, c.Name, DM_GETTEXT));
      if (!text) return;
      s.Text.Assign(std::string_view(text, std::strlen(text)));
      d.SetValue(c.Name, s.Text.View());
      break;
    }
    case TControlKind::CheckBox:
      s.Checked = Send(run, c.Name, DM_GETCHECK) == 1;
      d.SetChecked(c.Name, s.Checked);
      break;
    case TControlKind::ComboBox:
    case TControlKind::ListBox:
    case TControlKind::RadioGroup:
      s.ItemIndex = static_cast<int>(Send(run, c.Name, DM_LISTGETITEMINDEX));
      d.SetItemIndex(c.Name, s.ItemIndex);
      break;
    default: break;
  }
}

void ReadAll(TRun& run, std::vector<TShown>& shown) {
  for (std::size_t i = 0; i < run.Dialog->Controls().size(); ++i) {
    const TDialogControl& c = run.Dialog->Controls()[i];
    if (c.Visible && c.Enabled && !c.ReadOnly) Read(run, i, shown);
  }
}

std::size_t IndexOf(const TKofDialog& d, const std::string& name) {
  for (std::size_t i = 0; i < d.Controls().size(); ++i)
    if (d.Controls()[i].Name == name) return i;
  return d.Controls().size();
}

void CloseIfDecided(TRun& run, const std::string& anyName) {
  const TModalResult result = run.Dialog->Closing();
  if (result == mrNone || run.Result != mrNone) return;
  run.Result = result;
  WipeSecrets(run);
  Send(run, anyName, DM_CLOSE, result);
}

void Handle(TRun& run, const std::string& name, intptr_t msg, intptr_t wParam, intptr_t lParam) {
  TKofDialog& d = *run.Dialog;
  const std::string anyName = d.Controls().empty() ? name : d.Controls().front().Name;
  if (msg == DN_INITDIALOG) {
    // The form shows captions only; texts come now, so no secret is in the form text.
    std::vector<TShown> shown = Snapshot(d);
    for (std::size_t i = 0; i < shown.size(); ++i)
      if (d.Controls()[i].Editable()) shown[i].Text.Clear();
    d.Init();
    Push(run, shown, true);
    CloseIfDecided(run, anyName);
    return;
  }
  // The change our own DM_SETTEXT makes the host report is no news.
  if (msg == DN_CHANGE && run.Pushing) return;
  const std::size_t index = IndexOf(d, name);
  if (run.Result != mrNone || index == d.Controls().size()) return;
  std::vector<TShown> before = Snapshot(d);
  if (msg == DN_CHANGE) {
    Read(run, index, before);
  } else if (msg == DN_CLICK) {
    if (d.Controls()[index].Kind != TControlKind::Button) return;
    ReadAll(run, before);
    d.Click(name);
  } else if (msg == DN_KEYDOWN && wParam) {
    // The host passes the key's address and its shift state (Shift, Alt, Ctrl in the low bits).
    const int key = *reinterpret_cast<const uint16_t*>(wParam);
    ReadAll(run, before);
    d.Key(name, key, (lParam & 7) != 0);
  } else {
    return;
  }
  Push(run, before);
  CloseIfDecided(run, anyName);
}

extern "C" intptr_t DialogCallback(uintptr_t pDlg, char* item, intptr_t msg, intptr_t wParam, intptr_t lParam) {
  // Nothing may unwind into the host's frames.
  try {
    if (Runs().empty()) return 0;
    TRun& run = *Runs().back();
    run.Form = pDlg;
    Handle(run, item ? item : "", msg, wParam, lParam);
  } catch (...) {
  }
  return 0;
}

}  // namespace

TKofExtension TKofExtension::FromHost(const tExtensionStartupInfo* info) {
  TKofExtension e;
  if (!info || info->StructSize < offsetof(tExtensionStartupInfo, SendDlgMsg) + sizeof(tDlgProc)) return e;
  e.DialogBoxLFM = info->DialogBoxLFM;
  e.SendDlgMsg = info->SendDlgMsg;
  return e;
}

std::optional<TModalResult> TKofDialogHost::Show(TKofDialog& dialog) {
  if (!FExtension.Usable()) return std::nullopt;
  std::string lfm = RenderLfm(dialog);
  // A form the host would refuse raises inside it and never returns: such a form is never sent.
  if (!ValidateLfm(lfm).empty()) return std::nullopt;
  TRun run;
  run.Dialog = &dialog;
  run.Send = FExtension.SendDlgMsg;
  struct TOnScreen {
    explicit TOnScreen(TRun& r) { Runs().push_back(&r); }
    ~TOnScreen() { Runs().pop_back(); }
  } onScreen(run);
  FExtension.DialogBoxLFM(lfm.data(), static_cast<uint32_t>(lfm.size()), &DialogCallback);
  return run.Result == mrNone ? mrCancel : run.Result;
}

}  // namespace kof
