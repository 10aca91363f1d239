#pragma once
// The panel's first contact with a session's server. An https server must
// show a certificate that verifies against the trusted CAs, or the one the
// user pinned in the session. An unverified certificate is shown to the user,
// who may pin it; a pinned certificate that changed is refused without a
// question, so a swapped server is never accepted silently. An http:// address
// is used only after the user agreed to it for the session, and never by a
// session with a pin.
#include <functional>
#include <string>

namespace kof {

class TKofClient;
class TKofSession;

struct TTrustResult {
  bool Ok = false;
  // The session holds a new pin and is marked modified: the caller saves it.
  bool PinAdded = false;
  // The session now allows its http:// address and is marked modified: the caller saves it.
  bool PlainHttpAccepted = false;
  bool SessionChanged() const { return PinAdded || PlainHttpAccepted; }
  // Empty when the failure has nothing to do with the certificate.
  std::string Title{};
  std::string Message{};
};

// Shows a yes/no question; true for "Yes".
using TAskYesNo = std::function<bool(const std::string& title, const std::string& question)>;

inline constexpr char kServerCertificateTitle[] = "Server certificate";
inline constexpr char kPlainHttpTitle[] = "Unencrypted connection";

// Sets the client's TLS from the session (a pin decides alone; without one
// the chain must verify), runs Status and, when the certificate is not
// trusted, asks whether to pin it; "Yes" pins it and tries Status once more.
// An http:// address is first asked about, unless the session already allows it.
[[nodiscard]] TTrustResult StatusWithTrustedServer(TKofClient& client, TKofSession& session, const TAskYesNo& ask);

}  // namespace kof
