#include "platform/KofKeyboardLayout.h"

namespace kof {

TKeyboardLayout ActiveKeyboardLayout() { return {"??", "Unknown Keyboard Layout"}; }

}  // namespace kof
