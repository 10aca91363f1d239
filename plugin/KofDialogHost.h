#pragma once
// Shows the plugin's dialogs through the host's extension interface: the
// dialog becomes an LFM form for DialogBoxLFM, and the form's callback keeps
// the dialog and the form in step (values read with DM_GETTEXT and the like,
// state pushed with DM_SETTEXT, DM_ENABLE, DM_SHOWITEM). Show may be called
// from a transfer's worker thread too: the host runs the form and its callback
// on its GUI thread, the only one that may call SendDlgMsg. The dialog is
// modal, and a dialog opened from inside another's callback stacks on it; the
// stack of dialogs on screen is kept safe by the plugin lock every prompt runs under.
#include <optional>

#include "dialogs/KofDialog.h"
#include "plugin/WfxAbi.h"

namespace kof {

// The functions the host handed over in ExtensionInitialize.
struct TKofExtension {
  wfx::tDialogBoxLFMProc DialogBoxLFM = nullptr;
  wfx::tDlgProc SendDlgMsg = nullptr;

  // Empty when the record is missing or too short to hold them.
  static TKofExtension FromHost(const wfx::tExtensionStartupInfo* info);
  bool Usable() const { return DialogBoxLFM && SendDlgMsg; }
};

class TKofDialogHost {
 public:
  explicit TKofDialogHost(TKofExtension extension) : FExtension(extension) {}

  // The result the dialog closed with (mrCancel when the user closed the
  // window), or nullopt when it could not be shown: the caller asks another way.
  std::optional<TModalResult> Show(TKofDialog& dialog);

 private:
  TKofExtension FExtension;
};

}  // namespace kof
