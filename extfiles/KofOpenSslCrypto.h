#pragma once
// The container of external files and its AES-256-GCM engine. A stored file
// is exactly: the signature FA BD EC 13, the ciphertext (as long as the plain
// data), the 16-byte GCM tag. Key, IV and additional data are not stored; they
// come with the record. Files go through buffered streams in 32 KiB chunks.
//
// File operations never leave a partial or unverified output under the target
// name: the output is written to a private temporary file beside it and
// renamed into place only when complete (for decryption, only after the tag
// verified); on any failure or cancel the temporary file is removed and an
// existing target stays as it was.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/KofObjects.h"
#include "platform/KofFileIO.h"
#include "platform/KofFolders.h"
#include "support/SecureString.h"

namespace kof {

// Progress in percent; setting Broken stops the operation.
using TCryptoStatusEvent = std::function<void(int APerc, bool& Broken)>;

inline constexpr std::uint32_t kStoredFileSignature = 0x13ECBDFA;  // FA BD EC 13 on disk
inline constexpr std::size_t kStoredFileHeaderSize = 4;
inline constexpr std::size_t kStoredFileTagSize = 16;
inline constexpr std::size_t kStoredFileOverhead = kStoredFileHeaderSize + kStoredFileTagSize;
inline constexpr std::size_t kCryptoChunkSize = 32768;
inline constexpr std::size_t kCryptoKeyLength = 32;

// The plain size of a stored file of STOREDSIZE bytes.
constexpr std::int64_t PlainSizeOfStoredFile(std::int64_t AStoredSize) {
  return AStoredSize > static_cast<std::int64_t>(kStoredFileOverhead)
             ? AStoredSize - static_cast<std::int64_t>(kStoredFileOverhead)
             : 0;
}

enum TCryptoError : int {
  ceReadError = 100,
  ceWriteError = 101,
  ceOpenError = 102,
  ceCreateError = 103,
  ceIOError = 105,
  ceBroken = 155,
  ceCipherInit = 5001,
  ceEncryptInit = 5002,
  ceDecryptInit = 5003,
  ceIvLength = 5004,
  ceKeyInit = 5005,
  ceAadInit = 5006,
  ceEncryptUpdate = 5007,
  ceDecryptUpdate = 5008,
  ceEncryptFinal = 5009,
  ceOutputBufferSize = 5010,
  ceInputBufferSize = 5011,
  ceGetTag = 5012,
  ceSetTag = 5013,
  ceTagVerify = 5014,
  ceKeyLength = 5015,
  ceFileHeader = 5016,
};

// A failure inside a stream: CODE is 100 (read), 101 (write), 102 (open),
// 103 (create) or 155 (the user broke the operation); OSERROR the errno.
class ECryptoStreamError : public EKofError {
 public:
  ECryptoStreamError(int ACode, int AOsError, const std::string& AFileName);
  const char* ClassName() const override { return "ECryptoStreamError"; }
  int Code() const { return FCode; }
  int OsError() const { return FOsError; }
  const std::string& FileName() const { return FFileName; }

 private:
  int FCode;
  int FOsError;
  std::string FFileName;
};

// What the cipher reads from and writes to. Read and Write raise
// ECryptoStreamError; Write stores everything or raises.
class TKofStream {
 public:
  virtual ~TKofStream() = default;
  virtual std::size_t Read(void* ABuffer, std::size_t ACount) = 0;
  virtual void Write(const void* ABuffer, std::size_t ACount) = 0;
  virtual std::int64_t Seek(std::int64_t AOffset, int AOrigin) = 0;
  virtual std::int64_t Size() = 0;
  std::int64_t Position() { return Seek(0, SEEK_CUR); }
};

class TOpenSSLGcmCrypto;

// A file stream with one large buffer. Small reads and writes go through the
// buffer, larger ones straight to the file; the buffer is filled and written
// out in steps, each step reporting progress to the owner.
class TBufferedFileStreamEx : public TKofStream {
 public:
  // Opens or creates AFILENAME by the open-mode word of TFileStreamEx
  // (fmCreate for a new file, else read access; fmRemoteFile, fmEncrypted).
  // Raises ECryptoStreamError 102 or 103.
  TBufferedFileStreamEx(TOpenSSLGcmCrypto* AOwner, const std::string& AFileName, std::uint32_t Mode,
                        std::size_t BufferSize, std::size_t BufferStep, int AStepCount, TCryptoStatusEvent AStatus,
                        std::int64_t ACopySize);
  // Takes over an open file (a writer when AWRITER), named AFILENAME in messages.
  TBufferedFileStreamEx(TOpenSSLGcmCrypto* AOwner, TFileHandle AHandle, const std::string& AFileName, bool AWriter,
                        std::size_t BufferSize, std::size_t BufferStep, int AStepCount, TCryptoStatusEvent AStatus,
                        std::int64_t ACopySize);
  TBufferedFileStreamEx(const TBufferedFileStreamEx&) = delete;
  TBufferedFileStreamEx& operator=(const TBufferedFileStreamEx&) = delete;
  // Writes out pending data (errors cannot be reported here: call
  // FlushBuffer first where they matter), frees the buffer, closes the file.
  ~TBufferedFileStreamEx() override;

