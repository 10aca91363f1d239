#pragma once
// The desktop clipboard, owned by an external clipboard program: wl-copy /
// wl-paste under Wayland, else xclip or xsel; KOFFRA_CLIPBOARD_CMD names a
// replacement that is run with "copy" (text on its standard input) or "paste"
// (text on its standard output). Text always travels through a pipe, never on
// a command line.
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "support/SecureString.h"

namespace kof {

// A clipboard program gets this long to finish, and a paste this many bytes
// beyond what is looked for: one that hangs or floods must not hang the host.
inline constexpr std::chrono::milliseconds kClipboardProgramTimeout{3000};
inline constexpr std::size_t kMaxClipboardRead = 16u << 20;

enum class TClearResult {
  Cleared,  // our text was there and is gone now
  Gone,     // our text was no longer there (or nothing was put there)
  Failed,   // the clipboard could not be read back or emptied: it may still hold our text
};

class TKofClipboard {
 public:
  // Puts the text on the clipboard; false with a reason when no program could.
  bool SetText(std::string_view text, std::string& error);
  // Empties the clipboard only while it still holds what SetText put there.
  // After Failed the text is still remembered, for the next try.
  TClearResult ClearOwn();
  bool HoldsOwnText() const { return !FOwn.Empty(); }

  // The clipboard's text (at most MAXBYTES), or nothing when it cannot be read
  // or holds more.
  static std::optional<SecureString> GetText(std::size_t maxBytes = kMaxClipboardRead);

 private:
  // Kept to recognise our own text; wiped when cleared.
  SecureString FOwn;
};

}  // namespace kof
