#include "plugin/KofDialogProperties.h"

#include <chrono>
#include <memory>
#include <string>

#include "client/GWardenAPI.h"
#include "dialogs/KofRecordDialogs.h"
#include "dialogs/KofSmallDialogs.h"
#include "plugin/PluginKofCommon5.h"
#include "support/KofText.h"
#include "support/VarnokCommonCode.h"

namespace kof {
namespace {

TPropertiesHooks Hooks(const TPropertiesContext& context, std::int32_t id) {
  TPropertiesHooks hooks;
  hooks.ReadSecrets = [&context, id](std::string& error) {
    std::unique_ptr<TKofRecord> record = context.Client.GetRecord(id, true, false);
    if (!record) error = context.Client.ErrorMsg();
    return record;
  };
  hooks.Copy = [&context](std::string_view text, bool timed) {
    std::string error;
    const bool ok = timed ? context.Plugin.CopySecretToClipboard(text, context.ClipCopyMessage, error)
                          : context.Plugin.CopyTextToClipboard(text, error);
    return ok ? std::string() : error;
  };
  hooks.ShowError = [&context](const std::string& message) { context.Plugin.Prompts().ShowMessage("Error", message); };
  hooks.ChooseTags = [&context](std::vector<std::string>& tags) {
    std::vector<std::string> offered;
    // Tags that cannot be read offer no dialog, and the record's stay.
    if (!context.Client.GetRecordTags(context.BoxId, &offered)) return false;
    TSelectTagsDialog dialog(std::move(offered), tags);
    const std::optional<int> result = context.Plugin.Prompts().ShowDialog(dialog);
    if (!result || *result != mrOK) return false;
    tags = dialog.Chosen();
    return true;
  };
  return hooks;
}

// Without the host's dialogs the fields are shown, not edited.
std::string FieldsText(const TKofDialog& d) {
  std::string text;
  for (const TDialogControl& c : d.Controls()) {
    if (!c.Visible || !c.Editable() || c.Kind == TControlKind::ComboBox || c.Secret || c.Text.Empty())
      continue;
    const std::string label = "lab" + c.Name.substr(3);
    text += (d.Has(label) ? d.Control(label).Caption : c.Name) + "\t" + std::string(c.Text.View()) + "\r\n";
  }
  return text;
}

// The dialog's answer; false when it cannot be shown, after showing the fields another way.
bool Show(const TPropertiesContext& context, TKofDialog& dialog, bool& ok) {
  const std::optional<int> result = context.Plugin.Prompts().ShowDialog(dialog);
  if (!result) {
    context.Plugin.Prompts().ShowMessage(dialog.Caption(), FieldsText(dialog));
    return false;
  }
  ok = *result == mrOK;
  return true;
}

}  // namespace

void EditRecordProperties(const TPropertiesContext& context, std::int32_t id) {
  // Read without its secret fields: an update then leaves them as the server has them,
  // unless the user revealed them (the dialog then answers the record read with them).
  const std::unique_ptr<TKofRecord> record = context.Client.GetRecord(id, false, false);
  if (!record) {
    context.Plugin.Prompts().ShowMessage("KOF", context.Client.ErrorMsg());
    return;
  }
  if (!RecordDialogKind(record->ObjType())) return;
  TRecordDialog dialog(*record, context.EditableRecords, context.Modifiable, Hooks(context, id));
  bool ok = false;
  if (!Show(context, dialog, ok) || !ok || dialog.ReadOnlyDialog()) return;
  if (!context.Client.Update(&dialog.Target(), dialog.PasswordChanged())) {
    context.Plugin.Prompts().ShowMessage("Error", context.Client.ErrorMsg());
  } else if (dialog.NameChanged()) {
    context.Plugin.Prompts().ShowMessage(
        "Record name changed", "Record name modified. Press F2 or Ctrl+R to see the updated panel with the new record name.");
  }
  dialog.Target().WipeStrings();
}

void EditBoxProperties(const TPropertiesContext& context, std::int32_t id) {
  const std::unique_ptr<TKofSafeBox> box = context.Client.GetSafeBox(id);
  if (!box) {
    context.Plugin.Prompts().ShowMessage("KOF", context.Client.ErrorMsg());
    return;
  }
  TSafeBoxDialog dialog(*box, context.EditableRecords, context.Modifiable, Hooks(context, id));
  bool ok = false;
  if (!Show(context, dialog, ok) || !ok || dialog.ReadOnlyDialog()) return;
  if (!context.Client.Update(box.get(), false)) {
    context.Plugin.Prompts().ShowMessage("Error", context.Client.ErrorMsg());
  } else if (dialog.NameChanged()) {
    context.Plugin.Prompts().ShowMessage(
        "Safe Box name changed", "Safe Box name modified. Press F2 or Ctrl+R to see the updated panel with the new record name.");
  }
}

TSessionConfigOptions SessionDialogOptions(TCommonKofPlugin& plugin) {
  TSessionConfigOptions options;
  options.VersionText = "Plugin version " + plugin.AppVersion();
  options.ShowMessage = [&plugin](const std::string& title, const std::string& message) {
    plugin.Prompts().ShowMessage(title, message);
  };
  const std::string modulePath = ExtractFilePath(plugin.Module());
  options.Test = [modulePath](const std::string& url) {
    TKofClient client(url, TKofLanguage::koflngEnglish);
    client.SetModulePath(modulePath);
    client.SetConnectionTimeout(1000);
    return client.Status() ? std::pair<std::string, std::string>{"Information", "Success!"}
                           : std::pair<std::string, std::string>{"Error", "Koffra not found."};
  };
  // Only the state is shown; without a single-sign-on client the query ends at once.
  TGWardenCertInfo info;
  TGWardenStatus status = TGWardenStatus::gwDisconnected;
  options.SsoStatus = GWardenQuery(nullptr, info, status, true, {std::chrono::milliseconds(2000)})
                          ? static_cast<int>(status)
                          : -1;
  return options;
}

TSessionConfigValues SessionValues(const TKofSession& s) {
  TSessionConfigValues v;
  v.Name = s.Name();
  v.Address = {s.URL(), s.Domain(), s.Username()};
  v.Settings = {s.AccessCodeTimeout(), s.EditableRecords(), s.FilesWithPasswords(),  s.VersionType(),
                s.ErrorGrouping(),     s.ClipCopyMessage(), s.AllowedVersionTypeChange(), s.DisplayHelpFolders(),
                s.EncryptingFiles(),   s.StoreAllFiles(),   s.BufferSize()};
  return v;
}

void ApplySessionValues(TKofSession& s, const TSessionConfigValues& v) {
  s.SetURL(v.Address.URL);
  s.SetDomain(v.Address.Domain);
  s.SetUsername(v.Address.Username);
  const TSessionSettings& t = v.Settings;
  s.SetAccessCodeTimeout(t.AccessCodeTimeout);
  s.SetEditableRecords(t.EditableRecords);
  s.SetFilesWithPasswords(t.FilesWithPasswords);
  s.SetVersionType(t.VersionType);
  s.SetErrorGrouping(t.ErrorGrouping);
  s.SetClipCopyMessage(t.ClipCopyMessage);
  s.SetAllowedVersionTypeChange(t.AllowedVersionTypeChange);
  s.SetDisplayHelpFolders(t.DisplayHelpFolders);
  s.SetEncryptingFiles(t.EncryptingFiles);
  s.SetStoreAllFiles(t.StoreAllFiles);
  s.SetBufferSize(t.BufferSize);
}

}  // namespace kof
