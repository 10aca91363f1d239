#include "plugin/KofDialogPrompts.h"

#include <stdexcept>

#include "dialogs/KofLoginDialogs.h"
#include "plugin/PluginKofCommon5.h"

namespace kof {

TKofDialogPrompts::TKofDialogPrompts(TCommonKofPlugin& plugin, TKofExtension extension)
    : FPlugin(plugin), FHost(extension), FFallback(plugin) {}

std::optional<TModalResult> TKofDialogPrompts::Show(TKofDialog& dialog) {
  const TPromptBracket bracket(FPlugin);
  return FHost.Show(dialog);
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
  TAccessCodeDialog dialog(sessionName + " - Access Code", prompt, false);
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
