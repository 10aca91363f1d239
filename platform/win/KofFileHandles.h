#pragma once
// Files are opened with CreateFileW (wide paths, sharing that lets a file be
// renamed or deleted while open, as on POSIX) and then handed to the C
// runtime as descriptors, which the platform interface passes around.
#include <string>

#include "platform/KofFileIO.h"
#include "platform/win/KofWin.h"

namespace kof::win {

TOpenedFile OpenPath(const std::string& path, DWORD access, DWORD disposition, DWORD flags, int crtFlags = 0);
// The Win32 handle behind a descriptor (INVALID_HANDLE_VALUE when there is none).
HANDLE OsHandle(int fd);

}  // namespace kof::win
