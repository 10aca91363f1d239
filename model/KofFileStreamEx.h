#pragma once
// A file stream over an operating-system handle, with the extended open-mode
// word of the record classes: create, access and sharing bits as usual, plus
// write-through, unbuffered, keep-times and file-encryption bits.
#include <cstdint>
#include <string>


#include "model/KofObjects.h"
#include "platform/KofFileIO.h"

namespace kof {

constexpr std::uint32_t fmOpenRead = 0x0000;
constexpr std::uint32_t fmOpenWrite = 0x0001;
constexpr std::uint32_t fmOpenReadWrite = 0x0002;
constexpr std::uint32_t fmShareExclusive = 0x0010;
constexpr std::uint32_t fmShareDenyWrite = 0x0020;
constexpr std::uint32_t fmShareDenyRead = 0x0030;
constexpr std::uint32_t fmShareDenyNone = 0x0040;
constexpr std::uint32_t fmCreate = 0xFF00;
constexpr std::uint32_t fmRemoteFile = 1u << 16;   // write-through
constexpr std::uint32_t fmUnbuffered = 1u << 17;   // also measures bytes per sector
constexpr std::uint32_t fmKeepFileTimes = 1u << 18;  // open only
constexpr std::uint32_t fmEncrypted = 1u << 20;    // create only

class EFCreateError : public EKofError {
 public:
  using EKofError::EKofError;
  const char* ClassName() const override { return "EFCreateError"; }
};
class EFOpenError : public EKofError {
 public:
  using EKofError::EKofError;
  const char* ClassName() const override { return "EFOpenError"; }
};
class EWriteError : public EKofError {
 public:
  explicit EWriteError(const std::string& message, int osError = 0) : EKofError(message), FOsError(osError) {}
  const char* ClassName() const override { return "EWriteError"; }
  int OsError() const { return FOsError; }  // errno of the failed write; 0 when none

 private:
  int FOsError;
};

class TFileStreamEx {
 public:
  // Raises EFCreateError "Cannot create file %s" or EFOpenError "Cannot open file %s".
  TFileStreamEx(const std::string& AFileName, std::uint32_t AMode);
  TFileStreamEx(const TFileStreamEx&) = delete;
  TFileStreamEx& operator=(const TFileStreamEx&) = delete;
  ~TFileStreamEx();

  // Bytes read; 0 at the end. Raises EKofError on a read failure.
  std::size_t Read(void* ABuffer, std::size_t ACount);
  // Writes everything or raises EWriteError (errno in Error()).
  void WriteBuffer(const void* ABuffer, std::size_t ACount);
  std::int64_t Seek(std::int64_t AOffset, int AOrigin);
  std::int64_t Size() const;

  bool Remote() const { return FRemoteFile; }
  int BytesPerSector() const { return FBytesPerSector; }
  const std::string& FileName() const { return FFileName; }
  int Handle() const { return FHandle.Fd(); }

 private:
  bool FRemoteFile = false;
  int FBytesPerSector = 512;
  std::string FFileName;
  TFileHandle FHandle;
  // The file's times at opening, put back on close (keep-times bit).
  std::optional<TFileTimes> FTimes;
};

}  // namespace kof
