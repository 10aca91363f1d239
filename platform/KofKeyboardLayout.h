#pragma once
// The active keyboard layout, for the indicator beside secret fields. Linux
// offers no reliable way to read it from inside the host's process (X11 and
// Wayland each keep it in the display server, per window), so the POSIX
// source answers "unknown". A Windows source, still to come, would read the
// thread's layout.
#include <string>

namespace kof {

struct TKeyboardLayout {
  std::string Abbreviation;  // two upper-case letters of the layout's language, "??" when unknown
  std::string Name;          // the layout's name, "Unknown Keyboard Layout" when unknown
};

TKeyboardLayout ActiveKeyboardLayout();

}  // namespace kof
