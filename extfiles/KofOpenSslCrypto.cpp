#include "extfiles/KofOpenSslCrypto.h"

#include <openssl/evp.h>
#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

#include "model/KofFileStreamEx.h"
#include "platform/KofFileIO.h"
#include "support/KofDebug.h"
#include "support/KofText.h"

namespace kof {

namespace {

// Names for the log, by TOperation.
constexpr const char* kOperationNames[] = {"Encrypt", "Decrypt", "Recrypt"};

// The step a failure code stands for, as the log names it.
const char* FailedStep(int ACode) {
  switch (ACode) {
    case ceFileHeader: return "Check Hdr";
    case ceIvLength: return "Check IV";
    case ceCipherInit: return "Init Ctx";
    case ceEncryptInit:
    case ceDecryptInit: return "Init Op";
    case ceKeyLength: return "Init Key";
    case ceKeyInit:
    case ceAadInit: return "Init Ex";
    case ceEncryptUpdate:
    case ceDecryptUpdate: return "Update";
    case ceOutputBufferSize:
    case ceInputBufferSize: return "Text Key Len";
    case ceEncryptFinal: return "Final";
    case ceGetTag: return "Tag";
    case ceSetTag: return "Tag2";
    case ceTagVerify: return "FinalEx";
    case ceWriteError:
    case ceCreateError: return "Write";
    default: return "Header";
  }
}


constexpr std::uint8_t kSignatureBytes[kStoredFileHeaderSize] = {0xFA, 0xBD, 0xEC, 0x13};
static_assert(kSignatureBytes[0] == (kStoredFileSignature & 0xFF) && kSignatureBytes[3] == kStoredFileSignature >> 24);

constexpr std::size_t kBufferStep = 0x8000;
// The work block of the stream operations, which know no buffer size.
constexpr std::size_t kStreamBlockSize = std::size_t{1} << 20;
constexpr int kStepCount = 100;
// Without a rise in percent the callback still hears from us this often, so a
// cancel is seen and a progress window repainted on a slow share.
constexpr int kChunksPerPulse = 1025;
constexpr auto kPulseInterval = std::chrono::milliseconds(200);

using TTag = std::array<std::uint8_t, kStoredFileTagSize>;

struct TMessage {
  int Code;
  const char* Text;
  enum TFile { None, Input, Output, Encrypted, Decrypted } File;
};

constexpr TMessage kMessages[] = {
    {ceReadError, "Read error (%s)", TMessage::Input},
    {ceWriteError, "Write error/disk full (%s)", TMessage::Output},
    {ceOpenError, "Open file error (%s)", TMessage::Input},
    {ceCreateError, "Create file error (%s)", TMessage::Output},
    {ceIOError, "I/O error (%s)", TMessage::Input},
    {ceBroken, "Broken by user", TMessage::None},
    {ceCipherInit, "Cypher initialization failed", TMessage::None},
    {ceEncryptInit, "Encrypting initialization failed (%s)", TMessage::Encrypted},
    {ceDecryptInit, "Decrypting initialization failed (%s)", TMessage::Decrypted},
    {ceIvLength, "Setting Initialization Vector length failed", TMessage::None},
    {ceKeyInit, "Key initialization failed", TMessage::None},
    {ceAadInit, "Additional authenticated data initialization failed", TMessage::None},
    {ceEncryptUpdate, "Encrypt udate failed (%s)", TMessage::Encrypted},
    {ceDecryptUpdate, "Decrypt update failed (%s)", TMessage::Decrypted},
    {ceEncryptFinal, "End of encrypting failed (%s)", TMessage::Encrypted},
    {ceOutputBufferSize, "Invalid output buffer size", TMessage::None},
    {ceInputBufferSize, "Invalid input buffer size", TMessage::None},
    {ceGetTag, "Getting Tag failed (%s)", TMessage::Encrypted},
    {ceSetTag, "Setting Tag failed (%s)", TMessage::Decrypted},
    {ceTagVerify, "Tag verify failed (%s)", TMessage::Decrypted},
    {ceKeyLength, "Invalid Key lenght", TMessage::None},
    {ceFileHeader, "Invalid file header", TMessage::None},
};

const TMessage* FindMessage(int ACode) {
  for (const TMessage& m : kMessages)
    if (m.Code == ACode) return &m;
  return nullptr;
}

std::size_t RoundUp(std::size_t AValue, std::size_t AMultiple) {
  return AMultiple == 0 ? AValue : (AValue + AMultiple - 1) / AMultiple * AMultiple;
}

// A pointer OpenSSL accepts for zero bytes of additional data.
const std::uint8_t* DataOrEmpty(const SecureBytes& ABytes) {
  static const std::uint8_t kNothing = 0;
  return ABytes.empty() ? &kNothing : ABytes.data();
}

}  // namespace

ECryptoStreamError::ECryptoStreamError(int ACode, int AOsError, const std::string& AFileName)
    : EKofError("Stream error " + std::to_string(ACode)), FCode(ACode), FOsError(AOsError), FFileName(AFileName) {}

// ------------------------------------------------------------ progress of one operation

// Percent of the input written so far, told to the callback when it rises, and
// now and then without a rise.
class TProgressMeter {
 public:
  TProgressMeter(TOpenSSLGcmCrypto& AOwner, const TCryptoStatusEvent& AStatus, std::int64_t AInputSize)
      : FOwner(AOwner), FStatus(AStatus), FInputSize(AInputSize) {}

