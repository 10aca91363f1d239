// The text form of an encrypted value comes from the server: parse, print
// and open anything without crashing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "crypto/KofNaCL.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kof::TSaltyClientEncryption engine;
  static const kof::TBytes serverKey = [] {
    const auto key = kof::TSaltyClientEncryption().GetClientPublicKey();
    return kof::TBytes(key.begin(), key.end());
  }();
  const kof::TEncryptedData parsed(data, size);
  if (parsed.WellFormed()) {
    // Printing and parsing again must give the same value.
    const kof::TEncryptedData again(parsed.ToString());
    if (!again.WellFormed() || again.Iv() != parsed.Iv() || again.Data() != parsed.Data()) std::abort();
    if (parsed.CopyToBuffer().size() != parsed.BufferLen()) std::abort();
  }
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const kof::SecureString plain = engine.Decrypt(serverKey, text);
  // Random input never opens a box.
  if (!text.empty() && !engine.CryptError()) std::abort();
  (void)plain;
  return 0;
}
