#pragma once
// Answers a plugin's login questions the way a user at the keyboard would,
// whatever order they come in. Shared by the vault flows and the listing benchmark.
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "tools/wfxhost/WfxLoader.h"

namespace kof::test {

// Stands for the second-factor code that is current when it is asked for.
inline const std::string kCurrentTotp = "<current code>";

// What the user types into the prompts of a login.
struct TLogin {
  std::string Domain = "SYSTEM";
  std::string User = "demo";
  std::string Password = "demo";
  std::string AccessCode = "1234";
  bool TrustCertificate = true;
  bool AllowPlainHttp = false;
  // Second-factor answers in order; none left: the prompt is cancelled.
  std::deque<std::string> SecondFactor;
  bool CancelEverything = false;
};

bool IsLoginPrompt(const wfxhost::Request& r);  // domain or user name
bool IsCertificateQuestion(const wfxhost::Request& r);
bool IsPlainHttpQuestion(const wfxhost::Request& r);
bool IsAccessCodePrompt(const wfxhost::Request& r);
bool IsSecondFactorPrompt(const wfxhost::Request& r);

// The answer to one request; nullopt cancels. currentTotp gives the code kCurrentTotp stands for.
std::optional<std::string> AnswerLogin(TLogin& login, const wfxhost::Request& r,
                                       const std::function<std::string()>& currentTotp);

// A session file for the plugin's import, with the accessories folder shown.
std::string SessionFileText(const std::string& url, const TLogin& login, const std::string& extraLines = "");

}  // namespace kof::test
