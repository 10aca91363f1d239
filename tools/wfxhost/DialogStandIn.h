#pragma once
// The extension interface of a file manager, for plugins' dialogs without a
// screen: DialogBoxLFM parses the form and refuses what Double Commander
// would raise on, sends the callback DN_INITDIALOG, then plays a script of
// what a user does (type, check, choose, press keys, click) and returns as
// the file manager would. SendDlgMsg answers from the parsed form.
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "plugin/WfxAbi.h"

namespace wfxhost {

// One shown control, as the stand-in keeps it.
struct FormItem {
  std::string Name;
  std::string Class;
  std::string Caption;
  std::string Text;
  std::string Hint;
  std::vector<std::string> Items;
  int ItemIndex = -1;
  bool Checked = false;
  bool Enabled = true;
  bool Visible = true;
  bool ReadOnly = false;
  bool Masked = false;
  int MaxLength = 0;
  std::map<std::string, std::string> Handlers;  // event -> handler
};

// A dialog as the user saw it when it closed.
struct ShownDialog {
  std::string Caption;
  std::vector<FormItem> Items;  // the form itself first
  int Result = 0;               // what it closed with (2 when the script ran out)
  std::string Focus;

  const FormItem* Find(const std::string& name) const;
};

class DialogStandIn {
 public:
  // The script of one dialog: actions separated by ';' (or one per element):
  //   set NAME TEXT | check NAME 0|1 | choose NAME INDEX | key NAME CODE | click NAME | cancel
  // Each DialogBoxLFM call takes the next script; without one the dialog is cancelled.
  void Push(const std::string& script) { FScripts.push_back(script); }
  void LoadFile(const std::string& path);  // one script per line; '#' starts a comment line
  // Asked for a script when none is queued, with the dialog as it shows (nullopt: none).
  void SetScriptSource(std::function<std::optional<std::string>(const ShownDialog&)> fn) { FSource = std::move(fn); }
  void SetObserver(std::function<void(const ShownDialog&)> fn) { FObserver = std::move(fn); }

  // Fills the record the plugin's ExtensionInitialize receives.
  void Fill(wfx::tExtensionStartupInfo& info, const std::string& pluginDir, const std::string& configDir);

  const std::vector<ShownDialog>& Shown() const { return FShown; }
  // Everything that would have gone wrong in the file manager: refused forms,
  // messages for items that do not exist, actions on controls a user cannot reach.
  const std::vector<std::string>& Faults() const { return FFaults; }
  void Clear() { FShown.clear(), FFaults.clear(); }

  static std::string Format(const ShownDialog& d);

 private:
  friend struct DialogCalls;
  wfx::BOOL Run(const std::string& lfm, wfx::tDlgProc proc);
  intptr_t Message(const char* item, intptr_t msg, intptr_t wParam, intptr_t lParam);
  void Act(const std::string& action);
  void Notify(FormItem& item, const std::string& event, intptr_t msg, intptr_t wParam);
  FormItem* Item(const char* name);

  std::deque<std::string> FScripts;
  std::function<void(const ShownDialog&)> FObserver;
  std::function<std::optional<std::string>(const ShownDialog&)> FSource;
  std::vector<ShownDialog> FShown;
  std::vector<std::string> FFaults;
  // The dialog on screen.
  ShownDialog* FCurrent = nullptr;
  wfx::tDlgProc FProc = nullptr;
  bool FClosed = false;
  std::string FTextBuffer;  // what DM_GETTEXT answered last
};

}  // namespace wfxhost
