#pragma once
// The folder the plugin's libraries come from; set once at start-up to the
// plugin's own folder and read by whoever needs to find files beside it.
#include <string>
#include <string_view>

namespace kof {

class TLibraryPathSingleton {
 public:
  static TLibraryPathSingleton& Instance();
  // Always ends with "/" once set; empty before.
  std::string Directory() const;
  // Assigns only when forced or nothing is set yet; an empty folder means the
  // folder of the module this code is linked into.
  void SetDirectory(std::string_view ADirectory, bool AForce);

 private:
  TLibraryPathSingleton() = default;
  std::string FDirectory;
};

// The folder of the module that contains this code, with a trailing "/".
std::string ModuleDirectory();

}  // namespace kof
