#pragma once
// Helpers shared by the Windows implementations: the one place that includes
// <windows.h>, UTF-8 <-> UTF-16 and Win32 error codes as errno values (the
// platform interface reports errno codes on every system).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <string_view>

namespace kof::win {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);
// The errno value closest to a Win32 error code.
int ErrnoFrom(DWORD error);
// The errno value of the calling thread's last Win32 error.
int LastErrno();
// Forward slashes become backslashes (Win32 accepts both; some calls only the latter).
std::wstring WidePath(std::string_view utf8);
// A variable of the process environment, empty when it is not set.
std::string EnvVar(const wchar_t* name);

// Owns a Win32 handle (INVALID_HANDLE_VALUE or null means none).
class THandle {
 public:
  THandle() = default;
  explicit THandle(HANDLE h) : FHandle(h) {}
  THandle(THandle&& other) noexcept : FHandle(other.Release()) {}
  THandle& operator=(THandle&& other) noexcept;
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  ~THandle() { Reset(); }

  HANDLE Get() const { return FHandle; }
  bool Valid() const { return FHandle != nullptr && FHandle != INVALID_HANDLE_VALUE; }
  HANDLE Release();
  void Reset(HANDLE h = nullptr);

 private:
  HANDLE FHandle = nullptr;
};

}  // namespace kof::win
