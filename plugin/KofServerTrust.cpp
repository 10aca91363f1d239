#include "plugin/KofServerTrust.h"

#include "client/KofClients.h"
#include "sessions/PluginKofSessions5.h"
#include "support/KofText.h"

namespace kof {
namespace {

enum class TVerdict { Accepted, Untrusted, PinChanged, OtherFailure };

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// A pin decides alone: the user vouched for exactly this certificate, chain
// or not. Without one the chain must verify against the system store and any
// CA the caller gave the client.
void UseTrust(TKofClient& client, const std::string& pinDigest) {
  client.SetImprint(pinDigest);
  client.SetVerifyCertificate(pinDigest.empty());
}

// The request object's own layer saw the handshake; the client's copy did not.
TVerdict Classify(const TKofClient& client) {
  TRESTsend* http = client.HTTP();
  if (http == nullptr) return TVerdict::OtherFailure;
  const TKofOpenSSL& seen = http->SSL();
  if (seen.PinRefused()) return TVerdict::PinChanged;
  // Without a certificate there is nothing the user could decide about.
  if (seen.PeerDigest().empty()) return TVerdict::OtherFailure;
  if (seen.NotVerified()) return TVerdict::Untrusted;
  return TVerdict::OtherFailure;
}

TVerdict RunStatus(TKofClient& client) { return client.Status() ? TVerdict::Accepted : Classify(client); }

TTrustResult CertificateRefusal(std::string message) {
  return {.Title = kServerCertificateTitle, .Message = std::move(message)};
}

std::string UntrustedQuestion(const TKofClient& client, const TKofSession& session) {
  const TKofOpenSSL& seen = client.HTTP()->SSL();
  return "The certificate of the server " + client.BaseURL() + " could not be verified: " + seen.WhyNotVerified() +
         ".\r\n\r\nSubject: " + seen.PeerSubject() + "\r\nSHA-256 fingerprint: " + seen.PeerFingerprint() +
         "\r\n\r\nTrust this certificate for the session " + Quoted(session.Name()) +
         "? Later logins will then accept exactly this certificate.";
}

std::string NotTrustedMessage(const TKofClient& client, const TKofSession& session) {
  return "The certificate of the server " + client.BaseURL() + " is not trusted, so the session " +
         Quoted(session.Name()) + " was not connected.";
}

std::string PinChangedMessage(const TKofClient& client, const TKofSession& session, const std::string& pinDigest) {
  const TKofOpenSSL& seen = client.HTTP()->SSL();
  return "The server " + client.BaseURL() + " presented a different certificate than the one trusted for the session " +
         Quoted(session.Name()) + ", so the login was refused.\r\n\r\nTrusted SHA-256 fingerprint: " +
         TKofOpenSSL::FingerprintText(pinDigest) + "\r\nPresented SHA-256 fingerprint: " + seen.PeerFingerprint() +
         "\r\nPresented subject: " + seen.PeerSubject() +
         "\r\n\r\nIf the server's certificate was replaced on purpose, remove the trusted certificate from the "
         "session and log in again.";
}

std::string BadPinMessage(const TKofSession& session) {
  return "The trusted certificate stored in the session " + Quoted(session.Name()) +
         " is not a SHA-256 fingerprint (32 hex pairs), so the server cannot be checked against it. Remove it from "
         "the session or correct it.";
}

TTrustResult Outcome(TVerdict verdict, const TKofClient& client, const TKofSession& session,
                     const std::string& pinDigest) {
  switch (verdict) {
    case TVerdict::Accepted: return {.Ok = true};
    case TVerdict::PinChanged: return CertificateRefusal(PinChangedMessage(client, session, pinDigest));
    default: return {.Message = client.ErrorMsg()};
  }
}

// Takes the certificate of the last handshake as the session's pin; returns its digest.
std::string PinLastCertificate(const TKofClient& client, TKofSession& session) {
  const TKofOpenSSL& seen = client.HTTP()->SSL();
  std::string digest = seen.PeerDigest();
  session.SetCertificatePin(seen.PeerFingerprint());
  session.SetModified(true);
  return digest;
}

std::string PlainHttpQuestion(const TKofClient& client, const TKofSession& session) {
  return "The address of the session " + Quoted(session.Name()) + " is " + client.BaseURL() +
         ", without encryption: passwords and records will travel unencrypted, readable by anyone on the way."
         "\r\n\r\nConnect anyway? The session will remember the answer for this address.";
}

std::string PlainHttpRefusedMessage(const TKofClient& client, const TKofSession& session) {
  return "The session " + Quoted(session.Name()) + " was not connected: its address " + client.BaseURL() +
         " is not encrypted. Use an https:// address.";
}

std::string PinnedPlainHttpMessage(const TKofClient& client, const TKofSession& session) {
  return "The session " + Quoted(session.Name()) + " trusts a certificate, so it never connects to the " +
         "unencrypted address " + client.BaseURL() +
         ". Use an https:// address, or remove the trusted certificate from the session.";
}

// Plain http shows no certificate: there is nothing to verify or pin, so the
// user decides once per session and address whether to go on without it.
TTrustResult StatusOverPlainHttp(TKofClient& client, TKofSession& session, const TAskYesNo& ask) {
  const auto refusal = [](std::string message) {
    return TTrustResult{.Title = kPlainHttpTitle, .Message = std::move(message)};
  };
  if (!session.CertificatePin().empty()) return refusal(PinnedPlainHttpMessage(client, session));
  bool accepted = false;
  if (session.PlainHttpURL() != client.BaseURL()) {
    if (!ask || !ask(kPlainHttpTitle, PlainHttpQuestion(client, session)))
      return refusal(PlainHttpRefusedMessage(client, session));
    session.SetPlainHttpURL(client.BaseURL());
    session.SetModified(true);
    accepted = true;
  }
  TTrustResult result = Outcome(RunStatus(client), client, session, {});
  result.PlainHttpAccepted = accepted;
  return result;
}

}  // namespace

TTrustResult StatusWithTrustedServer(TKofClient& client, TKofSession& session, const TAskYesNo& ask) {
  if (StartsText("http://", client.BaseURL())) return StatusOverPlainHttp(client, session, ask);
  std::string pinDigest;
  if (!session.CertificatePin().empty()) {
    const std::optional<std::string> digest = TKofOpenSSL::Sha256FromFingerprint(session.CertificatePin());
    if (!digest) return CertificateRefusal(BadPinMessage(session));
    pinDigest = *digest;
  }
  UseTrust(client, pinDigest);
  const TVerdict verdict = RunStatus(client);
  if (verdict != TVerdict::Untrusted) return Outcome(verdict, client, session, pinDigest);
  if (!ask || !ask(kServerCertificateTitle, UntrustedQuestion(client, session)))
    return CertificateRefusal(NotTrustedMessage(client, session));
  pinDigest = PinLastCertificate(client, session);
  UseTrust(client, pinDigest);
  TTrustResult result = Outcome(RunStatus(client), client, session, pinDigest);
  result.PinAdded = true;
  return result;
}

}  // namespace kof
