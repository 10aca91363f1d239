// Any vault name must become one safe path component and come back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "model/KofFilesys.h"
#include "support/KofText.h"

namespace {

bool IsSafeComponent(const std::string& name) {
  if (name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F || std::string_view("/\\:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
      return false;
  if (!name.empty() && (name.back() == '.' || name.back() == ' ')) return false;
  std::string base = kof::UpperCase(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (const char* device : {"CON", "PRN", "AUX", "NUL"})
    if (base == device) return false;
  if (base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '1' && base[3] <= '9')
    return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  const std::string fsName = kof::TKofFileSysList::ReplaceFsName(name);
  if (kof::TKofFileSysList::ReplaceFsNameBack(fsName) != name) std::abort();
  if (!IsSafeComponent(fsName)) std::abort();
  return 0;
}
