#include "platform/KofFileIO.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <utility>

#include "platform/win/KofFileHandles.h"
#include "platform/win/KofWin.h"

namespace kof {
namespace {

constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000LL;  // 100 ns units since 1601

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash == 0 ? 1 : slash);
}

std::int64_t FileTimeUnits(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

FILETIME FileTimeOf(std::int64_t seconds, std::int64_t nanoseconds) {
  const auto units = static_cast<std::uint64_t>(seconds * 10000000LL + nanoseconds / 100 + kUnixEpochAsFileTime);
  return {static_cast<DWORD>(units & 0xFFFFFFFFu), static_cast<DWORD>(units >> 32)};
}

void SplitUnix(const FILETIME& time, std::int64_t& seconds, std::int64_t& nanoseconds) {
  const std::int64_t units = FileTimeUnits(time) - kUnixEpochAsFileTime;
  seconds = units / 10000000LL;
  nanoseconds = (units % 10000000LL) * 100;
  if (nanoseconds < 0) {
    seconds -= 1;
    nanoseconds += 1000000000LL;
  }
}

std::optional<WIN32_FILE_ATTRIBUTE_DATA> Attributes(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(win::WidePath(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return data;
}

bool IsFolder(const WIN32_FILE_ATTRIBUTE_DATA& data) { return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

DWORD AccessOf(TFileAccess access) {
  switch (access) {
    case TFileAccess::faWrite: return GENERIC_WRITE;
    case TFileAccess::faReadWrite: return GENERIC_READ | GENERIC_WRITE;
    default: return GENERIC_READ;
  }
}

}  // namespace

TOpenedFile OpenFileForReading(const std::string& path) {
  return win::OpenPath(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
}

TOpenedFile CreateFileForWriting(const std::string& path, unsigned /*mode*/, bool writeThrough) {
  return win::OpenPath(path, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL | (writeThrough ? FILE_FLAG_WRITE_THROUGH : 0));
}

TOpenedFile OpenExistingFile(const std::string& path, TFileAccess access, bool writeThrough, bool keepAccessTime) {
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | (writeThrough ? FILE_FLAG_WRITE_THROUGH : 0);
  if (keepAccessTime) {
    TOpenedFile file = win::OpenPath(path, AccessOf(access) | FILE_WRITE_ATTRIBUTES, OPEN_EXISTING, flags);
    // Freezes the last-access and last-write times for this handle.
    if (file.Handle.Valid()) {
      FILETIME frozen{0xFFFFFFFFu, 0xFFFFFFFFu};
      ::SetFileTime(win::OsHandle(file.Handle.Fd()), nullptr, &frozen, &frozen);
      return file;
    }
    // Without the right to write attributes: once more without it.
    if (file.Error != EACCES) return file;
  }
  return win::OpenPath(path, AccessOf(access), OPEN_EXISTING, flags);
}

std::optional<TFileTimes> ReadFileTimes(int fd) {
  FILETIME access{}, write{};
  if (!::GetFileTime(win::OsHandle(fd), nullptr, &access, &write)) return std::nullopt;
  TFileTimes times;
  SplitUnix(access, times.AccessSeconds, times.AccessNanoseconds);
  SplitUnix(write, times.WriteSeconds, times.WriteNanoseconds);
  return times;
}

void RestoreFileTimes(int fd, const TFileTimes& times) {
  const FILETIME access = FileTimeOf(times.AccessSeconds, times.AccessNanoseconds);
  const FILETIME write = FileTimeOf(times.WriteSeconds, times.WriteNanoseconds);
  ::SetFileTime(win::OsHandle(fd), nullptr, &access, &write);
}

TOpenedFile OpenPrivateFileForAppending(const std::string& path) {
  TOpenedFile file = win::OpenPath(path, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, _O_APPEND);
  if (!file.Handle.Valid()) return file;
  // Only a file on a disk: never a pipe or a device someone put at the name.
  if (::GetFileType(win::OsHandle(file.Handle.Fd())) != FILE_TYPE_DISK) return {TFileHandle(), EINVAL};
  return file;
}

TOpenedFile OpenFileForOverwriting(const std::string& path) {
  return win::OpenPath(path, GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
}

std::optional<std::int64_t> FileModifiedUnix(const std::string& path) {
  const auto data = Attributes(path);
  if (!data) return std::nullopt;
  std::int64_t seconds = 0, nanoseconds = 0;
  SplitUnix(data->ftLastWriteTime, seconds, nanoseconds);
  return seconds;
}

std::int64_t ReadSome(int fd, void* buffer, std::size_t count) {
  const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(count, INT_MAX));
  return static_cast<std::int64_t>(::_read(fd, buffer, chunk));
}

bool WriteAll(int fd, const void* buffer, std::size_t count) {
  const auto* data = static_cast<const unsigned char*>(buffer);
  while (count > 0) {
    const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(count, INT_MAX));
    const int n = ::_write(fd, data, chunk);
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    data += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

std::int64_t SeekFile(int fd, std::int64_t offset, int whence) { return ::_lseeki64(fd, offset, whence); }

bool TruncateFile(int fd, std::int64_t size) { return ::_chsize_s(fd, size) == 0; }

// Windows writes back on its own schedule; there is no range hint to give.
void StartWriteBack(int, std::int64_t, std::int64_t) {}

bool SetUncachedWrites(int /*fd*/, bool uncached) {
  // Unbuffered writes are chosen when a file is opened, not later.
  return !uncached;
}

std::optional<std::int64_t> FileSize(int fd) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(win::OsHandle(fd), &size)) return std::nullopt;
  return static_cast<std::int64_t>(size.QuadPart);
}

std::optional<std::int64_t> FileSizeOf(const std::string& path) {
  const auto data = Attributes(path);
  if (!data || IsFolder(*data)) return std::nullopt;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data->nFileSizeHigh) << 32) | data->nFileSizeLow);
}

