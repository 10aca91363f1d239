#include "plugin/KofPrompts.h"

#include <algorithm>
#include <charconv>

#include "dialogs/KofSmallDialogs.h"
#include "plugin/PluginKofCommon5.h"
#include "support/KofText.h"

namespace kof {
namespace {

constexpr int kSecondFactorLength = 7;
constexpr int kVersionModeLength = 3;
constexpr int kFilePasswordLength = 1024;

}  // namespace

TPromptBracket::TPromptBracket(TCommonKofPlugin& plugin) : FPlugin(plugin) { FPlugin.ClipLock(true); }

TPromptBracket::~TPromptBracket() {
  // Leaving may show the clipboard notice that waited; nothing may leave a destructor.
  try {
    FPlugin.ClipLock(false);
  } catch (...) {
  }
}

bool TKofRequestPrompts::Ask(int requestType, std::string_view title, std::string_view text, SecureString& answer,
                             int maxLength) {
  const TPromptBracket bracket(FPlugin);
  return FPlugin.RequestText(requestType, title, text, answer, maxLength);
}

bool TKofRequestPrompts::Show(int requestType, std::string_view title, std::string_view text) {
  SecureString none;
  return Ask(requestType, title, text, none, 0);
}

bool TKofRequestPrompts::AskLogin(const std::string& title, const std::string&, SecureString& domain,
                                  SecureString& user, SecureString& password) {
  return Ask(wfx::RT_Other, title, "Domain", domain) && Ask(wfx::RT_UserName, title, "", user) &&
         Ask(wfx::RT_Password, title, "", password);
}

bool TKofRequestPrompts::AskRelogin(const std::string&, const std::string&, const std::string&,
                                    SecureString& password) {
  return Ask(wfx::RT_Password, "Relogin to Koffra", "", password);
}

bool TKofRequestPrompts::AskAccessCode(const std::string& sessionName, const std::string& prompt,
                                       SecureString& code) {
  const std::string text = prompt.empty() ? "Enter Access Code:" : prompt + "\r\n\r\nEnter Access Code:";
  return Ask(wfx::RT_Password, sessionName + " - Access Code", text, code);
}

bool TKofRequestPrompts::AskSecondFactor(const std::string&, SecureString& code) {
  return Ask(wfx::RT_Other, "TWO-FACTOR AUTHENTICATION", "Enter 6-digit code from your authenticator application",
             code, kSecondFactorLength);
}

bool TKofRequestPrompts::AskConnection(const std::string& sessionName, SecureString& url, SecureString& domain,
                                       SecureString& user) {
  return Ask(wfx::RT_URL, sessionName, "", url) && Ask(wfx::RT_Account, sessionName, "Domain", domain) &&
         Ask(wfx::RT_UserName, sessionName, "", user);
}

bool TKofRequestPrompts::AskYesNo(std::string_view title, std::string_view question) {
  return Show(wfx::RT_MsgYesNo, title, question);
}

bool TKofRequestPrompts::AskOkCancel(std::string_view title, std::string_view question) {
  return Show(wfx::RT_MsgOKCancel, title, question);
}

void TKofRequestPrompts::ShowMessage(std::string_view title, std::string_view message) {
  Show(wfx::RT_MsgOK, title, message);
}

bool TKofRequestPrompts::ChooseVersionMode(TVersionType& mode) {
  SecureString answer(std::to_string(static_cast<int>(mode)));
  if (!Ask(wfx::RT_Other, "Change version mode",
           "Enter id of file version mode (0=Never; 1=Filenaname_ver_(Date)_(User)_(Domain), 2=Filename_ver_(Number)",
           answer, kVersionModeLength)) {
    mode = verNone;
    return false;
  }
  const std::string text = Trim(answer.View());
  int number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size()) number = 0;
  mode = static_cast<TVersionType>(std::clamp(number, 0, kVersionTypeCount - 1));
  return true;
}

bool TKofRequestPrompts::AskFilePassword(const std::string& name, SecureString& password) {
  return Ask(wfx::RT_Password, name, "Enter password", password, kFilePasswordLength);
}

bool TKofRequestPrompts::AskCertificatePassword(const std::string& name, SecureString& password) {
  return Ask(wfx::RT_Password, name, "Enter password", password, kFilePasswordLength);
}

void TKofRequestPrompts::ShowCopyResult(const TCopyReport& report) {
  Show(wfx::RT_MsgOK, "Copy/Move Result", report.Text);
}

bool TKofPrompts::EditSession(TSessionConfigValues& values, const TSessionConfigOptions& options) {
  if (options.ReadOnly || options.LockIdentity) return false;
  SecureString url(values.Address.URL), domain(values.Address.Domain), user(values.Address.Username);
  if (!AskConnection(values.Name, url, domain, user)) return false;
  values.Address = {Trim(url.View()), Trim(domain.View()), Trim(user.View())};
  return true;
}

void TKofPrompts::ShowLoggedUser(std::string_view title, std::string_view user) {
  ShowMessage(title, LoggedUserText(user));
}

bool TKofPrompts::AskNewSafeBox(std::string_view title, std::string_view, bool& group, bool& isPrivate) {
  group = AskYesNo(title, "Create Safe Box Group? (Choose No for Safe Box)");
  isPrivate = AskYesNo(title, "Create Private Safe Box? (Choose No for Shared one)");
  return true;
}

}  // namespace kof
