#include "tools/wfxhost/VaultCommands.h"

// isatty only: this host is a Linux program of its own, outside the plugin.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "client/KofPasswords.h"
#include "support/SecureString.h"

namespace wfxhost {
namespace {

using kof::SecureString;
using kof::TGenerationType;
using kof::TKofClient;
using kof::TKofPasswords;

const char* kVaultUsage =
    "usage: wfxhost vault --url URL [--user NAME] [--domain NAME] [--ca FILE] [--invitation] [--show]\n"
    "                     COMMAND [ARGS]\n"
    "commands:\n"
    "  generate [password|access-code]        a value the server's rules accept\n"
    "  check-password [password|access-code]  the server's verdict on a candidate\n"
    "  set-first-password                     an invited user's first password (needs --invitation)\n"
    "  agent-password CONFIG PLATFORM STATION USER YYYY-MM-DD\n"
    "  station-password CONFIG PLATFORM STATION USER YYYY-MM-DD\n"
    "  ticket-password TICKET STATION PLATFORM USER\n"
    "  configs | stations CONFIG | about\n"
    "--user logs in first; --invitation acts for an invited user without a login: the invitation\n"
    "link (it gives the server when --url is missing) is the first line of standard input.\n"
    "Secrets are read from standard input, one a line, in the order they are needed: the link or\n"
    "the login password, the access code when the server asks for it, then the command's own (a\n"
    "candidate, a first password). Secrets are never taken from the command line, and one that a\n"
    "command obtains is printed only with --show.\n";

struct TVaultOptions {
  std::string Url;
  std::string User;
  std::string Domain = "SYSTEM";
  std::string CaFile;
  bool Invitation = false;  // the link itself is a secret: it comes on standard input
  bool Show = false;
  std::vector<std::string> Words;  // the command and its arguments
};

// Reads one secret line into wiping storage; false at the end of the input.
class TSecretReader {
 public:
  TSecretReader(std::istream& AIn, std::ostream& AErr) : FIn(AIn), FErr(AErr) {}
  bool Read(const char* APrompt, SecureString& ASecret) {
    if (&FIn == &std::cin && isatty(STDIN_FILENO)) FErr << APrompt << ": " << std::flush;
    // Character by character into wiping storage: a growing std::string would
    // leave copies of the secret in the buffers it frees.
    ASecret.Clear();
    char c = 0;
    bool got = false;
    while (FIn.get(c)) {
      got = true;
      if (c == '\n') break;
      ASecret.PushBack(c);
    }
    if (!ASecret.Empty() && ASecret.View().back() == '\r') {
      SecureString trimmed(ASecret.View().substr(0, ASecret.Size() - 1));
      ASecret = std::move(trimmed);
    }
    return got;
  }

