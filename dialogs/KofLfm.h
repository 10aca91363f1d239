#pragma once
// Dialogs as LFM text, the form description Double Commander's extension
// interface shows, and the check that a form uses nothing the host refuses.
// The host raises an exception for an unknown class, property or handler,
// which unwinds straight through the plugin's frames: every form the plugin
// can produce is checked by ValidateLfm in a test before it reaches the host.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/KofDialog.h"

namespace kof {

struct TLfmProperty {
  std::string Name;
  std::string Value;  // a string's decoded text, or the bare word or number
  bool IsString = false;
  std::vector<std::string> List;  // Items.Strings = ( ... )
  bool IsList = false;
};

struct TLfmObject {
  std::string Name;
  std::string Class;
  std::vector<TLfmProperty> Properties;
  std::vector<TLfmObject> Children;

  const TLfmProperty* Find(std::string_view property) const;
};

// The form of a dialog. No text of an edit or memo is in it (the runner sets
// them once the form shows), so a secret never sits in the form text.
std::string RenderLfm(const TKofDialog& dialog);

// Parses the LFM subset the plugin writes. nullopt, with a reason, for text it cannot read.
std::optional<TLfmObject> ParseLfm(std::string_view text, std::string& error);

// Empty when the host accepts the form; otherwise the first thing it would refuse.
std::string ValidateLfm(const TLfmObject& root);
std::string ValidateLfm(std::string_view text);

// The handler the host calls for an event of a control, as the renderer assigns it.
// Empty when the kind sends no event (its value is read when a button is pressed).
std::string_view ChangeHandlerOf(TControlKind kind);

}  // namespace kof
