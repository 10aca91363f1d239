#pragma once
// The request object of one server client: one HTTP/1.1 keep-alive
// connection, the server session's cookies, the access code, and every body
// format the server expects. It never interprets the HTTP status.
#include <curl/curl.h>

#include <chrono>
#include <cstddef>
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

// Transfer progress: Writing is true for bytes going to the server.
using THookMonitor = std::function<void(TRESTsend& Sender, bool Writing, const char* Buffer, std::size_t Len)>;

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

  TRESTsend(TKofClientBase* AOwner, const SecureString& AAccessCode);
  ~TRESTsend();
  TRESTsend(const TRESTsend&) = delete;
  TRESTsend& operator=(const TRESTsend&) = delete;

  // Each returns true when an answer arrived, whatever its status; the body
  // goes to AResponse (when given), replacing what it held.
  bool Get(const std::string& URI, std::string* AResponse, bool UseAccessCode = true);
  bool GetPage(const std::string& URI);  // the body stays in Document()
  bool GetFile(const std::string& URI, const TBodyStringList& Body, std::string* AResponse);
  bool Post(const std::string& URI, const std::string* Body, std::string* AResponse);
  bool Post(const std::string& URI, const TBodyStringList& Body, std::string* AResponse);
  bool PostCert(const std::string& URI, const TBodyStringList& List, std::string* AResponse);
  bool PostFile(const std::string& URI, std::string_view FieldName, std::string_view FileName, std::string_view Data,
                std::string* AResponse);
  bool Put(const std::string& URI, const std::string* Body, std::string* AResponse, bool UseAccessCode = true);
  bool Delete(const std::string& URI, std::string* AResponse);
  bool Delete(const std::string& URI, const std::string& Body, std::string* AResponse);
  bool Options(const std::string& URI, const TBodyStringList* Body, std::string* AResponse, bool PostUrl);

  // The same, prepared as if client encryption were off.
  bool OpenGet(const std::string& URI, std::string* AResponse, bool UseAccessCode = true);
  bool OpenGetPage(const std::string& URI);
  bool OpenPost(const std::string& URI, const std::string* Body, std::string* AResponse);
  bool OpenPost(const std::string& URI, const TBodyStringList& Body, std::string* AResponse);
  bool OpenPut(const std::string& URI, const std::string* Body, std::string* AResponse, bool UseAccessCode = true);
  bool OpenDelete(const std::string& URI, const std::string& Body, std::string* AResponse);
  bool OpenOptions(const std::string& URI, const TBodyStringList* Body, std::string* AResponse, bool PostUrl);

  TKofClientBase* Owner() const { return FOwner; }
  const SecureString& AccessCode() const { return FAccessCode; }
  void SetAccessCode(std::string_view AValue) { FAccessCode.Assign(AValue); }
  void ClearAccessCode() { FAccessCode.Clear(); }
  bool TextResponse() const { return FTextResponse; }
  void SetTextResponse(bool AValue) { FTextResponse = AValue; }
  // Longest wait for the next byte, in ms.
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
  int LastError() const { return FLastError; }
  const std::string& LastErrorDesc() const { return FLastErrorDesc; }
  const std::string& Document() const { return FDocument; }
  // Connections opened so far (each a TLS handshake on https).
  long ConnectionCount() const { return FConnectionCount; }

 private:
  struct TBody {
    SecureString Bytes;
    std::string ContentType;
  };
  struct TCurlHandleFree {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
  };

  void PrepareRequest(std::string* AResponse, bool UseAccessCode, bool UseEncryption, bool HtmlAccept,
                      bool AEncryptionOff);
  bool Execute(const char* AMethod, const std::string& URI, const TBody* ABody, std::string* AResponse,
               bool ABounded = true);
  bool Fail(int ACode, std::string ADesc);
  void SetMethodAndBody(const char* AMethod, const TBody* ABody);
  curl_slist* BuildHeaderList(const TBody* ABody) const;
  void StoreCookie(std::string_view ALine);
  void ParseHeaderLine(std::string_view ALine);
  bool SendGet(const std::string& URI, std::string* AResponse, bool UseAccessCode, bool AEncryptionOff);
  bool SendPostBytes(const std::string& URI, const std::string* Body, std::string* AResponse, bool AEncryptionOff);
  bool SendPostForm(const std::string& URI, const TBodyStringList& Body, std::string* AResponse,
                    bool AEncryptionOff);
  bool SendPut(const std::string& URI, const std::string* Body, std::string* AResponse, bool UseAccessCode,
               bool AEncryptionOff);
  bool SendDelete(const std::string& URI, const std::string& Body, std::string* AResponse, bool AEncryptionOff);
  bool SendOptions(const std::string& URI, const TBodyStringList* Body, std::string* AResponse, bool PostUrl,
                   bool AEncryptionOff);

  static std::size_t WriteCallback(char* AData, std::size_t ASize, std::size_t ACount, void* AUser);
  static std::size_t ReadCallback(char* AData, std::size_t ASize, std::size_t ACount, void* AUser);
  static int SeekCallback(void* AUser, curl_off_t AOffset, int AOrigin);
  static std::size_t HeaderCallback(char* AData, std::size_t ASize, std::size_t ACount, void* AUser);
  static int ProgressCallback(void* AUser, curl_off_t ADlTotal, curl_off_t ADlNow, curl_off_t AUlTotal,
                              curl_off_t AUlNow);

  TKofClientBase* FOwner;
  SecureString FAccessCode;
  bool FTextResponse = false;
  int FStoreTimeout = 0;
  int FTimeout = kDefaultTimeout;
  int FConnectionTimeout = 0;
  THookMonitor FOnMonitor;
  TKofOpenSSL FSSL;
  std::unique_ptr<CURL, TCurlHandleFree> FHandle;
  TBodyStringList FHeaders{':'};
  std::vector<std::pair<std::string, SecureString>> FCookies;

  // State of the running transfer.
  const TBody* FUpload = nullptr;
  std::size_t FUploadPos = 0;
  bool FBounded = true;
  bool FTooLarge = false;
  bool FTimedOut = false;
  curl_off_t FLastProgress = -1;
  std::chrono::steady_clock::time_point FLastActivity;

  std::string FDocument;
  int FResultCode = 0;
  std::string FResultString;
  std::string FMimeType;
  int FLastError = 0;
  std::string FLastErrorDesc;
  long FConnectionCount = 0;
};

}  // namespace kof