 private:
  std::istream& FIn;
  std::ostream& FErr;
};

std::optional<TVaultOptions> ParseOptions(int AArgc, char** AArgs) {
  TVaultOptions options;
  const std::map<std::string, std::string TVaultOptions::*> valued = {{"--url", &TVaultOptions::Url},
                                                                      {"--user", &TVaultOptions::User},
                                                                      {"--domain", &TVaultOptions::Domain},
                                                                      {"--ca", &TVaultOptions::CaFile}};
  for (int i = 0; i < AArgc; ++i) {
    const std::string word = AArgs[i];
    if (const auto it = valued.find(word); it != valued.end() && options.Words.empty()) {
      if (++i >= AArgc) return std::nullopt;
      options.*(it->second) = AArgs[i];
    } else if (word == "--show" && options.Words.empty()) {
      options.Show = true;
    } else if (word == "--invitation" && options.Words.empty()) {
      options.Invitation = true;
    } else if (word.rfind("--", 0) == 0 && options.Words.empty()) {
      return std::nullopt;
    } else {
      options.Words.push_back(word);
    }
  }
  if (options.Words.empty() || (options.Url.empty() && !options.Invitation)) return std::nullopt;
  // The invitation's services are for a user who cannot log in yet.
  if (!options.User.empty() && options.Invitation) return std::nullopt;
  return options;
}

// The server of an invitation link. Only the part before the query is parsed:
// the query holds the invitation's code and must not be copied into plain strings.
std::string ServerOfLink(std::string_view ALink) {
  const kof::TUrlParts link = kof::ParseURL(ALink.substr(0, ALink.find('?')));
  return kof::BaseURLFromParts(link.Protocol, link.Host, link.Port, link.Path);
}

std::optional<TGenerationType> GenerationType(const std::vector<std::string>& AWords) {
  const std::string kind = AWords.size() > 1 ? AWords[1] : "password";
  if (kind == "password") return TGenerationType::gtPassword;
  if (kind == "access-code") return TGenerationType::gtAccessCode;
  return std::nullopt;
}

std::optional<std::chrono::year_month_day> ParseDate(const std::string& AText) {
  int year = 0;
  unsigned month = 0, day = 0;
  char rest = 0;
  if (std::sscanf(AText.c_str(), "%4d-%2u-%2u%c", &year, &month, &day, &rest) != 3) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(month), std::chrono::day(day)};
  if (!date.ok()) return std::nullopt;
  return date;
}

class TVaultSession {
 public:
  TVaultSession(const TVaultOptions& AOptions, const SecureString& AInvitation, std::istream& AIn, std::ostream& AOut,
                std::ostream& AErr)
      : FOptions(AOptions),
        FInvitation(AInvitation),
        FOut(AOut),
        FErr(AErr),
        FSecrets(AIn, AErr),
        FClient(AOptions.Url, AOptions.User, "", "", AOptions.Domain, kof::TKofLanguage::koflngEnglish),
        FPasswords(FClient) {
    if (!AOptions.CaFile.empty()) FClient.SetCertCAFile(AOptions.CaFile);
    FClient.SetOnGetAccessCode([this](SecureString& ACode, bool AInvalid) {
      if (AInvalid) FErr << "wfxhost vault: the access code was refused\n";
      return FSecrets.Read("access code", ACode) && !ACode.Empty();
    });
  }

  int Run() {
    const std::string& command = FOptions.Words[0];
    using TCommand = std::function<int()>;
    const std::map<std::string, std::pair<std::size_t, TCommand>> commands = {
        {"generate", {1, [this] { return Generate(); }}},
        {"check-password", {1, [this] { return CheckPassword(); }}},
        {"set-first-password", {1, [this] { return SetFirstPassword(); }}},
        {"agent-password", {6, [this] { return ManagedPassword(true); }}},
        {"station-password", {6, [this] { return ManagedPassword(false); }}},
        {"ticket-password", {5, [this] { return TicketPassword(); }}},
        {"configs", {1, [this] { return Configurations(); }}},
        {"stations", {2, [this] { return Stations(); }}},
        {"about", {1, [this] { return About(); }}},
    };
    const auto it = commands.find(command);
    if (it == commands.end() || FOptions.Words.size() < it->second.first) return Usage();
    // Status also loads the server's messages, so failures read in its words.
    if (!FClient.BaseURL().empty() && !FClient.Status()) return Failed("status");
    if (!FOptions.User.empty() && !Login()) return 1;
    return it->second.second();
  }

 private:
  int Usage() {
    FErr << kVaultUsage;
    return 2;
  }

  int Failed(const std::string& AWhat) {
    FErr << "wfxhost vault: " << AWhat << " failed: " << FClient.ErrorMsg() << " (code " << FClient.ErrorCode()
         << ")\n";
    return 1;
  }

  bool Login() {
    SecureString password;
    if (!FSecrets.Read("password", password)) {
      FErr << "wfxhost vault: no password on standard input\n";
      return false;
    }
    FClient.SetPassword(password.View());
    bool authenticated = false;
    if (FClient.Connect(nullptr, "wfxhost", "", "") && FClient.LoginStatus(authenticated, true) && authenticated)
      return true;
    Failed("login");
    return false;
  }

  // A secret the server handed out: its length, or itself when asked for.
  void PrintSecret(const char* AWhat, const SecureString& ASecret) {
    if (FOptions.Show)
      FOut << ASecret.View() << "\n";
    else
      FOut << AWhat << " of " << ASecret.Size() << " characters (--show prints it)\n";
  }

  int Generate() {
    const auto type = GenerationType(FOptions.Words);
    if (!type) return Usage();
    SecureString value;
    if (!FPasswords.GeneratePasswordOrAccCode(*type, FInvitation.View(), value, true)) return Failed("generate");
    PrintSecret(*type == TGenerationType::gtAccessCode ? "access code" : "password", value);
    return 0;
  }