  std::size_t Read(void* ABuffer, std::size_t ACount) override;
  void Write(const void* ABuffer, std::size_t ACount) override;
  std::int64_t Seek(std::int64_t AOffset, int AOrigin) override;
  std::int64_t Size() override;
  void SetSize(std::int64_t ANewSize);
  void FlushBuffer();
  // Forgets pending data without writing it (after a cancel).
  void DropBuffer();

  TOpenSSLGcmCrypto* Owner() const { return FOwner; }
  const TCryptoStatusEvent& Status() const { return FStatus; }
  bool Remote() const { return FRemote; }
  bool Modified() const { return FModified; }
  int LastError() const { return FLastError; }
  bool Reader() const { return FReader; }
  bool Writer() const { return FWriter; }
  int Handle() const { return FHandle.Fd(); }
  const std::string& FileName() const { return FFileName; }

 private:
  void Setup(std::size_t BufferSize, std::size_t BufferStep);
  bool InWindow(std::int64_t APos) const { return APos >= FBufStartPos && APos < FBufEndPos; }
  void PlaceHandle(std::int64_t APos);
  void FillBuffer();
  std::size_t ReadDirect(void* ABuffer, std::size_t ACount);
  void WriteDirect(const void* ABuffer, std::size_t ACount);
  // Large aligned writes skip the file cache where the file system allows it:
  // the content goes to the device once instead of being copied there first.
  void UseUncached(bool AUncached);
  void StepProgress(std::int64_t AFilePos);
  [[noreturn]] void Fail(int ACode, int AOsError);

  TOpenSSLGcmCrypto* FOwner = nullptr;
  TFileHandle FHandle;
  std::string FFileName;
  std::int64_t FFilePos = 0;      // the stream's position
  std::int64_t FHandlePos = 0;    // where the descriptor stands
  std::int64_t FBufStartPos = 0;  // file position of FBuffer[0]
  std::int64_t FBufEndPos = 0;    // end of the valid (or pending) bytes
  TMappedBuffer FBuffer;
  std::size_t FBufferSize = 0;
  bool FModified = false;
  bool FBuffered = true;
  std::size_t FBufferStep = 0;
  int FStepCount = 0;  // kept as given; steps follow from size and step
  TCryptoStatusEvent FStatus;
  int FLastError = 0;
  bool FReader = false;
  bool FWriter = false;
  bool FRemote = false;
  std::int64_t FCopySize = 0;
  int FOwnLastPerc = -1;  // without an owner
  bool FUncached = false;
  bool FUncachedRefused = false;  // the file system cannot
};

class TOpenSSLGcmCrypto {
 public:
  TOpenSSLGcmCrypto();
  TOpenSSLGcmCrypto(const TOpenSSLGcmCrypto&) = delete;
  TOpenSSLGcmCrypto& operator=(const TOpenSSLGcmCrypto&) = delete;
  ~TOpenSSLGcmCrypto();

  // Each returns 0 on success or an error code (also in LastError).
  int Encrypt(const std::string& InputFile, const std::string& OutputFile, std::size_t ABufferSize,
              const TCryptoStatusEvent& AStatus);
  int Encrypt(TKofStream& InputStream, TKofStream& OutputStream, const TCryptoStatusEvent& AStatus);
  // AENCRYPTED: the plain output is for the current user only (mode 0600).
  int Decrypt(const std::string& InputFile, const std::string& OutputFile, std::size_t ABufferSize,
              const TCryptoStatusEvent& AStatus, bool AEncrypted);
  int Decrypt(TKofStream& InputStream, TKofStream& OutputStream, const TCryptoStatusEvent& AStatus);
  // Reads with key material 0, writes with key material 1.
  int Recrypt(const std::string& InputFile, const std::string& OutputFile, std::size_t ABufferSize,
              const TCryptoStatusEvent& AStatus);
  int Recrypt(TKofStream& InputStream, TKofStream& OutputStream, const TCryptoStatusEvent& AStatus);

