#include "plugin/KofDialogPrompts.h"

#include <stdexcept>

#include "dialogs/KofLoginDialogs.h"
#include "dialogs/KofSmallDialogs.h"
#include "plugin/PluginKofClasses5.h"
#include "plugin/PluginKofCommon5.h"

namespace kof {

TKofDialogPrompts::TKofDialogPrompts(TCommonKofPlugin& plugin, TKofExtension extension)
    : FPlugin(plugin), FHost(extension), FFallback(plugin) {}

std::optional<TModalResult> TKofDialogPrompts::Show(TKofDialog& dialog) {
  const TPromptBracket bracket(FPlugin);
  return FHost.Show(dialog);
}

bool TKofDialogPrompts::EncryptionEnabled(const std::string& sessionName) const {
  for (int i = 0; i < FPlugin.Panels().Count(); ++i) {
    const auto* panel = dynamic_cast<const TPluginKofPanel*>(FPlugin.Panels().GetPanel(i));
    if (panel && panel->SessionName() == sessionName && panel->KofClient()) return panel->KofClient()->DecryptNaCL();
  }
  return false;
}

bool TKofDialogPrompts::ChooseVersionMode(TVersionType& mode) {
  TVerSysDialog dialog(mode);
  const auto result = Show(dialog);
  if (!result) return FFallback.ChooseVersionMode(mode);
  mode = *result == mrOK ? dialog.VerType() : verNone;
  return *result == mrOK;
}

void TKofDialogPrompts::ShowLoggedUser(std::string_view title, std::string_view user) {
  TLoggedUserDialog dialog(user);
  if (!Show(dialog)) FFallback.ShowLoggedUser(title, user);
}

bool TKofDialogPrompts::AskNewSafeBox(std::string_view title, std::string_view name, bool& group, bool& isPrivate) {
  TNewSafeBoxDialog dialog(name, false);
  const auto result = Show(dialog);
  if (!result) return FFallback.AskNewSafeBox(title, name, group, isPrivate);
  if (*result != mrOK) return false;
  group = dialog.Kind() == 1;
  isPrivate = dialog.Private();
  return true;
}

bool TKofDialogPrompts::AskFilePassword(const std::string& name, SecureString& password) {
  TSetPasswordDialog dialog(false, name, password.View());
  const auto result = Show(dialog);
  if (!result) return FFallback.AskFilePassword(name, password);
  if (*result != mrOK) return false;
  password = dialog.Password();
  return true;
}

bool TKofDialogPrompts::AskCertificatePassword(const std::string& name, SecureString& password) {
  // A certificate's password is typed afresh.
  TSetPasswordDialog dialog(true, name, "");
  const auto result = Show(dialog);
  if (!result) return FFallback.AskCertificatePassword(name, password);
  if (*result != mrOK) return false;
  password = dialog.Password();
  return true;
}

void TKofDialogPrompts::ShowCopyResult(const TCopyReport& report) {
  TCopyResultContent content;
  const TKofOperationCounts& n = report.Counts;
  const bool byDeletion = report.Form == TReportForm::Move || report.Form == TReportForm::Rename;
  content.Form = report.Form == TReportForm::Move     ? TCopyResultContent::Move
                 : report.Form == TReportForm::Rename ? TCopyResultContent::Rename
                                                      : TCopyResultContent::Copy;
  content.CreatedBoxes = n.OKCreatedBoxes;
  content.FailedBoxes = n.AllCreatedBoxes - n.OKCreatedBoxes;
  content.DoneRecords = byDeletion ? n.OKDeletedRecords : n.OKCopiedRecords;
  content.FailedRecords = n.AllCopiedRecords - content.DoneRecords;
  const TCopyDetails* details = report.Details;
  content.Details = [details](bool grouping) { return details ? details->GetDetailText(grouping) : std::string(); };
  content.CopyText = [this](const std::string& text) {
    std::string error;
    return FPlugin.CopyTextToClipboard(text, error) ? std::string() : error;
  };
  TCopyResultDialog dialog(std::move(content), report.Grouping);
  if (!Show(dialog)) FFallback.ShowCopyResult(report);
}

std::optional<int> TKofDialogPrompts::ShowDialog(TKofDialog& dialog) {
  const auto result = Show(dialog);
  if (!result) return std::nullopt;
  return *result;
}

bool TKofDialogPrompts::EditSession(TSessionConfigValues& values, const TSessionConfigOptions& options) {
  TSessionConfigDialog dialog(values, options);
  const auto result = Show(dialog);
  if (!result) return TKofPrompts::EditSession(values, options);
  if (*result != mrOK) return false;
  values = dialog.Values();
  return true;
}

bool TKofDialogPrompts::AskLogin(const std::string& title, const std::string& url, SecureString& domain,
                                 SecureString& user, SecureString& password) {
  TLoginDialogExt dialog(title, url, domain.View(), user.View());
  const auto result = Show(dialog);
  if (!result) return FFallback.AskLogin(title, url, domain, user, password);
  if (*result != mrOK) return false;
  domain = dialog.Domain();
  user = dialog.User();
  password = dialog.Password();
  return true;
}

bool TKofDialogPrompts::AskRelogin(const std::string& baseURL, const std::string& domain, const std::string& user,
                                   SecureString& password) {
  std::optional<TLoginDialog> dialog;
  try {
    dialog.emplace("", baseURL, domain, user);
  } catch (const std::invalid_argument&) {
    return FFallback.AskRelogin(baseURL, domain, user, password);
  }
  const auto result = Show(*dialog);
  if (!result) return FFallback.AskRelogin(baseURL, domain, user, password);
  if (*result != mrOK) return false;
  password = dialog->Password();
  return true;
}

bool TKofDialogPrompts::AskAccessCode(const std::string& sessionName, const std::string& prompt, SecureString& code) {
  TAccessCodeDialog dialog(sessionName + " - Access Code", prompt, EncryptionEnabled(sessionName));
  const auto result = Show(dialog);
  if (!result) return FFallback.AskAccessCode(sessionName, prompt, code);
  if (*result != mrOK) return false;
  code = dialog.Code();
  return true;
}

bool TKofDialogPrompts::AskSecondFactor(const std::string& sessionName, SecureString& code) {
  TSecondFactorDialog dialog;
  const auto result = Show(dialog);
  if (!result) return FFallback.AskSecondFactor(sessionName, code);
  if (*result != mrOK) return false;
  code = dialog.Code();
  return true;
}

bool TKofDialogPrompts::AskConnection(const std::string& sessionName, SecureString& url, SecureString& domain,
                                      SecureString& user) {
  return FFallback.AskConnection(sessionName, url, domain, user);
}

bool TKofDialogPrompts::AskYesNo(std::string_view title, std::string_view question) {
  return FFallback.AskYesNo(title, question);
}

bool TKofDialogPrompts::AskOkCancel(std::string_view title, std::string_view question) {
  return FFallback.AskOkCancel(title, question);
}

void TKofDialogPrompts::ShowMessage(std::string_view title, std::string_view message) {
  FFallback.ShowMessage(title, message);
}

}  // namespace kof
