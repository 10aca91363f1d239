#include "model/KofFileStreamEx.h"

#include <cerrno>

namespace kof {

namespace {

TFileAccess Access(std::uint32_t AMode) {
  switch (AMode & 0x3) {
    case fmOpenWrite:
      return TFileAccess::faWrite;
    case fmOpenReadWrite:
      return TFileAccess::faReadWrite;
    default:
      return TFileAccess::faRead;
  }
}

}  // namespace

// Sharing bits have no counterpart for ordinary POSIX opens and are accepted as given.
// Unbuffered I/O on Windows maps to synchronous writes here: O_DIRECT would
// demand sector-aligned buffers from every caller.
TFileStreamEx::TFileStreamEx(const std::string& AFileName, std::uint32_t AMode) : FFileName(AFileName) {
  FRemoteFile = (AMode & (fmRemoteFile | fmUnbuffered)) != 0;
  if ((AMode & fmCreate) == fmCreate) {
    // A file to be encrypted for the current user holds a secret copy: it is
    // made new, mode 0600, and never through a link planted at its name.
    TOpenedFile file;
    if (AMode & fmEncrypted) {
      TPrivateFile created = CreatePrivateFile(AFileName);
      file.Handle = std::move(created.Handle);
      file.Error = created.Error;
    } else {
      file = CreateFileForWriting(AFileName, 0666, FRemoteFile);
    }
    if (!file.Handle.Valid()) throw EFCreateError("Cannot create file " + AFileName);
    FHandle = std::move(file.Handle);
    return;
  }
  TOpenedFile file = OpenExistingFile(AFileName, Access(AMode), FRemoteFile, (AMode & fmKeepFileTimes) != 0);
  if (!file.Handle.Valid()) throw EFOpenError("Cannot open file " + AFileName);
  FHandle = std::move(file.Handle);
  if (AMode & fmKeepFileTimes) FTimes = ReadFileTimes(FHandle.Fd());
}

TFileStreamEx::~TFileStreamEx() {
  if (FHandle.Valid() && FTimes) RestoreFileTimes(FHandle.Fd(), *FTimes);
}

std::size_t TFileStreamEx::Read(void* ABuffer, std::size_t ACount) {
  const std::int64_t n = ReadSome(FHandle.Fd(), ABuffer, ACount);
  if (n < 0) throw EKofError("Stream read error");
  return static_cast<std::size_t>(n);
}

void TFileStreamEx::WriteBuffer(const void* ABuffer, std::size_t ACount) {
  if (!WriteAll(FHandle.Fd(), ABuffer, ACount)) throw EWriteError("Stream write error", errno);
}

std::int64_t TFileStreamEx::Seek(std::int64_t AOffset, int AOrigin) { return SeekFile(FHandle.Fd(), AOffset, AOrigin); }

std::int64_t TFileStreamEx::Size() const { return FileSize(FHandle.Fd()).value_or(0); }

}  // namespace kof
