#include "platform/KofModulePath.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>

namespace kof {

std::string OwnModuleFileName() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&OwnModuleFileName), &info) || !info.dli_fname) return {};
  char resolved[PATH_MAX];
  return realpath(info.dli_fname, resolved) ? std::string(resolved) : std::string(info.dli_fname);
}

std::string OwnModuleFolder() {
  const std::string path = OwnModuleFileName();
  if (path.empty()) return {};
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

bool LibraryLoaded(const std::string& AFileName) {
  void* handle = dlopen(AFileName.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

void* OpenLibrary(const std::string& path, std::string& error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) error = dlerror();
  return library;
}

void* LibrarySymbol(void* library, const char* name) { return dlsym(library, name); }

void CloseLibrary(void* library) {
  if (library) dlclose(library);
}

}  // namespace kof
