#include "platform/KofRegistry.h"

#include <algorithm>

#include "support/KofText.h"

namespace kof {

bool ValidRegistryKeyName(std::string_view name) {
  if (name.empty() || !IsValidUtf8(name) || Utf16Units(name) > 255) return false;
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

}  // namespace kof
