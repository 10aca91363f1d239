#pragma once
// The exchange with the single-sign-on client's native host: one message each
// way, a 32-bit little-endian byte count followed by that many bytes of JSON.
// The host is an outside program; whatever it does, the query returns within
// a few seconds and leaves no process behind.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "client/GWardenUtils.h"

namespace kof {

// The largest answer taken from the host; a certificate is a few kilobytes.
inline constexpr std::size_t kGWardenMaxAnswer = 256 * 1024;

std::string EncodeHostFrame(std::string_view AMessage);
// The message of the first frame of ABytes; nothing when the bytes are shorter
// than the frame says or the frame is larger than kGWardenMaxAnswer.
std::optional<std::string_view> DecodeHostFrame(std::string_view ABytes);

struct TGWardenAnswer {
  TGWardenStatus Status = TGWardenStatus::gwDisconnected;
  std::optional<std::string> Certificate;  // DER bytes, when "cert" was valid Base64
};
// Reads the host's message: "status" (a number or a text holding one; state
// 0 otherwise) and "cert" (Base64). A message that is not a JSON object reads
// as state 0 without a certificate.
TGWardenAnswer ParseHostAnswer(std::string_view AMessage);

struct TGWardenQueryResult {
  bool Ok = false;
  // False when no single-sign-on client is registered on this machine: the
  // normal case for most users, so nothing is worth telling.
  bool Installed = false;
  // Why the query failed, for the user.
  std::string Why;
  explicit operator bool() const { return Ok; }
};

struct TGWardenQueryOptions {
  std::chrono::milliseconds Timeout{4000};
};

// Asks the native host for its state and, with ACertificate, its certificate
// (DER). Ok when the exchange succeeded and AAnyStatus is set or the state is
// gwAuthenticated. The certificate is stored before the state is judged; a
// failed exchange leaves AStatus, AInfo and ACertificate as they were.
TGWardenQueryResult GWardenQuery(std::string* ACertificate, TGWardenCertInfo& AInfo, TGWardenStatus& AStatus,
                                 bool AAnyStatus, const TGWardenQueryOptions& AOptions = {});

}  // namespace kof
