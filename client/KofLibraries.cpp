#include "client/KofLibraries.h"

#include <mutex>

#include "platform/KofModulePath.h"

namespace kof {

namespace {

std::mutex& DirectoryLock() {
  static std::mutex lock;
  return lock;
}

std::string WithDelimiter(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

std::string ModuleDirectory() { return OwnModuleFolder(); }

TLibraryPathSingleton& TLibraryPathSingleton::Instance() {
  static TLibraryPathSingleton instance;
  return instance;
}

std::string TLibraryPathSingleton::Directory() const {
  std::lock_guard guard(DirectoryLock());
  return FDirectory;
}

void TLibraryPathSingleton::SetDirectory(std::string_view ADirectory, bool AForce) {
  std::lock_guard guard(DirectoryLock());
  if (!AForce && !FDirectory.empty()) return;
  FDirectory = ADirectory.empty() ? ModuleDirectory() : WithDelimiter(std::string(ADirectory));
}

}  // namespace kof
