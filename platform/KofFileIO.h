#pragma once
// Plain file access for content that streams through our own buffers: opening,
// reading and writing whole counts, sizes, the file system a file lies on, and
// replacement files that take a target's place only once they are complete.
// Failures answer an errno value; nothing here throws.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/KofFolders.h"

namespace kof {

struct TOpenedFile {
  TFileHandle Handle;
  int Error = 0;  // errno when Handle is not valid
};

TOpenedFile OpenFileForReading(const std::string& path);
// Creates or truncates PATH for reading and writing; a symbolic link there is not followed.
// WRITETHROUGH: every write reaches the device before it returns.
TOpenedFile CreateFileForWriting(const std::string& path, unsigned mode = 0666, bool writeThrough = false);

enum class TFileAccess { faRead, faWrite, faReadWrite };
// Opens an existing file. KEEPACCESSTIME: reading does not change its access
// time where the system allows it (the file's owner only), else it opens anyway.
TOpenedFile OpenExistingFile(const std::string& path, TFileAccess access, bool writeThrough, bool keepAccessTime);

// A file's last access and last write times, to be put back after the handle changed them.
struct TFileTimes {
  std::int64_t AccessSeconds = 0, AccessNanoseconds = 0, WriteSeconds = 0, WriteNanoseconds = 0;
};
std::optional<TFileTimes> ReadFileTimes(int fd);
void RestoreFileTimes(int fd, const TFileTimes& times);
// A new private file (0600, reading and writing) in the temporary folder that
// no name leads to: content on its way between two transfers waits there, and
// the file is gone once its handle closes, whatever ended the work.
TOpenedFile CreateUnnamedTempFile();
// Opens PATH for appending, created private (0600) when missing, never through
// a link; an existing file must be a regular file and is made private too.
TOpenedFile OpenPrivateFileForAppending(const std::string& path);
// Opens an existing file for writing over its content in place, never through a link.
TOpenedFile OpenFileForOverwriting(const std::string& path);
// The file's modification time in seconds since 1970 (UTC).
std::optional<std::int64_t> FileModifiedUnix(const std::string& path);

// Reads up to COUNT bytes; 0 at the end, -1 with errno on failure. Retries on EINTR.
std::int64_t ReadSome(int fd, void* buffer, std::size_t count);
// Writes all COUNT bytes; false with errno on failure (a full disk included).
bool WriteAll(int fd, const void* buffer, std::size_t count);
// New position, or -1 with errno.
std::int64_t SeekFile(int fd, std::int64_t offset, int whence);
bool TruncateFile(int fd, std::int64_t size);
// Asks the system to start writing a written range to its device now, without
// waiting, so that a later sync has little left to do; errors are ignored.
void StartWriteBack(int fd, std::int64_t offset, std::int64_t length);
// Whether writes to FD bypass the system's file cache (each then needs an
// aligned buffer, offset and length: kUncachedAlignment); false when the file
// system cannot do that, and the writes stay cached.
bool SetUncachedWrites(int fd, bool uncached);
inline constexpr std::size_t kUncachedAlignment = 4096;
std::optional<std::int64_t> FileSize(int fd);
std::optional<std::int64_t> FileSizeOf(const std::string& path);
bool FileExists(const std::string& path);    // a file, not a folder
bool PathExists(const std::string& path);    // anything, a dangling link included
// Removes a file (not a folder); 0, or the errno of the failure.
int RemoveFile(const std::string& path);
// Gives the file FROM the name TO in the same file system, replacing a file
// there; 0, or the errno of the failure.
int RenameFile(const std::string& from, const std::string& to);
bool FolderExists(const std::string& path);
// True when the file lies on a network file system (NFS, SMB/CIFS, AFS, ...).
bool IsOnNetworkFileSystem(int fd);
// The file system's preferred I/O size for the file (at least 512).
std::size_t PreferredBlockSize(int fd);
// What a newly created ordinary file would get: 0666 without the process's umask.
unsigned DefaultFileMode();
// The operating system's text for an errno value.
std::string SystemErrorText(int error);
// A file's whole content; nothing when it cannot be read or is larger than MAXBYTES.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t maxBytes);

enum class TSmallRead { Ok, NotFound, NotRegular, TooLarge, Unreadable };
struct TSmallFile {
  TSmallRead Status = TSmallRead::Ok;
  int Error = 0;  // errno for NotFound and Unreadable
  std::string Bytes;
};
// Reads a regular file of at most MAXBYTES, never more than MAXBYTES + 1 bytes
// of it; a FIFO or device is refused without blocking on it.
TSmallFile ReadSmallRegularFile(const std::string& path, std::size_t maxBytes);
// Makes BYTES the whole content of PATH (created when missing, with the
// default mode); false with errno when it cannot, a failed close included.
bool WriteWholeFile(const std::string& path, std::string_view bytes);

// A large buffer for file content, taken from and given back to the system
// directly: freed, its pages are gone (the system hands out only zeroed
// pages), so no copy of the content stays in the process; kept out of core
// dumps. Its pages are touched only as they are used.
class TMappedBuffer {
 public:
  TMappedBuffer() = default;
  explicit TMappedBuffer(std::size_t size);
  TMappedBuffer(TMappedBuffer&& other) noexcept;
  TMappedBuffer& operator=(TMappedBuffer&& other) noexcept;
  TMappedBuffer(const TMappedBuffer&) = delete;
  TMappedBuffer& operator=(const TMappedBuffer&) = delete;
  ~TMappedBuffer();

  std::uint8_t* data() const { return FData; }
  std::size_t size() const { return FSize; }

 private:
  void Release() noexcept;
  std::uint8_t* FData = nullptr;
  std::size_t FSize = 0;
};

// A new private file (0600, never through a link) beside TARGET under a hidden
// temporary name. It replaces TARGET only through Commit; dropped uncommitted
// (a failure, a cancel, an exception) it is removed, so the target is either
// untouched or wholly new.
class TReplacementFile {
 public:
  explicit TReplacementFile(const std::string& target);
  TReplacementFile(const TReplacementFile&) = delete;
  TReplacementFile& operator=(const TReplacementFile&) = delete;
  ~TReplacementFile();

  bool Valid() const { return !FTempPath.empty(); }
  int Error() const { return FError; }
  // The open descriptor, for the caller's writer to own.
  TFileHandle TakeHandle() { return std::move(FHandle); }
  const std::string& TempPath() const { return FTempPath; }
  const std::string& Target() const { return FTarget; }
  // Makes the content durable and gives it MODE (through FD, which the caller
  // still holds), then renames it over the target. False with Error() set.
  bool Commit(int fd, unsigned mode);
  // Removes the temporary file now.
  void Discard();

 private:
  std::string FTarget;
  std::string FTempPath;
  TFileHandle FHandle;
  int FError = 0;
};

}  // namespace kof
