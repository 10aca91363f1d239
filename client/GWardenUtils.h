#pragma once
// The single-sign-on client's state and the user information carried by the
// certificate it hands out (its subject alternative names).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kof {

enum class TGWardenStatus : std::uint8_t {
  gwDisconnected = 0,
  gwConnecting = 1,
  gwAuthenticating = 2,
  gwAuthenticated = 3,
};

// For messages: "disconnected", "connecting", ...; "state N" for others.
std::string GWardenStatusText(TGWardenStatus AStatus);

struct TGWardenCertInfo {
  bool HwTokenPresent = false;
  std::string Cn;  // the signed-in user's name
  std::string Fdn;
  std::string Mail;
  std::string Guid;
  std::string IpAddress;
  std::string ConnectorId;
  std::string StationKey;  // never filled from the certificate

  void Clear() { *this = TGWardenCertInfo{}; }
};

// Reads one DER certificate's subject alternative names into AInfo; fields the
// certificate does not name keep their values. True when a field was set.
bool ParseGWardenCertificate(const void* AData, std::size_t ASize, TGWardenCertInfo& AInfo);
inline bool ParseGWardenCertificate(std::string_view ADer, TGWardenCertInfo& AInfo) {
  return ParseGWardenCertificate(ADer.data(), ADer.size(), AInfo);
}

}  // namespace kof
