#include "platform/win/KofWin.h"

#include <cerrno>
#include <utility>

namespace kof::win {

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

int ErrnoFrom(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: return EPIPE;
    case ERROR_NOT_SUPPORTED: return ENOSYS;
    case ERROR_DIRECTORY: return ENOTDIR;
    default: return EINVAL;
  }
}

int LastErrno() { return ErrnoFrom(::GetLastError()); }

std::wstring WidePath(std::string_view utf8) {
  std::wstring path = Wide(utf8);
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

std::string EnvVar(const wchar_t* name) {
  wchar_t small[512];
  const DWORD n = ::GetEnvironmentVariableW(name, small, static_cast<DWORD>(std::size(small)));
  if (n == 0) return {};
  if (n < std::size(small)) return Utf8(std::wstring_view(small, n));
  std::wstring big(n, L'\0');
  const DWORD m = ::GetEnvironmentVariableW(name, big.data(), n);
  big.resize(m < n ? m : 0);
  return Utf8(big);
}

THandle& THandle::operator=(THandle&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

HANDLE THandle::Release() { return std::exchange(FHandle, nullptr); }

void THandle::Reset(HANDLE h) {
  if (Valid()) ::CloseHandle(FHandle);
  FHandle = h;
}

}  // namespace kof::win
