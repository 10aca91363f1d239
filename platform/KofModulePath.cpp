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

}  // namespace kof
