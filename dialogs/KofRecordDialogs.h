#pragma once
// The properties dialogs of a record (one per kind) and of a safe box or
// group. They show the object's fields, copy any of them to the clipboard,
// reveal the secret fields only on request (read from the server at that
// moment) and, when the session and the box allow it, take edits. The object
// changes only on OK; the caller then sends the update to the server.
//
// The host's forms have no speed buttons, balloon hints, timers or a way to
// mask an edit after it shows: buttons stand for the speed buttons, a line of
// text for the balloon, and a masked field is a masked edit with a plain twin
// that takes its place while the field is shown.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/KofDialog.h"
#include "model/KofClasses.h"

namespace kof {

// What a properties dialog needs from the plugin while it is on screen.
struct TPropertiesHooks {
  // The record once more with its secret fields; nullptr with the reason.
  std::function<std::unique_ptr<TKofRecord>(std::string& error)> ReadSecrets;
  // Puts text on the clipboard; a secret (TIMED) restarts the clearing
  // countdown. Empty, or why it failed.
  std::function<std::string(std::string_view text, bool timed)> Copy;
  std::function<void(const std::string& message)> ShowError;
  // The tags chosen from those of the record's safe box; TAGS holds the
  // record's on entry. False when none could be offered or the user cancelled.
  std::function<bool(std::vector<std::string>& tags)> ChooseTags;
};

// One field of a record dialog.
struct TRecordField {
  std::string Edit;  // the control's name
  std::string Caption;
  TControlKind Kind = TControlKind::Edit;  // Edit, Memo or ComboBox
  bool Secret = false;   // in the secure group, read when the group is revealed
  bool Masked = false;   // shown as "*" until its own toggle reveals it
  bool Fixed = false;    // never editable
  std::string Toggle;    // the sbShow<Toggle>/sbHide<Toggle> pair of a masked field or memo
  std::function<SecureString(const TKofRecord&)> Get;
  std::function<void(TKofRecord&, std::string_view)> Set;  // empty: never written back
};

// The dialog of one record kind: its caption, the names of the secure group's
// show and hide buttons (empty without a group) and its fields after the
// common ones (name, description, tags, note).
struct TRecordDialogKind {
  std::string Caption;
  std::string ShowGroup, HideGroup;
  std::vector<TRecordField> Fields;
};

// Nullptr for a kind that has no record dialog.
const TRecordDialogKind* RecordDialogKind(TKofObjectType kind);

// What every properties dialog shares: the editing state and the copy buttons.
class TPropertiesDialog : public TKofDialog {
 public:
  bool ReadOnlyDialog() const { return FReadOnly; }
  bool NameChanged() const { return FNameChanged; }

 protected:
  TPropertiesDialog(std::string caption, int width, TPropertiesHooks hooks);
  // Sets the caption, buttons and the reason why editing is off.
  void SetEditing(bool editableRecords, bool modifiable);
  // The copy button beside a field; TIMED for a secret.
  void AddCopy(const std::string& field, const std::string& parent, int left, int top, bool timed);
  // The four buttons that copy the first lines of a memo.
  void AddRowCopies(const std::string& memo, const std::string& prefix, const std::string& parent, int left, int top,
                    bool timed);
  // A click on a copy button: true when it was one.
  bool CopyClicked(const std::string& name);
  void AddBottom(int top);
  void ApplyName(TKofObject& object, std::string_view typed);

  TPropertiesHooks FHooks;
  bool FReadOnly = true;
  bool FNameChanged = false;

 private:
  struct TCopy {
    std::string Button, Field;
    int Row;  // 0 for the whole field
    bool Timed;
  };
  std::vector<TCopy> FCopies;
  std::string FBaseCaption;
};

class TRecordDialog final : public TPropertiesDialog {
 public:
  // The record stays the caller's; it must outlive the dialog.
  TRecordDialog(TKofRecord& record, bool editableRecords, bool modifiable, TPropertiesHooks hooks);
  ~TRecordDialog() override;

  void Changed(const std::string& name) override;
  // After OK: the record to send, the edits written into it. It is the record
  // read with its secret fields when they were shown at OK, otherwise the
  // caller's record, which carries no secret field the update could overwrite.
  TKofRecord& Target() const { return FSecrets ? *FSecrets : FRecord; }
  bool PasswordChanged() const { return FPasswordChanged; }
  bool SecretsShown() const { return FSecrets != nullptr; }

  static std::string PlainTwin(const std::string& edit) { return edit + "Shown"; }

 protected:
  TModalResult Clicked(const std::string& name) override;

 private:
  void AddFieldRow(const TRecordField& field, const std::string& parent, int& top, int width);
  void ChooseTags();
  void ShowGroup();
  void HideGroup();
  void SetSecretsVisible(bool visible);
  void ToggleField(const std::string& toggle, bool show);
  // The control that shows a field now: a masked field's twin while it is shown.
  const TDialogControl& Shown(const TRecordField& field) const;
  void Apply();
  std::vector<const TRecordField*> Fields() const;

  TKofRecord& FRecord;
  const TRecordDialogKind& FKind;
  std::vector<TRecordField> FCommon;
  std::unique_ptr<TKofRecord> FSecrets;
  bool FPasswordChanged = false;
};

// A safe box or safe box group.
class TSafeBoxDialog final : public TPropertiesDialog {
 public:
  TSafeBoxDialog(TKofSafeBox& box, bool editableRecords, bool modifiable, TPropertiesHooks hooks);

 protected:
  TModalResult Clicked(const std::string& name) override;

 private:
  TKofSafeBox& FBox;
};

// The first line of TEXT numbered ROW (from 1), without its line end.
std::string_view MemoLine(std::string_view text, int row);

}  // namespace kof
