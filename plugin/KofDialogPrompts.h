#pragma once
// The questions of the plugin as its own dialogs, shown by the host's
// extension interface. What has no dialog, or a dialog that cannot be shown
// (no interface, or a login dialog without the user it needs), goes to
// RequestProc as before.
#include <optional>

#include "dialogs/KofDialog.h"
#include "plugin/KofDialogHost.h"
#include "plugin/KofPrompts.h"

namespace kof {

class TKofDialogPrompts final : public TKofPrompts {
 public:
  TKofDialogPrompts(TCommonKofPlugin& plugin, TKofExtension extension);

  bool AskLogin(const std::string& title, const std::string& url, SecureString& domain, SecureString& user,
                SecureString& password) override;
  bool AskRelogin(const std::string& baseURL, const std::string& domain, const std::string& user,
                  SecureString& password) override;
  bool AskAccessCode(const std::string& sessionName, const std::string& prompt, SecureString& code) override;
  bool AskSecondFactor(const std::string& sessionName, SecureString& code) override;
  bool AskConnection(const std::string& sessionName, SecureString& url, SecureString& domain,
                     SecureString& user) override;
  bool AskYesNo(std::string_view title, std::string_view question) override;
  bool AskOkCancel(std::string_view title, std::string_view question) override;
  void ShowMessage(std::string_view title, std::string_view message) override;
  bool ChooseVersionMode(TVersionType& mode) override;
  bool AskFilePassword(const std::string& name, SecureString& password) override;
  bool AskCertificatePassword(const std::string& name, SecureString& password) override;
  void ShowCopyResult(const TCopyReport& report) override;
  std::optional<int> ShowDialog(TKofDialog& dialog) override;
  bool EditSession(TSessionConfigValues& values, const TSessionConfigOptions& options) override;
  bool AskNewSafeBox(std::string_view title, std::string_view name, bool& group, bool& isPrivate) override;
  // The notice closes with its button: the host has no timer to close it after a second.
  void ShowLoggedUser(std::string_view title, std::string_view user) override;

  // Shows any dialog of the plugin inside the prompt bracket; nullopt when it cannot be shown.
  std::optional<TModalResult> Show(TKofDialog& dialog);

 private:
  // Whether the session's client encrypts on its side (the access code dialog says so).
  bool EncryptionEnabled(const std::string& sessionName) const;
  TCommonKofPlugin& FPlugin;
  TKofDialogHost FHost;
  TKofRequestPrompts FFallback;
};

}  // namespace kof
