#include "platform/KofModulePath.h"

#include "platform/win/KofWin.h"

namespace kof {

std::string OwnModuleFileName() {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&OwnModuleFileName), &module))
    return {};
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return win::Utf8(std::wstring_view(path.data(), n));
    path.resize(path.size() * 2);
  }
}

std::string OwnModuleFolder() {
  const std::string path = OwnModuleFileName();
  if (path.empty()) return {};
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".\\") : path.substr(0, slash + 1);
}

bool LibraryLoaded(const std::string& AFileName) {
  return ::GetModuleHandleW(win::WidePath(AFileName).c_str()) != nullptr;
}

void* OpenLibrary(const std::string& path, std::string& error) {
  HMODULE library = ::LoadLibraryExW(win::WidePath(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (library == nullptr) error = "error " + std::to_string(::GetLastError()) + " loading " + path;
  return reinterpret_cast<void*>(library);
}

void* LibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) {
  if (library) ::FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace kof
