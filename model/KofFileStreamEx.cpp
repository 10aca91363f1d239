#include "model/KofFileStreamEx.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kof {

namespace {

int OpenFlags(std::uint32_t AMode) {
  int flags = O_CLOEXEC;
  switch (AMode & 0x3) {
    case fmOpenWrite:
      flags |= O_WRONLY;
      break;
    case fmOpenReadWrite:
      flags |= O_RDWR;
      break;
    default:
      flags |= O_RDONLY;
      break;
  }
  // Unbuffered I/O on Windows maps to synchronous writes here: O_DIRECT would
  // demand sector-aligned buffers from every caller.
  if (AMode & (fmRemoteFile | fmUnbuffered)) flags |= O_DSYNC;
  return flags;
}

}  // namespace

// Sharing bits have no counterpart for ordinary POSIX opens and are accepted as given.
TFileStreamEx::TFileStreamEx(const std::string& AFileName, std::uint32_t AMode) : FFileName(AFileName) {
  FRemoteFile = (AMode & (fmRemoteFile | fmUnbuffered)) != 0;
  if ((AMode & fmCreate) == fmCreate) {
    // A file to be encrypted for the current user is readable by that user only.
    const mode_t perms = (AMode & fmEncrypted) ? 0600 : 0666;
    const int flags = (OpenFlags(AMode) & ~O_ACCMODE) | O_RDWR | O_CREAT | O_TRUNC;
    FHandle = ::open(AFileName.c_str(), flags, perms);
    if (FHandle < 0) throw EFCreateError("Cannot create file " + AFileName);
    if (AMode & fmEncrypted) ::fchmod(FHandle, 0600);  // an existing file keeps no wider rights
  } else {
    int flags = OpenFlags(AMode);
    if (AMode & fmKeepFileTimes) {
      FHandle = ::open(AFileName.c_str(), flags | O_NOATIME);
      // O_NOATIME is for the file's owner only; retry once without it.
      if (FHandle < 0 && errno == EPERM) FHandle = ::open(AFileName.c_str(), flags);
      struct stat st {};
      if (FHandle >= 0 && ::fstat(FHandle, &st) == 0) {
        FTimes[0] = st.st_atim;
        FTimes[1] = st.st_mtim;
        FRestoreTimes = true;
      }
    } else {
      FHandle = ::open(AFileName.c_str(), flags);
    }
    if (FHandle < 0) throw EFOpenError("Cannot open file " + AFileName);
  }
}

TFileStreamEx::~TFileStreamEx() {
  if (FHandle < 0) return;
  if (FRestoreTimes) ::futimens(FHandle, FTimes);
  ::close(FHandle);
}

std::size_t TFileStreamEx::Read(void* ABuffer, std::size_t ACount) {
  for (;;) {
    const ssize_t n = ::read(FHandle, ABuffer, ACount);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) throw EKofError("Stream read error");
  }
}

void TFileStreamEx::WriteBuffer(const void* ABuffer, std::size_t ACount) {
  const auto* data = static_cast<const std::uint8_t*>(ABuffer);
  while (ACount > 0) {
    const ssize_t n = ::write(FHandle, data, ACount);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EWriteError("Stream write error");
    data += n;
    ACount -= static_cast<std::size_t>(n);
  }
}

std::int64_t TFileStreamEx::Seek(std::int64_t AOffset, int AOrigin) {
  return static_cast<std::int64_t>(::lseek(FHandle, static_cast<off_t>(AOffset), AOrigin));
}

std::int64_t TFileStreamEx::Size() const {
  struct stat st {};
  return ::fstat(FHandle, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

}  // namespace kof
