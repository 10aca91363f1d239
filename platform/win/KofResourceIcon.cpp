#include "platform/KofIcons.h"

#include "platform/win/KofWin.h"

namespace kof {

// The icons are icon-group resources of the plugin's own module, named as the host asks for them.
void* LoadResourceIcon(std::string_view name, bool large) {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&LoadResourceIcon), &module))
    return nullptr;
  const int size = large ? 32 : 16;
  return ::LoadImageW(module, win::Wide(name).c_str(), IMAGE_ICON, size, size, LR_DEFAULTCOLOR);
}

}  // namespace kof