  void Start() { Tell(0); }
  void Done() {
    FOwner.FLastPerc = 100;
    Tell(100);
  }
  void AfterChunk(std::int64_t AOutputPos) {
    const int perc =
        FInputSize > 0 ? static_cast<int>(std::min<std::int64_t>(100, AOutputPos * 100 / FInputSize)) : 100;
    if (perc > FOwner.FLastPerc) {
      FOwner.FLastPerc = perc;
      Tell(perc);
    } else if (++FQuietChunks >= kChunksPerPulse || std::chrono::steady_clock::now() - FLastTold >= kPulseInterval) {
      Tell(FOwner.FLastPerc);
    }
  }

 private:
  void Tell(int APerc) {
    FQuietChunks = 0;
    FLastTold = std::chrono::steady_clock::now();
    if (!FStatus) return;
    bool broken = false;
    FStatus(APerc, broken);
    if (broken) throw ECryptoStreamError(ceBroken, 0, {});
  }

  TOpenSSLGcmCrypto& FOwner;
  const TCryptoStatusEvent& FStatus;
  std::int64_t FInputSize;
  int FQuietChunks = 0;
  std::chrono::steady_clock::time_point FLastTold = std::chrono::steady_clock::now();
};

// ------------------------------------------------------------ one GCM context

class TOpenSSLGcmCrypto::TCipher {
 public:
  explicit TCipher(bool AEncrypt) : FEncrypt(AEncrypt) {}

  int Init(const TMaterial& AKey, const TMaterial& AIv, const TMaterial& AAad) {
    FCtx.reset(EVP_CIPHER_CTX_new());
    if (!FCtx) return ceCipherInit;
    if (InitEx(EVP_aes_256_gcm(), nullptr, nullptr) != 1) return FEncrypt ? ceEncryptInit : ceDecryptInit;
    if (EVP_CIPHER_CTX_key_length(FCtx.get()) != static_cast<int>(AKey.Bytes.size())) return ceKeyLength;
    // The IV length goes first: GCM takes any non-zero length, not only 12.
    if (EVP_CIPHER_CTX_ctrl(FCtx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(AIv.Bytes.size()), nullptr) != 1)
      return ceIvLength;
    if (InitEx(nullptr, AKey.Bytes.data(), AIv.Bytes.data()) != 1) return ceKeyInit;
    int outLen = 0;
    if (UpdateEx(nullptr, &outLen, DataOrEmpty(AAad.Bytes), AAad.Bytes.size()) != 1) return ceAadInit;
    return 0;
  }

  std::size_t KeyLength() const { return static_cast<std::size_t>(EVP_CIPHER_CTX_key_length(FCtx.get())); }

  // AOUT may be AIN itself: GCM works in place.
  int Update(const std::uint8_t* AIn, std::size_t AInLen, std::uint8_t* AOut, std::size_t AOutCapacity,
             std::size_t& AOutLen) {
    if (AOutCapacity + 1 < AInLen + KeyLength()) return ceOutputBufferSize;
    int outLen = 0;
    if (UpdateEx(AOut, &outLen, AIn, AInLen) != 1) return FEncrypt ? ceEncryptUpdate : ceDecryptUpdate;
    AOutLen = static_cast<std::size_t>(outLen);
    return 0;
  }

  int FinishEncrypt(std::uint8_t* AOut, std::size_t& AOutLen, TTag& ATag) {
    int outLen = 0;
    if (EVP_EncryptFinal_ex(FCtx.get(), AOut, &outLen) != 1) return ceEncryptFinal;
    if (EVP_CIPHER_CTX_ctrl(FCtx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(ATag.size()), ATag.data()) != 1)
      return ceGetTag;
    AOutLen = static_cast<std::size_t>(outLen);
    return 0;
  }

  int FinishDecrypt(TTag& ATag, std::uint8_t* AOut, std::size_t& AOutLen) {
    if (EVP_CIPHER_CTX_ctrl(FCtx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(ATag.size()), ATag.data()) != 1)
      return ceSetTag;
    int outLen = 0;
    if (EVP_DecryptFinal_ex(FCtx.get(), AOut, &outLen) != 1) return ceTagVerify;
    AOutLen = static_cast<std::size_t>(outLen);
    return 0;
  }

 private:
  int InitEx(const EVP_CIPHER* ACipher, const std::uint8_t* AKey, const std::uint8_t* AIv) {
    return FEncrypt ? EVP_EncryptInit_ex(FCtx.get(), ACipher, nullptr, AKey, AIv)
                    : EVP_DecryptInit_ex(FCtx.get(), ACipher, nullptr, AKey, AIv);
  }
  int UpdateEx(std::uint8_t* AOut, int* AOutLen, const std::uint8_t* AIn, std::size_t AInLen) {
    const int inLen = static_cast<int>(AInLen);
    return FEncrypt ? EVP_EncryptUpdate(FCtx.get(), AOut, AOutLen, AIn, inLen)
                    : EVP_DecryptUpdate(FCtx.get(), AOut, AOutLen, AIn, inLen);
  }

