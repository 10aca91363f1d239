#include "tests/flows/VaultLogin.h"

#include "plugin/WfxAbi.h"
#include "support/KofText.h"

namespace kof::test {

using wfxhost::Request;

bool IsLoginPrompt(const Request& r) { return r.Text == "Domain" || r.Type == wfx::RT_UserName; }

bool IsCertificateQuestion(const Request& r) {
  return r.Type == wfx::RT_MsgYesNo && LowerCase(r.Text).find("certificate") != std::string::npos;
}

bool IsPlainHttpQuestion(const Request& r) {
  return r.Type == wfx::RT_MsgYesNo && r.Text.find("will travel unencrypted") != std::string::npos;
}

bool IsAccessCodePrompt(const Request& r) { return r.Type == wfx::RT_Password && r.Title.ends_with(" - Access Code"); }

bool IsSecondFactorPrompt(const Request& r) { return r.Title == "TWO-FACTOR AUTHENTICATION"; }

std::optional<std::string> AnswerLogin(TLogin& login, const Request& r,
                                       const std::function<std::string()>& currentTotp) {
  if (login.CancelEverything) return std::nullopt;
  if (IsCertificateQuestion(r)) return login.TrustCertificate ? "yes" : "no";
  if (IsPlainHttpQuestion(r)) return login.AllowPlainHttp ? "yes" : "no";
  if (r.Text == "Domain") return login.Domain;
  if (r.Type == wfx::RT_UserName) return login.User;
  if (IsAccessCodePrompt(r)) return login.AccessCode;
  if (IsSecondFactorPrompt(r)) {
    if (login.SecondFactor.empty()) return std::nullopt;
    std::string code = login.SecondFactor.front();
    login.SecondFactor.pop_front();
    return code == kCurrentTotp ? currentTotp() : code;
  }
  if (r.Type == wfx::RT_Password) return login.Password;
  return std::nullopt;
}

std::string SessionFileText(const std::string& url, const TLogin& login, const std::string& extraLines) {
  return "[Koffra Session]\r\nURL=" + url + "\r\nDomain=" + login.Domain + "\r\nUsername=" + login.User +
         "\r\nDisplay Help Folder=ON\r\n" + extraLines + "\r\n";
}

}  // namespace kof::test
