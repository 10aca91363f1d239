#pragma once
// The request object of one server client: one HTTP/1.1 keep-alive
// connection, the server session's cookies, the access code, and every body
// format the server expects. It never interprets the HTTP status.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "client/KofOpenSSL.h"
#include "client/KofTypes.h"
#include "support/SecureString.h"

namespace kof {

class TRESTsend;

// Why an exchange failed, as LastError gives it; the values are the HTTP
// engine's own numbers, which the client keeps as its error code.
enum TRequestFailure : int {
  rfUnsupportedProtocol = 1,
  rfFailedInit = 2,
  rfCouldNotConnect = 7,
  rfTimedOut = 28,
  // The server's certificate was refused; SSL() says why (NotVerified,
  // WhyNotVerified, PinRefused).
  rfNotVerified = 60,
  rfTooLarge = 63,
  // A file transfer's own source or sink stopped it (a cancel, a local read or write error).
  rfStopped = 42,
};

// Transfer progress: Writing is true for bytes going to the server.
using THookMonitor = std::function<void(TRESTsend& Sender, bool Writing, const char* Buffer, std::size_t Len)>;

// File content read in pieces from where it lies, so that no transfer holds a
// whole file: Read fills up to Len bytes from Offset and answers how many (0
// only past the end), or -1 to stop the transfer.
struct TUploadSource {
  std::int64_t Size = 0;
  std::function<std::int64_t(std::int64_t Offset, char* Buffer, std::size_t Len)> Read;
};

// Where a downloaded file goes as it arrives. Begin runs before each attempt
// (a request repeated after a relogin starts over); Write takes each piece of
// an answer with status 200. False from either stops the transfer.
struct TDownloadSink {
  std::function<bool()> Begin;
  std::function<bool(const char* Data, std::size_t Len)> Write;
};

// Blanks, control bytes, "#" and 0x7F-0xFF become %XX; everything else,
// including "%", "?", "&" and "=", passes unchanged.
std::string EncodeRequestURL(std::string_view AURL);
// name, separator (plus a blank after ':'), value; pairs joined by "&".
SecureString BuildFormBody(const TBodyStringList& AList, bool AEncodeValues);

class TRESTsend {
 public:
  static constexpr std::size_t kMaxAnswerSize = 64u << 20;
  static constexpr int kDefaultTimeout = 90000;
  static constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; Synapse)";
  // Slower than any real link. A request may take the read timeout plus its
  // size at this rate, and an answer that has been arriving for longer than
  // the read timeout must keep this rate on average.
  static constexpr std::int64_t kMinTransferRate = 4096;  // bytes a second

  TRESTsend(TKofClientBase* AOwner, const SecureString& AAccessCode);
  ~TRESTsend();
  TRESTsend(const TRESTsend&) = delete;
  TRESTsend& operator=(const TRESTsend&) = delete;

  // Each returns true when an answer arrived, whatever its status; the body
  // goes to AResponse (when given), replacing what it held.
  [[nodiscard]] bool Get(const std::string& URI, std::string* AResponse, bool UseAccessCode = true);
  [[nodiscard]] bool GetPage(const std::string& URI);  // the body stays in Document()
  // A download requested by a form: the content of a 200 answer goes to Sink,
  // other answers' bodies to AResponse.
  [[nodiscard]] bool GetFileTo(const std::string& URI, const TBodyStringList& Body, const TDownloadSink& Sink,
                               std::string* AResponse);
  [[nodiscard]] bool Post(const std::string& URI, const std::string* Body, std::string* AResponse);
  [[nodiscard]] bool Post(const std::string& URI, const TBodyStringList& Body, std::string* AResponse);
  [[nodiscard]] bool PostCert(const std::string& URI, const TBodyStringList& List, std::string* AResponse);
  // A file as multipart form data, its bytes read from Source while they are sent.
  [[nodiscard]] bool PostFileFrom(const std::string& URI, std::string_view FieldName, std::string_view FileName,
                                  const TUploadSource& Source, std::string* AResponse);
  [[nodiscard]] bool Put(const std::string& URI, const std::string* Body, std::string* AResponse,
                         bool UseAccessCode = true);
  [[nodiscard]] bool Delete(const std::string& URI, std::string* AResponse);
  [[nodiscard]] bool Delete(const std::string& URI, const std::string& Body, std::string* AResponse);
  [[nodiscard]] bool Options(const std::string& URI, const TBodyStringList* Body, std::string* AResponse, bool PostUrl);

  // The same, prepared as if client encryption were off.
  [[nodiscard]] bool OpenGet(const std::string& URI, std::string* AResponse, bool UseAccessCode = true);
  [[nodiscard]] bool OpenGetPage(const std::string& URI);
  [[nodiscard]] bool OpenPost(const std::string& URI, const std::string* Body, std::string* AResponse);
  [[nodiscard]] bool OpenPost(const std::string& URI, const TBodyStringList& Body, std::string* AResponse);
  [[nodiscard]] bool OpenPut(const std::string& URI, const std::string* Body, std::string* AResponse,
                             bool UseAccessCode = true);
  [[nodiscard]] bool OpenDelete(const std::string& URI, const std::string& Body, std::string* AResponse);
  [[nodiscard]] bool OpenOptions(const std::string& URI, const TBodyStringList* Body, std::string* AResponse,
                                 bool PostUrl);