  int CheckPassword() {
    const auto type = GenerationType(FOptions.Words);
    if (!type) return Usage();
    SecureString candidate;
    if (!FSecrets.Read("candidate", candidate)) {
      FErr << "wfxhost vault: no candidate on standard input\n";
      return 1;
    }
    kof::TCheckPasswordResult verdict;
    if (!FPasswords.CheckPasswordCorrectness(*type, FInvitation.View(), candidate.View(), verdict, true))
      return Failed("check-password");
    auto mark = [](bool ABad) { return ABad ? " (too few)" : ""; };
    FOut << "length " << verdict.Len << "\n"
         << "entropy " << verdict.Entropy << " bits" << (verdict.EntropyBad ? " (too low)" : "") << "\n"
         << "lowercase " << verdict.LowerCaseCount << mark(verdict.LowerCaseBad) << "\n"
         << "uppercase " << verdict.UpperCaseCount << mark(verdict.UppercaseBad) << "\n"
         << "digits " << verdict.DigitCount << mark(verdict.DigitsBad) << "\n"
         << "special " << verdict.SpecialCharCount << mark(verdict.SpecialBad) << "\n"
         << "offline " << verdict.TimeToCrackOffline << " (" << verdict.SecondsToCrackOffline << " s)\n"
         << "online " << verdict.TimeToCrackOnline << " (" << verdict.SecondsToCrackOnline << " s)\n";
    return 0;
  }

  int SetFirstPassword() {
    if (FInvitation.Empty()) return Usage();
    SecureString password;
    if (!FSecrets.Read("first password", password) || password.Empty()) {
      FErr << "wfxhost vault: no first password on standard input\n";
      return 1;
    }
    if (!FPasswords.SetPasswordToInvitedUser(FInvitation.View(), password.View(), true))
      return Failed("set-first-password");
    FOut << "first password set for " << FClient.Domain() << "\\" << FClient.UserName() << "\n";
    return 0;
  }

  int ManagedPassword(bool AAgent) {
    const auto& w = FOptions.Words;
    const auto date = ParseDate(w[5]);
    if (!date) return Usage();
    SecureString password;
    const bool ok = AAgent ? FPasswords.GetAgentPassword(w[3], w[1], w[2], w[4], *date, password)
                           : FPasswords.GetStationPassword(w[3], w[1], w[2], w[4], *date, password);
    if (!ok) return Failed(w[0]);
    PrintSecret("password", password);
    return 0;
  }

  int TicketPassword() {
    const auto& w = FOptions.Words;
    SecureString password;
    if (!FPasswords.GetTicketPassword(w[1], w[2], w[3], w[4], password)) return Failed("ticket-password");
    PrintSecret("password", password);
    return 0;
  }

  int Configurations() {
    kof::TKofList list;
    if (!FPasswords.GetConfigurations(&list)) return Failed("configs");
    for (const auto& item : list) FOut << item->Name() << "\n";
    return 0;
  }

  int Stations() {
    kof::TKofList list;
    if (!FPasswords.GetStations(&list, FOptions.Words[1])) return Failed("stations");
    for (const auto& item : list) {
      const auto* station = dynamic_cast<const kof::TKofStation*>(item.get());
      if (!station) continue;
      FOut << station->StationName() << "\t" << station->OsPlatform() << "\t" << station->UserName() << "\t"
           << station->StationIP() << "\n";
    }
    return 0;
  }

  int About() {
    std::string page;
    if (!FPasswords.GetAbout(&page)) return Failed("about");
    FOut << page;
    return 0;
  }

  const TVaultOptions& FOptions;
  const SecureString& FInvitation;
  std::ostream& FOut;
  std::ostream& FErr;
  TSecretReader FSecrets;
  TKofClient FClient;
  TKofPasswords FPasswords;
};

}  // namespace

int RunVault(int AArgc, char** AArgs, std::istream& AIn, std::ostream& AOut, std::ostream& AErr) {
  auto options = ParseOptions(AArgc, AArgs);
  if (!options) {
    AErr << kVaultUsage;
    return 2;
  }
  SecureString invitation;
  if (options->Invitation) {
    if (!TSecretReader(AIn, AErr).Read("invitation link", invitation) || invitation.Empty()) {
      AErr << "wfxhost vault: no invitation link on standard input\n";
      return 1;
    }
    if (options->Url.empty()) options->Url = ServerOfLink(invitation.View());
  }
  TVaultSession session(*options, invitation, AIn, AOut, AErr);
  return session.Run();
}

}  // namespace wfxhost
