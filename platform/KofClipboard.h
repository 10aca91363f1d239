#pragma once
// The desktop clipboard, owned by an external clipboard program: wl-copy /
// wl-paste under Wayland, else xclip or xsel; KOFFRA_CLIPBOARD_CMD names a
// replacement that is run with "copy" (text on its standard input) or "paste"
// (text on its standard output). Text always travels through a pipe, never on
// a command line.
#include <optional>
#include <string>
#include <string_view>

#include "support/SecureString.h"

namespace kof {

class TKofClipboard {
 public:
  // Puts the text on the clipboard; false with a reason when no program could.
  bool SetText(std::string_view text, std::string& error);
  // Empties the clipboard only while it still holds what SetText put there.
  void ClearOwn();
  bool HoldsOwnText() const { return !FOwn.Empty(); }

  // The clipboard's text, or nothing when it cannot be read.
  static std::optional<SecureString> GetText();

 private:
  // Kept to recognise our own text; wiped when cleared.
  SecureString FOwn;
};

}  // namespace kof
