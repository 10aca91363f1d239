#include "platform/KofIcons.h"

namespace kof {

// The Linux host never asks for a plugin's icons, and a shared library has no
// icon resources to give: the host's defaults are drawn.
void* LoadResourceIcon(std::string_view, bool) { return nullptr; }

}  // namespace kof