  bool FEncrypt;
  // Freeing the context also cleanses the expanded key inside it.
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> FCtx{nullptr, EVP_CIPHER_CTX_free};
};

// ------------------------------------------------------------ TBufferedFileStreamEx

TBufferedFileStreamEx::TBufferedFileStreamEx(TOpenSSLGcmCrypto* AOwner, const std::string& AFileName,
                                             std::uint32_t Mode, std::size_t BufferSize, std::size_t BufferStep,
                                             int AStepCount, TCryptoStatusEvent AStatus, std::int64_t ACopySize)
    : FOwner(AOwner), FFileName(AFileName), FStepCount(AStepCount), FStatus(std::move(AStatus)), FCopySize(ACopySize) {
  FWriter = (Mode & fmCreate) == fmCreate;
  FReader = !FWriter;
  TOpenedFile file = FWriter ? CreateFileForWriting(AFileName, (Mode & fmEncrypted) ? 0600 : 0666)
                             : OpenFileForReading(AFileName);
  if (!file.Handle.Valid()) throw ECryptoStreamError(FWriter ? ceCreateError : ceOpenError, file.Error, AFileName);
  FHandle = std::move(file.Handle);
  FRemote = (Mode & fmRemoteFile) != 0;
  Setup(BufferSize, BufferStep);
}

TBufferedFileStreamEx::TBufferedFileStreamEx(TOpenSSLGcmCrypto* AOwner, TFileHandle AHandle,
                                             const std::string& AFileName, bool AWriter, std::size_t BufferSize,
                                             std::size_t BufferStep, int AStepCount, TCryptoStatusEvent AStatus,
                                             std::int64_t ACopySize)
    : FOwner(AOwner),
      FHandle(std::move(AHandle)),
      FFileName(AFileName),
      FStepCount(AStepCount),
      FStatus(std::move(AStatus)),
      FReader(!AWriter),
      FWriter(AWriter),
      FCopySize(ACopySize) {
  Setup(BufferSize, BufferStep);
}

void TBufferedFileStreamEx::Setup(std::size_t BufferSize, std::size_t BufferStep) {
  FRemote = FRemote || IsOnNetworkFileSystem(FHandle.Fd());
  if (FRemote) {
    // Whole sectors (blocks) per request on a share.
    const std::size_t block = PreferredBlockSize(FHandle.Fd());
    BufferSize = RoundUp(BufferSize, block);
    BufferStep = RoundUp(BufferStep, block);
  }
  FBuffered = BufferSize > 0;
  FBufferSize = BufferSize;
  FBufferStep = BufferStep == 0 || BufferStep > BufferSize ? BufferSize : BufferStep;
  const std::int64_t pos = SeekFile(FHandle.Fd(), 0, SEEK_CUR);
  FFilePos = FHandlePos = FBufStartPos = FBufEndPos = pos > 0 ? pos : 0;
}

TBufferedFileStreamEx::~TBufferedFileStreamEx() {
  try {
    FlushBuffer();
  } catch (...) {  // NOLINT(bugprone-empty-catch): nothing can report it here
  }
}

void TBufferedFileStreamEx::Fail(int ACode, int AOsError) {
  if (AOsError != 0) FLastError = AOsError;
  // What could not be written is lost with the operation; never retry it on close.
  FModified = false;
  FBufStartPos = FBufEndPos = FFilePos;
  throw ECryptoStreamError(ACode, AOsError, FFileName);
}

void TBufferedFileStreamEx::StepProgress(std::int64_t AFilePos) {
  if (FCopySize <= 0) return;
  const int perc = static_cast<int>(std::min<std::int64_t>(100, AFilePos * 100 / FCopySize));
  int& last = FOwner ? FOwner->FLastPerc : FOwnLastPerc;
  if (perc <= last) return;
  last = perc;
  if (!FStatus) return;
  bool broken = false;
  FStatus(perc, broken);
  if (broken) Fail(ceBroken, 0);
}

void TBufferedFileStreamEx::PlaceHandle(std::int64_t APos) {
  if (FHandlePos == APos) return;
  if (SeekFile(FHandle.Fd(), APos, SEEK_SET) < 0) Fail(FWriter ? ceWriteError : ceReadError, errno);
  FHandlePos = APos;
}

void TBufferedFileStreamEx::FillBuffer() {
  if (FBuffer.size() != FBufferSize) FBuffer = TMappedBuffer(FBufferSize);
  FBufStartPos = FBufEndPos = FFilePos;
  PlaceHandle(FFilePos);
  std::size_t filled = 0;
  while (filled < FBufferSize) {
    const std::size_t step = std::min(FBufferStep, FBufferSize - filled);
    const std::int64_t n = ReadSome(FHandle.Fd(), FBuffer.data() + filled, step);
    if (n < 0) Fail(ceReadError, errno);
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
    FHandlePos += n;
    FBufEndPos = FBufStartPos + static_cast<std::int64_t>(filled);
    StepProgress(FBufEndPos);
  }
}

std::size_t TBufferedFileStreamEx::ReadDirect(void* ABuffer, std::size_t ACount) {
  PlaceHandle(FFilePos);
  auto* data = static_cast<std::uint8_t*>(ABuffer);
  std::size_t done = 0;
  while (done < ACount) {
    const std::int64_t n = ReadSome(FHandle.Fd(), data + done, ACount - done);
    if (n < 0) Fail(ceReadError, errno);
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
    FHandlePos += n;
  }
  FFilePos = FHandlePos;
  return done;
}

std::size_t TBufferedFileStreamEx::Read(void* ABuffer, std::size_t ACount) {
  FlushBuffer();
  auto* data = static_cast<std::uint8_t*>(ABuffer);
  std::size_t done = 0;
  if (!FBuffered || ACount >= FBufferSize) {
    // What the window already holds is not read from the file again.
    if (InWindow(FFilePos)) {
      done = std::min(ACount, static_cast<std::size_t>(FBufEndPos - FFilePos));
      std::memcpy(data, FBuffer.data() + (FFilePos - FBufStartPos), done);
      FFilePos += static_cast<std::int64_t>(done);
    }
    return done < ACount ? done + ReadDirect(data + done, ACount - done) : done;
  }
  while (done < ACount) {
    if (!InWindow(FFilePos)) {
      FillBuffer();
      if (FBufEndPos == FBufStartPos) break;  // end of file
    }
    const std::size_t n = std::min(ACount - done, static_cast<std::size_t>(FBufEndPos - FFilePos));
    std::memcpy(data + done, FBuffer.data() + (FFilePos - FBufStartPos), n);
    done += n;
    FFilePos += static_cast<std::int64_t>(n);
  }
  return done;
}

void TBufferedFileStreamEx::UseUncached(bool AUncached) {
  if (AUncached == FUncached || (AUncached && FUncachedRefused)) return;
  if (SetUncachedWrites(FHandle.Fd(), AUncached))
    FUncached = AUncached;
  else if (AUncached)
    FUncachedRefused = true;
}

void TBufferedFileStreamEx::WriteDirect(const void* ABuffer, std::size_t ACount) {
  PlaceHandle(FFilePos);
  const auto aligned = [](std::uint64_t AValue) { return AValue % kUncachedAlignment == 0; };
  UseUncached(aligned(reinterpret_cast<std::uintptr_t>(ABuffer)) && aligned(ACount) &&
              aligned(static_cast<std::uint64_t>(FFilePos)));
  bool written = WriteAll(FHandle.Fd(), ABuffer, ACount);
  if (!written && FUncached && errno == EINVAL) {
    // Refused after all: cached writes, from where the file stands now.
    UseUncached(false);
    FUncachedRefused = true;
    written = SeekFile(FHandle.Fd(), FFilePos, SEEK_SET) == FFilePos && WriteAll(FHandle.Fd(), ABuffer, ACount);
  }
  if (!written) Fail(ceWriteError, errno);
  if (!FUncached) StartWriteBack(FHandle.Fd(), FHandlePos, static_cast<std::int64_t>(ACount));
  FHandlePos += static_cast<std::int64_t>(ACount);
  FFilePos = FHandlePos;
}

void TBufferedFileStreamEx::Write(const void* ABuffer, std::size_t ACount) {
  if (!FModified) FBufStartPos = FBufEndPos = FFilePos;  // a read window is no longer valid
  if (!FBuffered || ACount >= FBufferSize) {
    FlushBuffer();
    WriteDirect(ABuffer, ACount);
    return;
  }
  if (FModified && FFilePos != FBufEndPos) FlushBuffer();
  if (FBuffer.size() != FBufferSize) FBuffer = TMappedBuffer(FBufferSize);
  const auto* data = static_cast<const std::uint8_t*>(ABuffer);
  while (ACount > 0) {
    if (!FModified) FBufStartPos = FBufEndPos = FFilePos;
    const std::size_t used = static_cast<std::size_t>(FBufEndPos - FBufStartPos);
    const std::size_t n = std::min(ACount, FBufferSize - used);
    std::memcpy(FBuffer.data() + used, data, n);
    FModified = true;
    FBufEndPos += static_cast<std::int64_t>(n);
    FFilePos = FBufEndPos;
    data += n;
    ACount -= n;
    if (used + n == FBufferSize) FlushBuffer();
  }
}

void TBufferedFileStreamEx::FlushBuffer() {
  if (!FModified) return;
  UseUncached(false);
  PlaceHandle(FBufStartPos);
  const std::size_t length = static_cast<std::size_t>(FBufEndPos - FBufStartPos);
  for (std::size_t done = 0; done < length;) {
    const std::size_t step = std::min(FBufferStep, length - done);
    if (!WriteAll(FHandle.Fd(), FBuffer.data() + done, step)) Fail(ceWriteError, errno);
    done += step;
    FHandlePos += static_cast<std::int64_t>(step);
    StepProgress(FHandlePos);
  }
  // The output is synced before it takes its name; writing each buffer out
  // to the device meanwhile keeps that sync short and the dirty pages few.
  StartWriteBack(FHandle.Fd(), FBufStartPos, static_cast<std::int64_t>(length));
  FModified = false;
  FBufStartPos = FBufEndPos = FFilePos;
}

void TBufferedFileStreamEx::DropBuffer() {
  FModified = false;
  FBufStartPos = FBufEndPos = FFilePos;
}

std::int64_t TBufferedFileStreamEx::Seek(std::int64_t AOffset, int AOrigin) {
  std::int64_t pos = 0;
  switch (AOrigin) {
    case SEEK_SET:
      pos = AOffset;
      break;
    case SEEK_CUR:
      pos = FFilePos + AOffset;
      break;
    case SEEK_END:
      FlushBuffer();
      pos = Size() + AOffset;
      break;
    default:
      return -1;
  }
  if (pos < 0) return -1;
  if (FModified && (pos < FBufStartPos || pos > FBufEndPos)) FlushBuffer();
  FFilePos = pos;
  return pos;
}

std::int64_t TBufferedFileStreamEx::Size() {
  const std::optional<std::int64_t> size = FileSize(FHandle.Fd());
  if (!size) Fail(ceIOError, errno);
  return FModified ? std::max(*size, FBufEndPos) : *size;
}

void TBufferedFileStreamEx::SetSize(std::int64_t ANewSize) {
  if (FModified && ANewSize < FBufEndPos) FlushBuffer();
  if (!TruncateFile(FHandle.Fd(), ANewSize)) Fail(ceWriteError, errno);
  if (!FModified && FBufEndPos > ANewSize) FBufStartPos = FBufEndPos = FFilePos;
}

// ------------------------------------------------------------ TOpenSSLGcmCrypto

struct TOpenSSLGcmCrypto::TFileJob {
  TOperation Op;
  const std::string& Input;
  const std::string& Output;
  std::size_t BufferSize;
  const TCryptoStatusEvent& Status;
  bool Encrypted;
};

TOpenSSLGcmCrypto::TOpenSSLGcmCrypto() = default;
TOpenSSLGcmCrypto::~TOpenSSLGcmCrypto() = default;

SecureString TOpenSSLGcmCrypto::HexOf(const TMaterial& AItem) {
  SecureString hex(std::string(AItem.Bytes.size() * 2, '0'));
  sodium_bin2hex(hex.Data(), hex.Size() + 1, AItem.Bytes.data(), AItem.Bytes.size());
  for (std::size_t i = 0; i < hex.Size(); ++i)
    if (hex.Data()[i] >= 'a') hex.Data()[i] = static_cast<char>(hex.Data()[i] - 'a' + 'A');
  return hex;
}

SecureString TOpenSSLGcmCrypto::StrOf(const TMaterial& AItem) {
  return SecureString(std::string_view(reinterpret_cast<const char*>(AItem.Bytes.data()), AItem.Bytes.size()));
}

void TOpenSSLGcmCrypto::SetHex(TMaterial& AItem, std::string_view AHex) {
  AItem = TMaterial{};
  if (AHex.empty()) return;
  AItem.Bytes.assign(AHex.size() / 2, 0);
  std::size_t length = 0;
  AItem.Invalid = AHex.size() % 2 != 0 ||
                  sodium_hex2bin(AItem.Bytes.data(), AItem.Bytes.size(), AHex.data(), AHex.size(), nullptr, &length,
                                 nullptr) != 0 ||
                  length != AItem.Bytes.size();
  if (AItem.Invalid) AItem.Bytes.clear();
}

void TOpenSSLGcmCrypto::SetBytes(TMaterial& AItem, std::span<const std::uint8_t> ABytes) {
  AItem.Bytes.assign(ABytes.begin(), ABytes.end());
  AItem.Invalid = false;
}

void TOpenSSLGcmCrypto::ClearKeys() {
  for (auto* items : {&FKey, &FIv, &FAad})
    for (TMaterial& item : *items) item = TMaterial{};
}

bool TOpenSSLGcmCrypto::KeySetUsable(int ASet) const {
  const auto i = static_cast<std::size_t>(ASet);
  return !FKey[i].Invalid && FKey[i].Bytes.size() == kCryptoKeyLength && !FIv[i].Invalid && !FIv[i].Bytes.empty() &&
         !FAad[i].Invalid;
}

bool TOpenSSLGcmCrypto::KeysUsable(TOperation AOp) const {
  return KeySetUsable(0) && (AOp != TOperation::Recrypt || KeySetUsable(1));
}

std::string TOpenSSLGcmCrypto::ErrorText(int ACode) const {
  const TMessage* message = FindMessage(ACode);
  if (!message) return "#" + std::to_string(ACode);
  const std::string* file = nullptr;
  switch (message->File) {
    case TMessage::Input: file = &FInputFile; break;
    case TMessage::Output: file = &FOutputFile; break;
    case TMessage::Encrypted: file = &FEncryptedFile; break;
    case TMessage::Decrypted: file = &FDecryptedFile; break;
    case TMessage::None: break;
  }
  std::string text = message->Text;
  if (file) text = ReplaceAll(text, "%s", *file);
  if (FIncludedErrNo && ACode != ceBroken) text = "#" + std::to_string(ACode) + ": " + text;
  return text;
}

std::string TOpenSSLGcmCrypto::LastErrorMsg() const {
  if (FLastError == 0) return {};
  std::string text = ErrorText(FLastError);
  if (!FErrorMsg.empty()) text += "\r\n\r\n" + FErrorMsg;
  return text;
}

void TOpenSSLGcmCrypto::SetFileNames(TOperation AOp, const std::string& AInput, const std::string& AOutput) {
  FInputFile = FInputFilename = AInput;
  FOutputFile = FOutputFilename = AOutput;
  const bool inputIsPlain = AOp == TOperation::Encrypt;
  FEncryptedFile = inputIsPlain || AOp == TOperation::Recrypt ? AOutput : AInput;
  FDecryptedFile = inputIsPlain || AOp == TOperation::Recrypt ? AInput : AOutput;
}

void TOpenSSLGcmCrypto::AddErrorDetail(const std::string& AFileName, int AOsError) {
  if (AOsError == 0) return;
  if (!FErrorMsg.empty()) FErrorMsg += "\r\n\r\n";
  FErrorMsg += AFileName.empty() ? SystemErrorText(AOsError) : AFileName + ": " + SystemErrorText(AOsError);
}

int TOpenSSLGcmCrypto::Guarded(TOperation AOp, const std::function<int()>& AWork) {
  const int failed = AOp == TOperation::Encrypt ? ceEncryptInit : ceDecryptInit;
  const char* name = kOperationNames[static_cast<int>(AOp)];
  try {
    const int code = AWork();
    if (code != 0) {
      FLastError = code;
      LogErrorBlock(name, FailedStep(code), code, -1, FInputFilename);
    }
    return code;
  } catch (const ECryptoStreamError& e) {
    FLastError = e.Code();
    if (e.Code() == ceBroken) FCopyingHasBeenInterrupted = true;
    // An input that cannot be opened is told by the system text alone.
    else AddErrorDetail(e.Code() == ceOpenError ? std::string() : e.FileName(), e.OsError());
    if (e.Code() != ceBroken) LogErrorBlock(name, FailedStep(e.Code()), e.Code(), e.OsError() > 0 ? e.OsError() : -1, e.FileName());
  } catch (...) {
    FLastError = ceIOError;
    LogErrorBlock(name, "Write", ceIOError, -1, FInputFilename);
  }
  return failed;
}

int TOpenSSLGcmCrypto::RunStreams(TOperation AOp, TKofStream& AInput, TKofStream& AOutput,
                                  const TCryptoStatusEvent& AStatus) {
  FCopyingHasBeenInterrupted = false;
  FLastError = 0;
  FErrorMsg.clear();
  FLastPerc = 0;
  SetFileNames(AOp, {}, {});
  return Guarded(AOp, [&] {
    switch (AOp) {
      case TOperation::Encrypt: return EncryptStreams(AInput, AOutput, AStatus, kStreamBlockSize);
      case TOperation::Decrypt: return DecryptStreams(AInput, AOutput, AStatus, kStreamBlockSize);
      case TOperation::Recrypt: break;
    }
    return RecryptStreams(AInput, AOutput, AStatus, kStreamBlockSize);
  });
}

int TOpenSSLGcmCrypto::RunFile(TOperation AOp, const std::string& InputFile, const std::string& OutputFile,
                               std::size_t ABufferSize, const TCryptoStatusEvent& AStatus, bool AEncrypted) {
  FCopyingHasBeenInterrupted = false;
  FLastError = 0;
  FErrorMsg.clear();
  FLastPerc = 0;
  SetFileNames(AOp, InputFile, OutputFile);
  LogEntryFormat(false, "%s \"%s\" --> \"%s\"", kOperationNames[static_cast<int>(AOp)], InputFile.c_str(),
                 OutputFile.c_str());
  if (!KeysUsable(AOp)) {
    LogErrorBlock(kOperationNames[static_cast<int>(AOp)], FailedStep(ceKeyLength), ceKeyLength, -1, InputFile);
    return FLastError = ceKeyLength;
  }
  TFileJob job{AOp, InputFile, OutputFile, ABufferSize, AStatus, AEncrypted};
  return Guarded(AOp, [&] { return RunFileJob(job); });
}

int TOpenSSLGcmCrypto::RunFileJob(TFileJob& AJob) {
  const char* name = kOperationNames[static_cast<int>(AJob.Op)];
  LogEntryFormat(false, "%s: Open \"%s\"; mode = %x ", name, AJob.Input.c_str(), fmOpenRead);
  TOpenedFile in = OpenFileForReading(AJob.Input);
  if (!in.Handle.Valid()) throw ECryptoStreamError(ceOpenError, in.Error, AJob.Input);
  const std::int64_t size = FileSize(in.Handle.Fd()).value_or(0);
  TBufferedFileStreamEx input(this, std::move(in.Handle), AJob.Input, false, AJob.BufferSize, kBufferStep, kStepCount,
                              AJob.Status, size);
  // The output takes the target's name only once it is complete (and, when
  // decrypting, verified); until then the target keeps what it had.
  const bool privateOutput = AJob.Op == TOperation::Decrypt && AJob.Encrypted;
  LogEntryFormat(false, "%s: Create \"%s\"; mode = %x ", name, AJob.Output.c_str(),
                 fmCreate | (privateOutput ? fmEncrypted : 0));
  TReplacementFile pending(AJob.Output);
  if (!pending.Valid()) throw ECryptoStreamError(ceCreateError, pending.Error(), AJob.Output);
  TBufferedFileStreamEx output(this, pending.TakeHandle(), AJob.Output, true, AJob.BufferSize, kBufferStep,
                               kStepCount, AJob.Status, size);
  const unsigned mode = privateOutput ? 0600 : DefaultFileMode();
  try {
    int code = 0;
    switch (AJob.Op) {
      case TOperation::Encrypt: code = EncryptStreams(input, output, AJob.Status, AJob.BufferSize); break;
      case TOperation::Decrypt: code = DecryptStreams(input, output, AJob.Status, AJob.BufferSize); break;
      case TOperation::Recrypt: code = RecryptStreams(input, output, AJob.Status, AJob.BufferSize); break;
    }
    if (code != 0) {
      output.DropBuffer();
      return code;
    }
    output.FlushBuffer();
    if (!pending.Commit(output.Handle(), mode)) throw ECryptoStreamError(ceWriteError, pending.Error(), AJob.Output);
    return 0;
  } catch (...) {
    output.DropBuffer();
    throw;
  }
}

int TOpenSSLGcmCrypto::Encrypt(const std::string& InputFile, const std::string& OutputFile, std::size_t ABufferSize,
                               const TCryptoStatusEvent& AStatus) {
  return RunFile(TOperation::Encrypt, InputFile, OutputFile, ABufferSize, AStatus, false);
}

int TOpenSSLGcmCrypto::Encrypt(TKofStream& InputStream, TKofStream& OutputStream, const TCryptoStatusEvent& AStatus) {
  return RunStreams(TOperation::Encrypt, InputStream, OutputStream, AStatus);
}

int TOpenSSLGcmCrypto::Decrypt(const std::string& InputFile, const std::string& OutputFile, std::size_t ABufferSize,
                               const TCryptoStatusEvent& AStatus, bool AEncrypted) {
  return RunFile(TOperation::Decrypt, InputFile, OutputFile, ABufferSize, AStatus, AEncrypted);
}

int TOpenSSLGcmCrypto::Decrypt(TKofStream& InputStream, TKofStream& OutputStream, const TCryptoStatusEvent& AStatus) {
  return RunStreams(TOperation::Decrypt, InputStream, OutputStream, AStatus);
}

int TOpenSSLGcmCrypto::Recrypt(const std::string& InputFile, const std::string& OutputFile, std::size_t ABufferSize,
                               const TCryptoStatusEvent& AStatus) {
  return RunFile(TOperation::Recrypt, InputFile, OutputFile, ABufferSize, AStatus, false);
}

int TOpenSSLGcmCrypto::Recrypt(TKofStream& InputStream, TKofStream& OutputStream, const TCryptoStatusEvent& AStatus) {
  return RunStreams(TOperation::Recrypt, InputStream, OutputStream, AStatus);
}

// ------------------------------------------------------------ the three stream operations

namespace {

bool ReadSignature(TKofStream& AInput) {
  std::uint8_t header[kStoredFileHeaderSize] = {};
  return AInput.Read(header, sizeof header) == sizeof header && std::memcmp(header, kSignatureBytes, sizeof header) == 0;
}

// Whole chunks; the slack lets a chunk at the block's end meet the cipher's
// output-size check in place. A block is written whole (the signature, when
// it comes first, in its first bytes), so that every write but the last starts
// and ends on a multiple of the block size.
class TWorkBlock {
 public:
  explicit TWorkBlock(std::size_t ASize)
      : FSize(RoundUp(std::clamp(ASize, kCryptoChunkSize, kMaxWorkBlock), kCryptoChunkSize)),
        FBuffer(FSize + kCryptoKeyLength) {}
  std::size_t Size() const { return FSize; }
  std::uint8_t* At(std::size_t AOffset) const { return FBuffer.data() + AOffset; }
  std::size_t RoomAt(std::size_t AOffset) const { return FBuffer.size() - AOffset; }
  // Up to AMAX bytes of the input from AFROM on, fewer only at its end.
  std::size_t Fill(TKofStream& AInput, std::size_t AFrom, std::size_t AMax) const {
    std::size_t got = 0;
    for (std::size_t n; got < AMax && (n = AInput.Read(At(AFrom + got), AMax - got)) > 0;) got += n;
    return got;
  }

