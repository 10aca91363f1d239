// Server messages ("m:key[params]") and message catalogues come from the
// server: any bytes must parse and be looked up without crashing.
#include <cstdint>
#include <string>
#include <string_view>

#include "client/KofErrors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto message = kof::ParseServerMessage(text);
  kof::TKofErrorMessages catalogue;
  try {
    catalogue.LoadFromJSON(text);
  } catch (const kof::EKofResponseError&) {
    // a catalogue nested too deeply is refused
  }
  std::string resolved;
  if (message) {
    catalogue.GetErrorText(message->Key, message->Params, resolved);
  } else {
    catalogue.GetErrorText(text, {std::string(text)}, resolved);
  }
  kof::ReadableKey(text);
  return 0;
}