  TKofClientBase* Owner() const { return FOwner; }
  const SecureString& AccessCode() const { return FAccessCode; }
  void SetAccessCode(std::string_view AValue) { FAccessCode.Assign(AValue); }
  void ClearAccessCode() { FAccessCode.Clear(); }
  bool TextResponse() const { return FTextResponse; }
  void SetTextResponse(bool AValue) { FTextResponse = AValue; }
  // Longest wait for the next byte, in ms; it also sets the request's
  // overall deadline (see kMinTransferRate). 0: no limits.
  int Timeout() const { return FTimeout; }
  void SetTimeout(int AValue) { FTimeout = AValue; }
  int ConnectionTimeout() const { return FConnectionTimeout; }
  void SetConnectionTimeout(int AValue) { FConnectionTimeout = AValue; }
  void SetOnMonitor(THookMonitor AValue) { FOnMonitor = std::move(AValue); }
  TKofOpenSSL& SSL() { return FSSL; }
  void RestoreTraffic();

  int ResultCode() const { return FResultCode; }
  const std::string& ResultString() const { return FResultString; }
  // Content type of the last answer.
  const std::string& MimeType() const { return FMimeType; }
  // A TRequestFailure after a failed exchange, 0 after one that worked.
  int LastError() const { return FLastError; }
  const std::string& LastErrorDesc() const { return FLastErrorDesc; }
  const std::string& Document() const { return FDocument; }
  // Connections opened so far (each a TLS handshake on https).
  long ConnectionCount() const { return FConnectionCount; }

 private:
  // Bytes, then (for a streamed file) the source's content and Tail.
  struct TBody {
    SecureString Bytes;
    std::string ContentType;
    const TUploadSource* Source = nullptr;
    std::string Tail = {};
    std::int64_t Size() const;
  };
  // What a request is prepared with.
  struct TPrepare {
    bool UseAccessCode = true;
    bool UseEncryption = true;
    bool HtmlAccept = false;
    bool EncryptionOff = false;  // the Open variants: as if client encryption were off
  };
  enum class TStall { stNone, stSilence, stDeadline, stTooSlow };
  // The HTTP engine's handle and callbacks, kept out of this header.
  struct TEngine;

  void PrepareRequest(std::string* AResponse, const TPrepare& APrepare);
  bool Execute(const char* AMethod, const std::string& URI, const TBody* ABody, std::string* AResponse,
               const TDownloadSink* ASink = nullptr);
  TBody MultipartFile(std::string_view FieldName, std::string_view FileName) const;
  // One piece of the body from the current position; -1 when the source failed.
  std::int64_t ReadBody(char* AData, std::size_t ALen);
  bool Fail(int ACode, std::string ADesc);
  std::string StallText() const;
  // How the transfer fares; stNone while it may go on.
  TStall CheckProgress(std::int64_t AExpected, std::int64_t AMoved);
  void StoreCookie(std::string_view ALine);
  void ParseHeaderLine(std::string_view ALine);
  bool SendGet(const std::string& URI, std::string* AResponse, const TPrepare& APrepare);
  bool SendPostBytes(const std::string& URI, const std::string* Body, std::string* AResponse, const TPrepare& APrepare);
  bool SendPostForm(const std::string& URI, const TBodyStringList& Body, std::string* AResponse,
                    const TPrepare& APrepare);
  bool SendPut(const std::string& URI, const std::string* Body, std::string* AResponse, const TPrepare& APrepare);
  bool SendDelete(const std::string& URI, const std::string& Body, std::string* AResponse, const TPrepare& APrepare);
  bool SendOptions(const std::string& URI, const TBodyStringList* Body, std::string* AResponse,
                   const TPrepare& APrepare);

  TKofClientBase* FOwner;
  SecureString FAccessCode;
  bool FTextResponse = false;
  int FStoreTimeout = 0;
  int FTimeout = kDefaultTimeout;
  int FConnectionTimeout = 0;
  THookMonitor FOnMonitor;
  TKofOpenSSL FSSL;
  std::unique_ptr<TEngine> FEngine;
  TBodyStringList FHeaders{':'};
  std::vector<std::pair<std::string, SecureString>> FCookies;

  // State of the running transfer.
  const TBody* FUpload = nullptr;
  std::int64_t FUploadPos = 0;
  const TDownloadSink* FSink = nullptr;
  bool FStopped = false;
  bool FTooLarge = false;
  TStall FStall = TStall::stNone;
  std::int64_t FLastProgress = -1;
  std::int64_t FReceived = 0;
  std::chrono::steady_clock::time_point FStart;
  std::chrono::steady_clock::time_point FLastActivity;
  std::chrono::steady_clock::time_point FFirstByte;

  std::string FDocument;
  int FResultCode = 0;
  std::string FResultString;
  std::string FMimeType;
  int FLastError = 0;
  std::string FLastErrorDesc;
  long FConnectionCount = 0;
};

}  // namespace kof
