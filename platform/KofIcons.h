#pragma once
// The plugin's icons, loaded by resource name ("ACC_Icon") in the small
// (16 pixels) or large (32 pixels) size. Only a build that carries the icons
// as resources can load them; elsewhere every request gives nothing and the
// host draws its default icon. A test puts a source of its own in place.
#include <string_view>

namespace kof {

class TKofIconSource {
 public:
  virtual ~TKofIconSource() = default;
  // The icon's handle for the host, or nullptr when there is none.
  virtual void* Load(std::string_view name, bool large) = 0;
};

// The source in force: the build's resources unless a test set another.
TKofIconSource& IconSource();

// The build's own icon resources (nullptr where the build has none).
void* LoadResourceIcon(std::string_view name, bool large);

// Makes a source the one in force for the scope's lifetime (tests).
class TKofIconSourceOverride {
 public:
  explicit TKofIconSourceOverride(TKofIconSource& source);
  ~TKofIconSourceOverride();
  TKofIconSourceOverride(const TKofIconSourceOverride&) = delete;
  TKofIconSourceOverride& operator=(const TKofIconSourceOverride&) = delete;

 private:
  TKofIconSource* FPrevious;
};

}  // namespace kof
