// The native host's answer as it arrives on its output: any bytes must frame,
// parse and read as a certificate without crashing; a message is never longer
// than its frame says nor than the bound.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "client/GWardenAPI.h"
#include "client/GWardenUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto message = kof::DecodeHostFrame(bytes);
  if (!message) return 0;
  if (message->size() + 4 > size || message->size() > kof::kGWardenMaxAnswer) std::abort();
  const kof::TGWardenAnswer answer = kof::ParseHostAnswer(*message);
  kof::TGWardenCertInfo info;
  if (answer.Certificate) kof::ParseGWardenCertificate(*answer.Certificate, info);
  // The message itself as a certificate, for DER shapes the JSON path rarely reaches.
  kof::ParseGWardenCertificate(*message, info);
  return 0;
}
