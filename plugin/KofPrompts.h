#pragma once
// Every question the plugin puts to the user goes through one TKofPrompts,
// which the plugin object owns. TKofRequestPrompts asks through the host's
// RequestProc, one field at a time. The plugin's own dialogs are a second
// implementation (TKofDialogPrompts), set when the host offers its dialog
// interface; a question they cannot show as a dialog they hand to a TKofRequestPrompts.
//
// Every answer that may be a secret arrives in wiping storage. Prompts run
// under the plugin lock (see KofPluginLock.h); an implementation that waits
// for the user is the place to release it once transfers run on a worker thread.
#include <optional>
#include <string>
#include <string_view>

#include "dialogs/KofSessionDialogs.h"
#include "plugin/KofCopyReport.h"
#include "plugin/WfxAbi.h"
#include "support/SecureString.h"
#include "support/VarnokCommonTypes.h"

namespace kof {

class TCommonKofPlugin;
class TKofDialog;

class TKofPrompts {
 public:
  virtual ~TKofPrompts() = default;

  // A password login to the server at url: domain and user name come prefilled. False when cancelled.
  virtual bool AskLogin(const std::string& title, const std::string& url, SecureString& domain, SecureString& user,
                        SecureString& password) = 0;
  // The password of the known user once more, when the server ended the session.
  virtual bool AskRelogin(const std::string& baseURL, const std::string& domain, const std::string& user,
                          SecureString& password) = 0;
  // prompt says what the code is for ("Viewing account") or why it is asked again; may be empty.
  virtual bool AskAccessCode(const std::string& sessionName, const std::string& prompt, SecureString& code) = 0;
  virtual bool AskSecondFactor(const std::string& sessionName, SecureString& code) = 0;
  // The address, domain and user name of a session, prefilled.
  virtual bool AskConnection(const std::string& sessionName, SecureString& url, SecureString& domain,
                             SecureString& user) = 0;
  // True for "Yes".
  virtual bool AskYesNo(std::string_view title, std::string_view question) = 0;
  // True for "OK".
  virtual bool AskOkCancel(std::string_view title, std::string_view question) = 0;
  virtual void ShowMessage(std::string_view title, std::string_view message) = 0;
  // The versioning mode for storing an edited file, offered as MODE. False when cancelled; MODE is then verNone.
  virtual bool ChooseVersionMode(TVersionType& mode) = 0;
  // The password kept as the secret note of a stored file; PASSWORD comes with the one remembered, if any.
  virtual bool AskFilePassword(const std::string& name, SecureString& password) = 0;
  virtual bool AskCertificatePassword(const std::string& name, SecureString& password) = 0;
  // The counts and failures of an operation that had errors.
  virtual void ShowCopyResult(const TCopyReport& report) = 0;
  // One of the plugin's own dialogs: the result it closed with, or nothing
  // when it cannot be shown (the caller asks another way).
  // A session's connection and settings; the default asks for the connection
  // only, and nothing where it could not be changed. False when cancelled.
  virtual bool EditSession(TSessionConfigValues& values, const TSessionConfigOptions& options);
  // The kind and type of a new safe box named NAME at a session's root; the
  // default asks two yes-or-no questions titled TITLE. False when cancelled.
  virtual bool AskNewSafeBox(std::string_view title, std::string_view name, bool& group, bool& isPrivate);
  // That USER logged in by single sign-on; the default is a message titled TITLE.
  virtual void ShowLoggedUser(std::string_view title, std::string_view user);
  virtual std::optional<int> ShowDialog(TKofDialog& dialog) {
    (void)dialog;
    return std::nullopt;
  }
};

// Brackets one prompt with the plugin's ClipLock, also when the prompt throws.
class TPromptBracket {
 public:
  explicit TPromptBracket(TCommonKofPlugin& plugin);
  ~TPromptBracket();
  TPromptBracket(const TPromptBracket&) = delete;
  TPromptBracket& operator=(const TPromptBracket&) = delete;

 private:
  TCommonKofPlugin& FPlugin;
};

class TKofRequestPrompts final : public TKofPrompts {
 public:
  explicit TKofRequestPrompts(TCommonKofPlugin& plugin) : FPlugin(plugin) {}

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

 private:
  // One RequestProc call inside the clipboard bracket; maxLength 0 for a message without an answer.
  bool Ask(int requestType, std::string_view title, std::string_view text, SecureString& answer,
           int maxLength = wfx::kMaxPath);
  bool Show(int requestType, std::string_view title, std::string_view text);

  TCommonKofPlugin& FPlugin;
};

}  // namespace kof