bool FileExists(const std::string& path) {
  const auto data = Attributes(path);
  return data && !IsFolder(*data);
}

bool PathExists(const std::string& path) { return Attributes(path).has_value(); }

int RemoveFile(const std::string& path) { return ::DeleteFileW(win::WidePath(path).c_str()) ? 0 : win::LastErrno(); }

int RenameFile(const std::string& from, const std::string& to) {
  return ::MoveFileExW(win::WidePath(from).c_str(), win::WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING) ? 0
                                                                                                       : win::LastErrno();
}

bool FolderExists(const std::string& path) {
  const auto data = Attributes(path);
  return data && IsFolder(*data);
}

bool IsOnNetworkFileSystem(int fd) {
  // Only a file reached through a network redirector has remote protocol information.
  FILE_REMOTE_PROTOCOL_INFO info{};
  return ::GetFileInformationByHandleEx(win::OsHandle(fd), FileRemoteProtocolInfo, &info, sizeof info) != 0;
}

std::size_t PreferredBlockSize(int fd) {
  FILE_STORAGE_INFO info{};
  if (!::GetFileInformationByHandleEx(win::OsHandle(fd), FileStorageInfo, &info, sizeof info)) return 512;
  const DWORD bytes = info.PhysicalBytesPerSectorForPerformance;
  return bytes < 512 ? 512 : bytes;
}

unsigned DefaultFileMode() { return 0666u; }

std::string SystemErrorText(int error) {
  char text[256] = {};
  if (::strerror_s(text, sizeof text, error) != 0) return "error " + std::to_string(error);
  return text;
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t maxBytes) {
  TSmallFile file = ReadSmallRegularFile(path, maxBytes);
  if (file.Status != TSmallRead::Ok) return std::nullopt;
  return std::move(file.Bytes);
}

TSmallFile ReadSmallRegularFile(const std::string& path, std::size_t maxBytes) {
  TSmallFile result;
  const auto data = Attributes(path);
  if (data && IsFolder(*data)) return {TSmallRead::NotRegular, 0, {}};
  TOpenedFile file = OpenFileForReading(path);
  if (!file.Handle.Valid()) {
    result.Error = file.Error;
    result.Status = file.Error == ENOENT ? TSmallRead::NotFound : TSmallRead::Unreadable;
    return result;
  }
  if (::GetFileType(win::OsHandle(file.Handle.Fd())) != FILE_TYPE_DISK) return {TSmallRead::NotRegular, 0, {}};
  const auto size = FileSize(file.Handle.Fd());
  if (size && static_cast<std::uint64_t>(*size) > maxBytes) return {TSmallRead::TooLarge, 0, {}};
  char chunk[16384];
  for (;;) {
    const std::int64_t n = ReadSome(file.Handle.Fd(), chunk, sizeof chunk);
    if (n < 0) return {TSmallRead::Unreadable, errno, {}};
    if (n == 0) return result;
    result.Bytes.append(chunk, static_cast<std::size_t>(n));
    if (result.Bytes.size() > maxBytes) return {TSmallRead::TooLarge, 0, {}};
  }
}

bool WriteWholeFile(const std::string& path, std::string_view bytes) {
  TOpenedFile file = CreateFileForWriting(path, 0666, false);
  if (!file.Handle.Valid() || !WriteAll(file.Handle.Fd(), bytes.data(), bytes.size())) return false;
  return ::_close(file.Handle.Release()) == 0;
}

// ------------------------------------------------------------------ TMappedBuffer

TMappedBuffer::TMappedBuffer(std::size_t size) {
  if (size == 0) return;
  void* data = ::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (data == nullptr) throw std::bad_alloc();
  FData = static_cast<std::uint8_t*>(data);
  FSize = size;
}

void TMappedBuffer::Release() noexcept {
  if (FData) ::VirtualFree(FData, 0, MEM_RELEASE);
  FData = nullptr;
  FSize = 0;
}

// ------------------------------------------------------------------ TReplacementFile

TReplacementFile::TReplacementFile(const std::string& target) : FTarget(target) {
  TPrivateFile file = CreatePrivateTempFile(FolderOf(target), ".kof~", FTempPath);
  FHandle = std::move(file.Handle);
  FError = file.Error;
  if (!FHandle.Valid()) FTempPath.clear();
}

TReplacementFile::~TReplacementFile() { Discard(); }

bool TReplacementFile::Commit(int fd, unsigned /*mode: the ACL comes from the folder*/) {
  if (FTempPath.empty()) return false;
  // The temporary file was opened with delete sharing, so it can be renamed while open.
  if (!::FlushFileBuffers(win::OsHandle(fd)) ||
      !::MoveFileExW(win::WidePath(FTempPath).c_str(), win::WidePath(FTarget).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    FError = win::LastErrno();
    return false;
  }
  // Without the temporary attribute the replacement is an ordinary file.
  ::SetFileAttributesW(win::WidePath(FTarget).c_str(), FILE_ATTRIBUTE_NORMAL);
  FTempPath.clear();
  return true;
}

void TReplacementFile::Discard() {
  FHandle.Reset();
  if (FTempPath.empty()) return;
  ::DeleteFileW(win::WidePath(FTempPath).c_str());
  FTempPath.clear();
}

}  // namespace kof