  // Key material as upper-case hex (two digits a byte). Text that is not an
  // even number of hex digits leaves the item unusable: every operation that
  // needs it then fails with 5015 instead of using a key nobody else has.
  SecureString Key() const { return HexOf(FKey[0]); }
  void SetKey(std::string_view AHex) { SetHex(FKey[0], AHex); }
  SecureString Iv() const { return HexOf(FIv[0]); }
  void SetIv(std::string_view AHex) { SetHex(FIv[0], AHex); }
  SecureString Aad() const { return HexOf(FAad[0]); }
  void SetAad(std::string_view AHex) { SetHex(FAad[0], AHex); }
  SecureString Key2() const { return HexOf(FKey[1]); }
  void SetKey2(std::string_view AHex) { SetHex(FKey[1], AHex); }
  SecureString Iv2() const { return HexOf(FIv[1]); }
  void SetIv2(std::string_view AHex) { SetHex(FIv[1], AHex); }
  SecureString Aad2() const { return HexOf(FAad[1]); }
  void SetAad2(std::string_view AHex) { SetHex(FAad[1], AHex); }
  const SecureBytes& KeyBytes() const { return FKey[0].Bytes; }
  void SetKeyBytes(std::span<const std::uint8_t> ABytes) { SetBytes(FKey[0], ABytes); }
  const SecureBytes& IvBytes() const { return FIv[0].Bytes; }
  void SetIvBytes(std::span<const std::uint8_t> ABytes) { SetBytes(FIv[0], ABytes); }
  SecureString KeyStr() const { return StrOf(FKey[0]); }
  SecureString IvStr() const { return StrOf(FIv[0]); }
  // Wipes every item of both sets.
  void ClearKeys();

  bool IncludedErrNo() const { return FIncludedErrNo; }
  void SetIncludedErrNo(bool AValue) { FIncludedErrNo = AValue; }
  int LastPerc() const { return FLastPerc; }
  void SetLastPerc(int AValue) { FLastPerc = AValue; }
  int LastError() const { return FLastError; }
  const std::string& ErrorMsg() const { return FErrorMsg; }
  std::string LastErrorMsg() const;
  bool CopyingHasBeenInterrupted() const { return FCopyingHasBeenInterrupted; }
  void SetCopyingHasBeenInterrupted(bool AValue) { FCopyingHasBeenInterrupted = AValue; }
  // Forgets the last operation's outcome, so that a step that fails before
  // any cipher operation runs is not taken for that operation's failure.
  void ClearLastError() {
    FLastError = 0;
    FErrorMsg.clear();
    FCopyingHasBeenInterrupted = false;
  }

  // The message of a code with the files named as in the last operation.
  std::string ErrorText(int ACode) const;

 private:
  struct TMaterial {
    SecureBytes Bytes;
    bool Invalid = false;  // the text it was set from was not hex
  };
  enum class TOperation { Encrypt, Decrypt, Recrypt };
  class TCipher;
  struct TFileJob;

  static SecureString HexOf(const TMaterial& AItem);
  static SecureString StrOf(const TMaterial& AItem);
  static void SetHex(TMaterial& AItem, std::string_view AHex);
  static void SetBytes(TMaterial& AItem, std::span<const std::uint8_t> ABytes);
  bool KeySetUsable(int ASet) const;
  bool KeysUsable(TOperation AOp) const;

  int RunFile(TOperation AOp, const std::string& InputFile, const std::string& OutputFile, std::size_t ABufferSize,
              const TCryptoStatusEvent& AStatus, bool AEncrypted);
  int RunFileJob(TFileJob& AJob);
  int RunStreams(TOperation AOp, TKofStream& AInput, TKofStream& AOutput, const TCryptoStatusEvent& AStatus);
  int Guarded(TOperation AOp, const std::function<int()>& AWork);
  // ABLOCKSIZE: how much is read, processed in place and written at a time.
  int EncryptStreams(TKofStream& AInput, TKofStream& AOutput, const TCryptoStatusEvent& AStatus,
                     std::size_t ABlockSize);
  int DecryptStreams(TKofStream& AInput, TKofStream& AOutput, const TCryptoStatusEvent& AStatus,
                     std::size_t ABlockSize);
  int RecryptStreams(TKofStream& AInput, TKofStream& AOutput, const TCryptoStatusEvent& AStatus,
                     std::size_t ABlockSize);
  int OpenStreams(TKofStream& AInput, TKofStream& AOutput, const TCryptoStatusEvent& AStatus, bool ARekey,
                  std::size_t ABlockSize);
  void SetFileNames(TOperation AOp, const std::string& AInput, const std::string& AOutput);
  void AddErrorDetail(const std::string& AFileName, int AOsError);

  friend class TBufferedFileStreamEx;
  friend class TProgressMeter;

  bool FIncludedErrNo = false;
  std::string FEncryptedFile, FDecryptedFile, FInputFile, FOutputFile;
  int FLastPerc = 0;
  int FLastError = 0;
  std::string FErrorMsg;
  bool FCopyingHasBeenInterrupted = false;
  std::string FInputFilename, FOutputFilename;
  std::array<TMaterial, 2> FKey, FIv, FAad;
};

}  // namespace kof