 private:
  static constexpr std::size_t kMaxWorkBlock = std::size_t{64} << 20;
  std::size_t FSize;
  TMappedBuffer FBuffer;
};

// The GOT bytes read into the block after its first AHEAD bytes, chunk by
// chunk: ASTEP(at, n, out) processes N bytes at AT in place and advances OUT
// (which starts at AHEAD) by what came out. Each chunk is logged (its end in
// the input: AREADTO is where the block's read ended) and counted for progress
// (AWRITTEN: the output written before the block).
template <class TStep>
int WalkChunks(std::size_t AHead, std::size_t AGot, std::int64_t AReadTo, const char* AOperation, const char* AFile,
               TProgressMeter& AMeter, std::int64_t AWritten, std::size_t& AOut, TStep AStep) {
  AOut = AHead;
  for (std::size_t at = AHead; at < AHead + AGot; at += kCryptoChunkSize) {
    const std::size_t n = std::min(kCryptoChunkSize, AHead + AGot - at);
    LogEntryFormat(false, "%s Text \"%s\"; pos = %llx; size = %zu", AOperation, AFile,
                   static_cast<unsigned long long>(AReadTo - static_cast<std::int64_t>(AHead + AGot - at - n)), n);
    if (const int code = AStep(at, n, AOut)) return code;
    AMeter.AfterChunk(AWritten + static_cast<std::int64_t>(AOut));
  }
  return 0;
}

}  // namespace

int TOpenSSLGcmCrypto::EncryptStreams(TKofStream& AInput, TKofStream& AOutput, const TCryptoStatusEvent& AStatus,
                                      std::size_t ABlockSize) {
  if (!KeySetUsable(0)) return ceKeyLength;
  TCipher cipher(true);
  const char* file = FInputFilename.c_str();
  LogEntryFormat(false, "Initialize encrypt \"%s\"", file);
  if (const int code = cipher.Init(FKey[0], FIv[0], FAad[0])) return code;
  TProgressMeter meter(*this, AStatus, AInput.Size());
  meter.Start();
  // Each block is read once, sealed where it lies and written from there.
  const TWorkBlock block(ABlockSize);
  std::memcpy(block.At(0), kSignatureBytes, sizeof kSignatureBytes);
  std::size_t head = sizeof kSignatureBytes;
  std::int64_t written = AOutput.Position();
  for (bool more = true; more;) {
    const std::size_t got = block.Fill(AInput, head, block.Size() - head);
    more = got == block.Size() - head;
    std::size_t sealed = 0;
    const int code = WalkChunks(head, got, AInput.Position(), "Encrypt", file, meter, written, sealed,
                                [&](std::size_t at, std::size_t n, std::size_t& out) {
                                  std::size_t outLen = 0;
                                  const int failed =
                                      cipher.Update(block.At(at), n, block.At(out), block.RoomAt(out), outLen);
                                  out += outLen;
                                  return failed;
                                });
    if (code != 0) return code;
    if (sealed > 0) AOutput.Write(block.At(0), sealed);
    written += static_cast<std::int64_t>(sealed);
    head = 0;
  }
  TTag tag{};
  LogEntryFormat(false, "Encrypt Final \"%s\"", file);
  std::size_t outLen = 0;
  if (const int code = cipher.FinishEncrypt(block.At(0), outLen, tag)) return code;
  if (outLen > 0) AOutput.Write(block.At(0), outLen);
  meter.Done();
  AOutput.Write(tag.data(), tag.size());
  return 0;
}

int TOpenSSLGcmCrypto::DecryptStreams(TKofStream& AInput, TKofStream& AOutput, const TCryptoStatusEvent& AStatus,
                                      std::size_t ABlockSize) {
  return OpenStreams(AInput, AOutput, AStatus, false, ABlockSize);
}

int TOpenSSLGcmCrypto::RecryptStreams(TKofStream& AInput, TKofStream& AOutput, const TCryptoStatusEvent& AStatus,
                                      std::size_t ABlockSize) {
  return OpenStreams(AInput, AOutput, AStatus, true, ABlockSize);
}

// Decrypts with set 0; when re-keying, every plain chunk is sealed again with
// set 1 where it lies, so no plain copy is ever written.
int TOpenSSLGcmCrypto::OpenStreams(TKofStream& AInput, TKofStream& AOutput, const TCryptoStatusEvent& AStatus,
                                   bool ARekey, std::size_t ABlockSize) {
  if (!KeySetUsable(0) || (ARekey && !KeySetUsable(1))) return ceKeyLength;
  if (!ReadSignature(AInput)) return ceFileHeader;
  TCipher opener(false), sealer(true);
  const char* file = FInputFilename.c_str();
  LogEntryFormat(false, "Initialize decrypt \"%s\"", file);
  if (const int code = opener.Init(FKey[0], FIv[0], FAad[0])) return code;
  if (ARekey)
    if (const int code = sealer.Init(FKey[1], FIv[1], FAad[1])) return code;
  const std::int64_t size = AInput.Size();
  TProgressMeter meter(*this, AStatus, size);
  meter.Start();
  std::int64_t left = size - AInput.Position() - static_cast<std::int64_t>(kStoredFileTagSize);
  if (left < 0) return ceDecryptInit;
  const TWorkBlock block(ABlockSize);
  std::size_t head = 0;
  if (ARekey) {
    std::memcpy(block.At(0), kSignatureBytes, sizeof kSignatureBytes);
    head = sizeof kSignatureBytes;
  }
  std::int64_t written = AOutput.Position();
  // Opens (and when re-keying seals again) N bytes at AT in place; OUT grows by what came out.
  const auto process = [&](std::size_t at, std::size_t n, std::size_t& out) {
    std::size_t plainLen = 0;
    if (const int code = opener.Update(block.At(at), n, block.At(out), block.RoomAt(out), plainLen)) return code;
    if (ARekey) {
      std::size_t sealedLen = 0;
      if (const int code = sealer.Update(block.At(out), plainLen, block.At(out), block.RoomAt(out), sealedLen))
        return code;
      plainLen = sealedLen;
    }
    out += plainLen;
    return 0;
  };
  do {
    const std::size_t got = block.Fill(
        AInput, head, static_cast<std::size_t>(std::min<std::int64_t>(left, block.Size() - head)));
    left -= static_cast<std::int64_t>(got);
    std::size_t out = 0;
    if (const int code = WalkChunks(head, got, AInput.Position(), "Decrypt", file, meter, written, out, process))
      return code;
    if (out > 0) AOutput.Write(block.At(0), out);
    written += static_cast<std::int64_t>(out);
    head = 0;
    if (got == 0) break;  // shorter than it said: the tag read below fails
  } while (left > 0);
  TTag tag{};
  LogEntryFormat(false, "Decrypt Final \"%s\"", file);
  if (AInput.Read(tag.data(), tag.size()) != tag.size()) return ceTagVerify;
  std::size_t out = 0;
  if (const int code = opener.FinishDecrypt(tag, block.At(0), out)) return code;
  if (out > 0 && ARekey) {
    std::size_t sealedLen = 0;
    if (const int code = sealer.Update(block.At(0), out, block.At(0), block.RoomAt(0), sealedLen)) return code;
    out = sealedLen;
  }
  if (out > 0) AOutput.Write(block.At(0), out);
  if (!ARekey) {
    meter.Done();
    return 0;
  }
  if (const int code = sealer.FinishEncrypt(block.At(0), out, tag)) return code;
  if (out > 0) AOutput.Write(block.At(0), out);
  meter.Done();
  AOutput.Write(tag.data(), tag.size());
  return 0;
}

}  // namespace kof
