#include "platform/KofFileIO.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <utility>

namespace kof {
namespace {

constexpr unsigned long kNetworkMagics[] = {
    NFS_SUPER_MAGIC, SMB_SUPER_MAGIC, 0xFF534D42 /* CIFS */, 0xFE534D42 /* SMB2 */, AFS_SUPER_MAGIC,
    CODA_SUPER_MAGIC, NCP_SUPER_MAGIC, V9FS_MAGIC, 0x00C36400 /* Ceph */,
};

// The folder of PATH for a file to be created beside it ("." for a bare name).
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

TOpenedFile Opened(int fd) {
  TOpenedFile file;
  if (fd < 0) file.Error = errno;
  else file.Handle = TFileHandle(fd);
  return file;
}

unsigned ReadUmask() {
  // Asking umask() means setting it, which races with other threads; the
  // kernel reports it read-only here.
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Umask:", 0) == 0) return static_cast<unsigned>(std::strtoul(line.c_str() + 6, nullptr, 8));
  return 0077;  // unknown: the narrowest
}

}  // namespace

TOpenedFile OpenFileForReading(const std::string& path) {
  return Opened(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

TOpenedFile CreateFileForWriting(const std::string& path, unsigned mode, bool writeThrough) {
  const int flags = O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | (writeThrough ? O_DSYNC : 0);
  return Opened(::open(path.c_str(), flags, static_cast<mode_t>(mode)));
}

TOpenedFile OpenExistingFile(const std::string& path, TFileAccess access, bool writeThrough, bool keepAccessTime) {
  int flags = O_CLOEXEC | (writeThrough ? O_DSYNC : 0);
  flags |= access == TFileAccess::faWrite ? O_WRONLY : access == TFileAccess::faReadWrite ? O_RDWR : O_RDONLY;
  if (keepAccessTime) {
    const int fd = ::open(path.c_str(), flags | O_NOATIME);
    // O_NOATIME is for the file's owner only; retry once without it.
    if (fd >= 0 || errno != EPERM) return Opened(fd);
  }
  return Opened(::open(path.c_str(), flags));
}

std::optional<TFileTimes> ReadFileTimes(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  return TFileTimes{st.st_atim.tv_sec, st.st_atim.tv_nsec, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

void RestoreFileTimes(int fd, const TFileTimes& times) {
  const struct timespec values[2] = {{static_cast<time_t>(times.AccessSeconds), static_cast<long>(times.AccessNanoseconds)},
                                     {static_cast<time_t>(times.WriteSeconds), static_cast<long>(times.WriteNanoseconds)}};
  ::futimens(fd, values);
}

TOpenedFile OpenPrivateFileForAppending(const std::string& path) {
  const int flags = O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  TOpenedFile file = Opened(::open(path.c_str(), flags, 0600));
  if (!file.Handle.Valid()) return file;
  struct stat st {};
  if (::fstat(file.Handle.Fd(), &st) != 0) return {TFileHandle(), errno};
  // Opened without blocking, so a FIFO without a reader fails at once; anything
  // but a regular file is refused, and a file others could read is taken back
  // before anything is written to it.
  if (!S_ISREG(st.st_mode)) return {TFileHandle(), EINVAL};
  if ((st.st_mode & 0777) != 0600 && ::fchmod(file.Handle.Fd(), 0600) != 0) return {TFileHandle(), errno};
  return file;
}

TOpenedFile OpenFileForOverwriting(const std::string& path) {
  return Opened(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
}

std::optional<std::int64_t> FileModifiedUnix(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::int64_t>(st.st_mtime);
}

std::int64_t ReadSome(int fd, void* buffer, std::size_t count) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, count);
    if (n >= 0 || errno != EINTR) return static_cast<std::int64_t>(n);
  }
}

bool WriteAll(int fd, const void* buffer, std::size_t count) {
  const auto* data = static_cast<const unsigned char*>(buffer);
  while (count > 0) {
    const ssize_t n = ::write(fd, data, count);
    if (n < 0 && errno == EINTR) continue;
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

std::int64_t SeekFile(int fd, std::int64_t offset, int whence) {
  return static_cast<std::int64_t>(::lseek(fd, static_cast<off_t>(offset), whence));
}

bool TruncateFile(int fd, std::int64_t size) { return ::ftruncate(fd, static_cast<off_t>(size)) == 0; }

void StartWriteBack(int fd, std::int64_t offset, std::int64_t length) {
  ::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
}

bool SetUncachedWrites(int fd, bool uncached) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  const int wanted = uncached ? flags | O_DIRECT : flags & ~O_DIRECT;
  return wanted == flags || ::fcntl(fd, F_SETFL, wanted) == 0;
}

std::optional<std::int64_t> FileSize(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  return static_cast<std::int64_t>(st.st_size);
}

std::optional<std::int64_t> FileSizeOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<std::int64_t>(st.st_size);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

int RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool FolderExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsOnNetworkFileSystem(int fd) {
  struct statfs fs {};
  if (::fstatfs(fd, &fs) != 0) return false;
  const auto type = static_cast<unsigned long>(fs.f_type) & 0xFFFFFFFFul;
  for (unsigned long magic : kNetworkMagics)
    if (type == magic) return true;
  return false;
}

std::size_t PreferredBlockSize(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_blksize < 512) return 512;
  return static_cast<std::size_t>(st.st_blksize);
}

unsigned DefaultFileMode() {
  static const unsigned mask = ReadUmask();
  return 0666u & ~mask;
}

std::string SystemErrorText(int error) {
  char text[256] = {};
  // The GNU form may return a static text instead of filling the buffer.
  return ::strerror_r(error, text, sizeof text);
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t maxBytes) {
  TOpenedFile file = OpenFileForReading(path);
  if (!file.Handle.Valid()) return std::nullopt;
  std::string content;
  char chunk[8192];
  for (;;) {
    const std::int64_t n = ReadSome(file.Handle.Fd(), chunk, sizeof chunk);
    if (n < 0) return std::nullopt;
    if (n == 0) return content;
    content.append(chunk, static_cast<std::size_t>(n));
    if (content.size() > maxBytes) return std::nullopt;
  }
}

TSmallFile ReadSmallRegularFile(const std::string& path, std::size_t maxBytes) {
  TSmallFile result;
  TFileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file.Valid()) {
    result.Error = errno;
    result.Status = errno == ENOENT ? TSmallRead::NotFound : TSmallRead::Unreadable;
    return result;
  }
  struct stat st {};
  if (::fstat(file.Fd(), &st) != 0 || !S_ISREG(st.st_mode)) return {TSmallRead::NotRegular, 0, {}};
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) return {TSmallRead::TooLarge, 0, {}};
  char chunk[16384];
  for (;;) {
    const std::int64_t n = ReadSome(file.Fd(), chunk, sizeof chunk);
    if (n < 0) return {TSmallRead::Unreadable, errno, {}};
    if (n == 0) return result;
    result.Bytes.append(chunk, static_cast<std::size_t>(n));
    if (result.Bytes.size() > maxBytes) return {TSmallRead::TooLarge, 0, {}};
  }
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool WriteWholeFile(const std::string& path, std::string_view bytes) {
  TFileHandle file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!file.Valid() || !WriteAll(file.Fd(), bytes.data(), bytes.size())) return false;
  return ::close(file.Release()) == 0;
}

// ------------------------------------------------------------------ TMappedBuffer

TMappedBuffer::TMappedBuffer(std::size_t size) {
  if (size == 0) return;
  void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (data == MAP_FAILED) throw std::bad_alloc();
  ::madvise(data, size, MADV_DONTDUMP);
  FData = static_cast<std::uint8_t*>(data);
  FSize = size;
}

void TMappedBuffer::Release() noexcept {
  if (FData) ::munmap(FData, FSize);
  FData = nullptr;
  FSize = 0;
}

TOpenedFile CreateUnnamedTempFile() {
  TOpenedFile file;
  const std::string folder = TemporaryFolder();
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC | O_EXCL, 0600);
  if (fd >= 0) {
    file.Handle = TFileHandle(fd);
    return file;
  }
  // A file system without unnamed files: a private one whose name goes at once.
  std::string path;
  TPrivateFile named = CreatePrivateTempFile(folder, ".kof-spool-", path);
  if (!named.Handle.Valid()) {
    file.Error = named.Error;
    return file;
  }
  // Made for writing only: opened again for reading too, and only the file just made is taken.
  const int again = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  file.Error = again < 0 ? errno : 0;
  ::unlink(path.c_str());
  if (again < 0) return file;
  TFileHandle reopened(again);
  struct stat made {}, opened {};
  if (::fstat(named.Handle.Fd(), &made) != 0 || ::fstat(again, &opened) != 0 || made.st_dev != opened.st_dev ||
      made.st_ino != opened.st_ino) {
    file.Error = EEXIST;
    return file;
  }
  file.Handle = std::move(reopened);
  return file;
}

// ------------------------------------------------------------------ TReplacementFile

TReplacementFile::TReplacementFile(const std::string& target) : FTarget(target) {
  TPrivateFile file = CreatePrivateTempFile(FolderOf(target), ".kof~", FTempPath);
  FHandle = std::move(file.Handle);
  FError = file.Error;
  if (!FHandle.Valid()) FTempPath.clear();
}

TReplacementFile::~TReplacementFile() { Discard(); }

bool TReplacementFile::Commit(int fd, unsigned mode) {
  if (FTempPath.empty()) return false;
  // EINVAL: a file system without synchronisation has nothing more to write.
  if ((::fsync(fd) != 0 && errno != EINVAL) || ::fchmod(fd, static_cast<mode_t>(mode)) != 0 ||
      ::rename(FTempPath.c_str(), FTarget.c_str()) != 0) {
    FError = errno;
    return false;
  }
  FTempPath.clear();
  return true;
}

void TReplacementFile::Discard() {
  FHandle.Reset();
  if (FTempPath.empty()) return;
  ::unlink(FTempPath.c_str());
  FTempPath.clear();
}

}  // namespace kof
