#pragma once
// The panel's first contact with a session's server. An https server must
// show a certificate that verifies against the trusted CAs, or the one the
// user pinned in the session. An unverified certificate is shown to the user,
// who may pin it; a pinned certificate that changed is refused without a
// question, so a swapped server is never accepted silently.
#include <functional>
#include <string>

namespace kof {

class TKofClient;
class TKofSession;

struct TTrustResult {
  bool Ok = false;
  // The session holds a new pin and is marked modified: the caller saves it.
  bool PinAdded = false;
  // Empty when the failure has nothing to do with the certificate.
  std::string Title;
  std::string Message;
};

// Shows a yes/no question; true for "Yes".
using TAskYesNo = std::function<bool(const std::string& title, const std::string& question)>;

inline constexpr char kServerCertificateTitle[] = "Server certificate";

// Sets the client's TLS from the session (a pin decides alone; without one
// the chain must verify), runs Status and, when the certificate is not
// trusted, asks whether to pin it; "Yes" pins it and tries Status once more.
TTrustResult StatusWithTrustedServer(TKofClient& client, TKofSession& session, const TAskYesNo& ask);

}  // namespace kof
