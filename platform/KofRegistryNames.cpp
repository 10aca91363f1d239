#include "platform/KofRegistry.h"

#include <algorithm>

#include "support/KofText.h"

namespace kof {

bool ValidRegistryKeyName(std::string_view name) {
  if (name.empty() || !IsValidUtf8(name) || Utf16Units(name) > 255) return false;
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// The throwing reads are the same over every store: only the Try reads differ.
uint32_t TKofRegistry::ReadInteger(std::string_view name) const {
  if (auto value = TryReadInteger(name)) return *value;
  throw ERegistryException("Invalid data type for '" + std::string(name) + "'");
}

std::string TKofRegistry::ReadString(std::string_view name) const {
  if (auto value = TryReadString(name)) return *value;
  throw ERegistryException("Invalid data type for '" + std::string(name) + "'");
}

}  // namespace kof
