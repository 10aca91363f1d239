#pragma once
// A dialog of the plugin, independent of the toolkit that shows it: its
// controls (names, kinds, texts, geometry, state), what it does when a value
// changes or a button is pressed, and the result it closes with. A renderer
// turns it into the host's form description; a runner shows that form and
// keeps the controls here in step with what the user did.
//
// Texts of edits and memos are held in wiping storage, since any of them may
// be a secret; captions and hints are not secrets.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/SecureString.h"

namespace kof {

// FileNameEdit: an edit with a button that picks a file; it reports no
// change (the host's handler takes only a plain edit), its text is read when a button is pressed.
enum class TControlKind { Label, Edit, Memo, Button, CheckBox, ComboBox, ListBox, GroupBox, RadioGroup, ProgressBar, FileNameEdit };

// The results a dialog closes with (the host's ID_* numbers).
enum TModalResult : int { mrNone = 0, mrOK = 1, mrCancel = 2, mrAbort = 3, mrClose = 8 };

struct TDialogControl {
  std::string Name;
  TControlKind Kind = TControlKind::Label;
  std::string Parent;  // a group box of the same dialog, or empty for the form
  std::string Caption;  // labels, buttons, check boxes, group boxes, radio groups
  SecureString Text;    // edits, memos, combo boxes
  std::string Hint;
  std::string TextHint;  // grey text shown while an edit is empty
  std::vector<std::string> Items;  // combo boxes, list boxes, radio groups
  int ItemIndex = -1;
  bool Checked = false;
  bool Masked = false;
  bool Secret = false;  // its text is overwritten in the host before the form goes (as a masked one's is)
  bool ReadOnly = false;
  bool Visible = true;
  bool Enabled = true;
  bool Default = false;  // Enter presses it
  bool Cancel = false;   // Escape presses it
  bool Sunken = false;   // a label drawn as a small sunken field
  bool Keys = false;     // the dialog wants its key presses (KeyDown)
  int MaxLength = 0;     // edits; 0 = no limit
  int Max = 100;         // progress bars
  int Position = 0;      // progress bars
  // A button's result: pressing it closes the dialog with this unless Clicked decides otherwise.
  TModalResult Result = mrNone;
  int Left = 0, Top = 0, Width = 0, Height = 0;

  bool Editable() const {
    return Kind == TControlKind::Edit || Kind == TControlKind::Memo || Kind == TControlKind::ComboBox ||
           Kind == TControlKind::FileNameEdit;
  }
};

class TKofDialog {
 public:
  TKofDialog(std::string caption, int width, int height);
  virtual ~TKofDialog() = default;
  TKofDialog(const TKofDialog&) = delete;
  TKofDialog& operator=(const TKofDialog&) = delete;

  const std::string& Caption() const { return FCaption; }
  void SetCaption(std::string value) { FCaption = std::move(value); }
  const std::string& Hint() const { return FHint; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  const std::vector<TDialogControl>& Controls() const { return FControls; }
  // The control the dialog last put the focus on (at first the one it shows
  // with); empty for the toolkit's choice.
  const std::string& FocusName() const { return FFocus; }
  // True once for each SetFocus since the last call. The user moves the focus
  // without the dialog knowing, so the runner sends every request, also one
  // naming the control the dialog asked for before.
  bool TakeFocusRequest() { return std::exchange(FFocusRequested, false); }

  // Throws std::out_of_range for a name the dialog does not have.
  TDialogControl& Control(std::string_view name);
  const TDialogControl& Control(std::string_view name) const;
  bool Has(std::string_view name) const;

  // What the user did, as the runner reports it. Values it reads back from
  // the host go through SetValue, then Changed; a click on a button through
  // Click, which answers the result to close with (mrNone: stay open).
  void SetValue(std::string_view name, std::string_view text);
  void SetChecked(std::string_view name, bool checked);
  void SetItemIndex(std::string_view name, int index);
  TModalResult Click(std::string_view name);
  // A key pressed in a control that wants keys; modifiers: Shift, Ctrl or Alt held.
  void Key(std::string_view name, int key, bool modifiers);
  // The controls whose text the host is to overwrite before it empties them
  // (the dialog emptied them already), since the last call.
  std::vector<std::string> TakeWipes() { return std::exchange(FWipes, {}); }
  // Set when an event decided to close the dialog (mrNone while it stays open).
  TModalResult Closing() const { return FClosing; }

  // Throws std::logic_error for a name the dialog has already.
  TDialogControl& Add(TDialogControl control);

  // Called once before the dialog shows, after the runner filled the host's form.
  virtual void Init() {}
  // After the user changed a control's value.
  virtual void Changed(const std::string& name) { (void)name; }
  virtual void KeyDown(const std::string& name, int key, bool modifiers) { (void)name, (void)key, (void)modifiers; }

 protected:
  // A button's press; the default closes with the button's result.
  virtual TModalResult Clicked(const std::string& name);
  void SetHint(std::string value) { FHint = std::move(value); }
  void SetFocus(std::string name) { FFocus = std::move(name), FFocusRequested = true; }
  void SetSize(int width, int height) { FWidth = width, FHeight = height; }
  void Close(TModalResult result) { FClosing = result; }
  // Empties a control's text, here and, overwritten first, in the host.
  void WipeText(const std::string& name) {
    Control(name).Text.Clear();
    FWipes.push_back(name);
  }

  // Layout helpers for the usual shapes: a label beside its field in rows
  // from the top, and a row of buttons at the bottom right.
  static constexpr int kMargin = 12;
  static constexpr int kRowHeight = 30;
  TDialogControl& AddLabel(std::string name, std::string caption, int left, int top, int width);
  TDialogControl& AddField(std::string labelName, std::string labelCaption, TDialogControl field, int& top,
                           int labelWidth = 130);
  void AddButtons(std::vector<TDialogControl> buttons);

 private:
  std::string FCaption;
  std::string FHint;
  int FWidth;
  int FHeight;
  std::string FFocus;
  bool FFocusRequested = false;
  TModalResult FClosing = mrNone;
  std::vector<TDialogControl> FControls;
  std::vector<std::string> FWipes;
};

// Makes the usual controls.
TDialogControl MakeLabel(std::string name, std::string caption, int left, int top, int width);
TDialogControl MakeEdit(std::string name, std::string hint = {}, bool masked = false);
TDialogControl MakeButton(std::string name, std::string caption, TModalResult result, std::string hint = {});

// About how wide TEXT shows in the host's usual dialog font, in pixels; a
// little more rather than less, so that nothing is cut.
int EstimatedTextWidth(std::string_view text);
// The width of a combo box that shows the longest of ITEMS whole, its drop button included.
int EstimatedListWidth(const std::vector<std::string>& items);

// Trims the blanks around a typed value without leaving an unwiped copy.
SecureString Trimmed(const SecureString& value);

}  // namespace kof
