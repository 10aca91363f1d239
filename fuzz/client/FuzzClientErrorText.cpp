// Error bodies of any shape, with any status: worded or refused, never a crash.
#include <cstdint>
#include <string_view>

#include "client/KofErrors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int status = 100 + (data[0] | (data[1] << 8)) % 500;
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  static kof::TKofErrorMessages catalogue = [] {
    kof::TKofErrorMessages c;
    c.LoadFromJSON(R"({"login.failed":"Login failed {0} {1}","a":"x<a href=y>"})");
    return c;
  }();
  kof::TKofError error;
  try {
    static_cast<void>(kof::ParseErrorText(text, status, catalogue, error));
  } catch (const kof::EKofResponseError&) {
    return 0;
  }
  kof::ComposeErrorMsg(error, status, text, status % 2 ? kof::TKofLanguage::koflngCzech : kof::TKofLanguage::koflngEnglish);
  return 0;
}
