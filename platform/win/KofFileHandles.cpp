#include "platform/win/KofFileHandles.h"

#include <fcntl.h>
#include <io.h>

namespace kof::win {

TOpenedFile OpenPath(const std::string& path, DWORD access, DWORD disposition, DWORD flags, int crtFlags) {
  TOpenedFile file;
  THandle handle(::CreateFileW(WidePath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, disposition, flags, nullptr));
  if (!handle.Valid()) {
    file.Error = LastErrno();
    return file;
  }
  if ((access & GENERIC_WRITE) == 0 && (access & FILE_APPEND_DATA) == 0) crtFlags |= _O_RDONLY;
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle.Get()), crtFlags | _O_BINARY);
  if (fd < 0) {
    file.Error = EMFILE;
    return file;
  }
  handle.Release();  // the descriptor owns it now
  file.Handle = TFileHandle(fd);
  return file;
}

HANDLE OsHandle(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

}  // namespace kof::win
