#include "client/KofLibraries.h"

#include <dlfcn.h>

#include <mutex>

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

std::string ModuleDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&ModuleDirectory), &info) == 0 || info.dli_fname == nullptr) return {};
  const std::string path = info.dli_fname;
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

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
