#include "client/KofRESTsend.h"

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <cstdio>
#include <mutex>
#include <random>

#include "crypto/KofUrlEncode.h"
#include "support/KofText.h"

namespace kof {

namespace {

constexpr const char* kHtmlAccept =
    "text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,image/webp,*/*;q=0.8";
constexpr const char* kFormType = "application/x-www-form-urlencoded";
constexpr const char* kJsonType = "application/json";

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void AppendHex(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

std::string MultipartBoundary() {
  static thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<unsigned> number(0, 0x7FFFFFFD);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%08X_Synapse_boundary", number(generator));
  return buffer;
}

// A quote or a line break in a name would end the part header early.
std::string MultipartName(std::string_view name) {
  std::string out;
  for (unsigned char c : name) {
    if (c == '"' || c == '\r' || c == '\n')
      AppendHex(out, c);
    else
      out += static_cast<char>(c);
  }
  return out;
}

struct TSlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct TUrlFree {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

constexpr bool SameNumber(TRequestFailure AOurs, CURLcode ATheirs) { return int(AOurs) == int(ATheirs); }
static_assert(SameNumber(rfUnsupportedProtocol, CURLE_UNSUPPORTED_PROTOCOL) &&
              SameNumber(rfFailedInit, CURLE_FAILED_INIT) && SameNumber(rfCouldNotConnect, CURLE_COULDNT_CONNECT) &&
              SameNumber(rfTimedOut, CURLE_OPERATION_TIMEDOUT) &&
              SameNumber(rfNotVerified, CURLE_PEER_FAILED_VERIFICATION) &&
              SameNumber(rfTooLarge, CURLE_FILESIZE_EXCEEDED));

// The host of a URL as a certificate names it: an IPv6 address without its brackets.
std::string HostOf(const std::string& AURL) {
  const std::unique_ptr<CURLU, TUrlFree> url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, AURL.c_str(), CURLU_DEFAULT_SCHEME) != CURLUE_OK) return {};
  char* host = nullptr;
  if (curl_url_get(url.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK || host == nullptr) return {};
  std::string text(host);
  curl_free(host);
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
  return text;
}

}  // namespace

std::string EncodeRequestURL(std::string_view AURL) {
  std::string out;
  out.reserve(AURL.size());
  for (unsigned char c : AURL) {
    // Control bytes cannot travel in a request line, and "#" would cut the
    // rest of the URL off as a fragment.
    if (c <= 0x20 || c >= 0x7F || c == '#')
      AppendHex(out, c);
    else
      out += static_cast<char>(c);
  }
  return out;
}

SecureString BuildFormBody(const TBodyStringList& AList, bool AEncodeValues) {
  SecureString body;
  for (std::size_t i = 0; i < AList.Count(); ++i) {
    const auto& entry = AList.Entries()[i];
    if (i > 0) body.PushBack('&');
    body.Append(entry.Name);
    body.PushBack(AList.NameValueSeparator());
    if (AList.NameValueSeparator() == ':') body.PushBack(' ');
    if (AEncodeValues) {
      std::string encoded = EncodeURLElementUTF8(entry.Value.View());
      body.Append(encoded);
      WipeString(encoded);
    } else {
      body.Append(entry.Value.View());
    }
  }
  return body;
}

// The engine's handle, and the callbacks it calls during a transfer.
struct TRESTsend::TEngine {
  struct THandleFree {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
  };
  std::unique_ptr<CURL, THandleFree> Handle{curl_easy_init()};

  static std::size_t Write(char* AData, std::size_t ASize, std::size_t ACount, void* AUser);
  static std::size_t Read(char* AData, std::size_t ASize, std::size_t ACount, void* AUser);
  static int Seek(void* AUser, curl_off_t AOffset, int AOrigin);
  static std::size_t Header(char* AData, std::size_t ASize, std::size_t ACount, void* AUser);
  static int Progress(void* AUser, curl_off_t ADlTotal, curl_off_t ADlNow, curl_off_t AUlTotal, curl_off_t AUlNow);
  static CURLcode SslContext(CURL* AHandle, void* ASslCtx, void* AUser);

  static void SetMethodAndBody(CURL* h, TRESTsend& ASelf, const char* AMethod, const TBody* ABody);
  static curl_slist* BuildHeaderList(const TRESTsend& ASelf, const TBody* ABody);
  static void ApplyTLS(CURL* h, TRESTsend& ASelf, const std::string& AURL);
};

TRESTsend::TRESTsend(TKofClientBase* AOwner, const SecureString& AAccessCode)
    : FOwner(AOwner), FAccessCode(AAccessCode) {
  InitCurlOnce();
  FEngine = std::make_unique<TEngine>();
}

TRESTsend::~TRESTsend() {
  WipeString(FDocument);
  FCookies.clear();
}

void TRESTsend::RestoreTraffic() {
  if (FStoreTimeout > 0) FTimeout = FStoreTimeout;
  FStoreTimeout = 0;
}

// --- preparation ---

void TRESTsend::PrepareRequest(std::string* AResponse, const TPrepare& APrepare) {
  WipeString(FDocument);
  FHeaders.Clear();
  if (FTextResponse) {
    FHeaders.Add("Accept", "text/plain");
    FTextResponse = false;
  } else {
    FHeaders.Add("Accept", APrepare.HtmlAccept ? kHtmlAccept : kJsonType);
  }
  const bool encrypting = !APrepare.EncryptionOff && FOwner != nullptr && FOwner->NaCLEncryption() != nullptr;
  if (encrypting) {
    if (APrepare.UseEncryption) FOwner->SetNaCLProperties(FHeaders, FAccessCode);
  } else if (APrepare.UseAccessCode && APrepare.UseEncryption && !FAccessCode.Empty()) {
    std::string encoded = EncodeURLElementUTF8(FAccessCode.View());
    FHeaders.Add("KOF-Access-Code", encoded);
    WipeString(encoded);
  }
  if (AResponse) WipeString(*AResponse);
}

// --- operations ---

bool TRESTsend::SendGet(const std::string& URI, std::string* AResponse, const TPrepare& APrepare) {
  PrepareRequest(AResponse, APrepare);
  return Execute("GET", URI, nullptr, AResponse);
}

bool TRESTsend::SendPostBytes(const std::string& URI, const std::string* Body, std::string* AResponse,
                              const TPrepare& APrepare) {
  PrepareRequest(AResponse, APrepare);
  TBody body;
  if (Body) body = {SecureString(*Body), kJsonType};
  return Execute("POST", URI, Body ? &body : nullptr, AResponse);
}

bool TRESTsend::SendPostForm(const std::string& URI, const TBodyStringList& Body, std::string* AResponse,
                             const TPrepare& APrepare) {
  PrepareRequest(AResponse, APrepare);
  const TBody body{BuildFormBody(Body, true), kFormType};
  return Execute("POST", URI, &body, AResponse);
}

bool TRESTsend::SendPut(const std::string& URI, const std::string* Body, std::string* AResponse,
                        const TPrepare& APrepare) {
  PrepareRequest(AResponse, APrepare);
  TBody body;
  if (Body) body = {SecureString(*Body), kJsonType};
  return Execute("PUT", URI, Body ? &body : nullptr, AResponse);
}

bool TRESTsend::SendDelete(const std::string& URI, const std::string& Body, std::string* AResponse,
                           const TPrepare& APrepare) {
  PrepareRequest(AResponse, APrepare);
  const TBody body{SecureString(Body), kJsonType};
  return Execute("DELETE", URI, &body, AResponse);
}

bool TRESTsend::SendOptions(const std::string& URI, const TBodyStringList* Body, std::string* AResponse,
                            const TPrepare& APrepare) {
  PrepareRequest(AResponse, APrepare);
  TBody body;
  if (Body) body = {BuildFormBody(*Body, true), kFormType};
  return Execute("OPTIONS", URI, Body ? &body : nullptr, AResponse);
}

bool TRESTsend::Get(const std::string& URI, std::string* AResponse, bool UseAccessCode) {
  return SendGet(URI, AResponse, {.UseAccessCode = UseAccessCode});
}
bool TRESTsend::OpenGet(const std::string& URI, std::string* AResponse, bool UseAccessCode) {
  return SendGet(URI, AResponse, {.UseAccessCode = UseAccessCode, .EncryptionOff = true});
}
bool TRESTsend::GetPage(const std::string& URI) { return SendGet(URI, nullptr, {}); }
bool TRESTsend::OpenGetPage(const std::string& URI) { return SendGet(URI, nullptr, {.EncryptionOff = true}); }

bool TRESTsend::GetFileTo(const std::string& URI, const TBodyStringList& Body, const TDownloadSink& Sink,
                          std::string* AResponse) {
  PrepareRequest(AResponse, {.UseAccessCode = false, .UseEncryption = false, .HtmlAccept = true});
  const TBody body{BuildFormBody(Body, false), kFormType};
  return Execute("POST", URI, &body, AResponse, &Sink);
}

bool TRESTsend::Post(const std::string& URI, const std::string* Body, std::string* AResponse) {
  return SendPostBytes(URI, Body, AResponse, {});
}
bool TRESTsend::OpenPost(const std::string& URI, const std::string* Body, std::string* AResponse) {
  return SendPostBytes(URI, Body, AResponse, {.EncryptionOff = true});
}
bool TRESTsend::Post(const std::string& URI, const TBodyStringList& Body, std::string* AResponse) {
  return SendPostForm(URI, Body, AResponse, {});
}
bool TRESTsend::OpenPost(const std::string& URI, const TBodyStringList& Body, std::string* AResponse) {
  return SendPostForm(URI, Body, AResponse, {.EncryptionOff = true});
}

bool TRESTsend::PostCert(const std::string& URI, const TBodyStringList& List, std::string* AResponse) {
  PrepareRequest(AResponse, {.UseAccessCode = false, .UseEncryption = false});
  TBodyStringList form('=');
  for (const auto& entry : List.Entries()) form.Add(entry.Name, entry.Value.View());
  const TBody body{BuildFormBody(form, true), kFormType};
  return Execute("POST", URI, &body, AResponse);
}

TRESTsend::TBody TRESTsend::MultipartFile(std::string_view FieldName, std::string_view FileName) const {
  const std::string boundary = MultipartBoundary();
  TBody body;
  body.Bytes.Append("--" + boundary + "\r\n");
  body.Bytes.Append("content-disposition: form-data; name=\"" + MultipartName(FieldName) + "\"; filename=\"" +
                    MultipartName(FileName) + "\"\r\n");
  body.Bytes.Append("Content-Type: Application/octet-string\r\n\r\n");
  body.Tail = "\r\n--" + boundary + "--\r\n";
  body.ContentType = "multipart/form-data; boundary=" + boundary;
  return body;
}

bool TRESTsend::PostFileFrom(const std::string& URI, std::string_view FieldName, std::string_view FileName,
                             const TUploadSource& Source, std::string* AResponse) {
  PrepareRequest(AResponse, {});
  TBody body = MultipartFile(FieldName, FileName);
  body.Source = &Source;
  return Execute("POST", URI, &body, AResponse);
}

bool TRESTsend::Put(const std::string& URI, const std::string* Body, std::string* AResponse, bool UseAccessCode) {
  return SendPut(URI, Body, AResponse, {.UseAccessCode = UseAccessCode});
}
bool TRESTsend::OpenPut(const std::string& URI, const std::string* Body, std::string* AResponse,
                        bool UseAccessCode) {
  return SendPut(URI, Body, AResponse, {.UseAccessCode = UseAccessCode, .EncryptionOff = true});
}

bool TRESTsend::Delete(const std::string& URI, std::string* AResponse) {
  PrepareRequest(AResponse, {});
  return Execute("DELETE", URI, nullptr, AResponse);
}
bool TRESTsend::Delete(const std::string& URI, const std::string& Body, std::string* AResponse) {
  return SendDelete(URI, Body, AResponse, {});
}
bool TRESTsend::OpenDelete(const std::string& URI, const std::string& Body, std::string* AResponse) {
  return SendDelete(URI, Body, AResponse, {.EncryptionOff = true});
}

bool TRESTsend::Options(const std::string& URI, const TBodyStringList* Body, std::string* AResponse, bool) {
  return SendOptions(URI, Body, AResponse, {});
}
bool TRESTsend::OpenOptions(const std::string& URI, const TBodyStringList* Body, std::string* AResponse, bool) {
  return SendOptions(URI, Body, AResponse, {.EncryptionOff = true});
}

// --- the exchange ---

bool TRESTsend::Fail(int ACode, std::string ADesc) {
  FLastError = ACode;
  FLastErrorDesc = std::move(ADesc);
  WipeString(FDocument);
  return false;
}

void TRESTsend::TEngine::SetMethodAndBody(CURL* h, TRESTsend& ASelf, const char* AMethod, const TBody* ABody) {
  const std::string_view method = AMethod;
  if (ABody == nullptr && method != "POST" && method != "PUT") {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    if (method != "GET") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, AMethod);
    return;
  }
  // Bodies go through the read callback, so the monitor sees them and a
  // request repeated on a fresh connection can rewind.
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(ABody ? ABody->Size() : 0));
  curl_easy_setopt(h, CURLOPT_READFUNCTION, &TEngine::Read);
  curl_easy_setopt(h, CURLOPT_READDATA, &ASelf);
  curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, &TEngine::Seek);
  curl_easy_setopt(h, CURLOPT_SEEKDATA, &ASelf);
  if (method != "POST") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, AMethod);
}

curl_slist* TRESTsend::TEngine::BuildHeaderList(const TRESTsend& ASelf, const TBody* ABody) {
  std::unique_ptr<curl_slist, TSlistFree> list;
  auto append = [&list](std::string_view line) {
    const std::string text(line);
    curl_slist* grown = curl_slist_append(list.get(), text.c_str());
    if (grown == nullptr) throw std::bad_alloc();
    list.release();
    list.reset(grown);
  };
  for (std::size_t i = 0; i < ASelf.FHeaders.Count(); ++i) append(ASelf.FHeaders.Line(i).View());
  append("Connection: keep-alive");
  append("Keep-Alive: 300");
  if (!ASelf.FCookies.empty()) {
    SecureString cookie("Cookie: ");
    for (std::size_t i = 0; i < ASelf.FCookies.size(); ++i) {
      if (i > 0) cookie.Append("; ");
      cookie.Append(ASelf.FCookies[i].first);
      cookie.PushBack('=');
      cookie.Append(ASelf.FCookies[i].second.View());
    }
    append(cookie.View());
  }
  // An empty value keeps curl from adding a type of its own.
  if (ABody && ABody->Size() > 0)
    append("Content-Type: " + ABody->ContentType);
  else
    append("Content-Type:");
  append("Expect:");
  return list.release();
}

void TRESTsend::TEngine::ApplyTLS(CURL* h, TRESTsend& ASelf, const std::string& AURL) {
  TKofOpenSSL& tls = ASelf.FSSL;
  tls.ForgetFailure();
  tls.SetExpectedHost(HostOf(AURL));
  const bool pinned = !tls.Imprint().empty();
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, tls.VerifyCert() ? 1L : 0L);
  // A pinned certificate names the server; without a pin a verified chain
  // must also be issued for the host we asked for.
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, tls.VerifyCert() && !pinned ? 2L : 0L);
  // A resumed session shows no certificate, so a pin could not be checked.
  curl_easy_setopt(h, CURLOPT_SSL_SESSIONID_CACHE, tls.VerifyCert() || pinned ? 0L : 1L);
  // The store is changed per context; a cached one would be shared.
  curl_easy_setopt(h, CURLOPT_CA_CACHE_TIMEOUT, 0L);
  if (!tls.CertificateFile().empty()) {
    curl_easy_setopt(h, CURLOPT_SSLCERT, tls.CertificateFile().c_str());
    curl_easy_setopt(h, CURLOPT_SSLCERTTYPE, "PEM");
  }
  curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &TEngine::SslContext);
  curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, &tls);
}

CURLcode TRESTsend::TEngine::SslContext(CURL*, void* ASslCtx, void* AUser) {
  return static_cast<TKofOpenSSL*>(AUser)->PrepareContext(static_cast<SSL_CTX*>(ASslCtx)) ? CURLE_OK
                                                                                          : CURLE_SSL_CERTPROBLEM;
}

std::int64_t TRESTsend::TBody::Size() const {
  return static_cast<std::int64_t>(Bytes.Size()) + (Source ? Source->Size : 0) + static_cast<std::int64_t>(Tail.size());
}

bool TRESTsend::Execute(const char* AMethod, const std::string& URI, const TBody* ABody, std::string* AResponse,
                        const TDownloadSink* ASink) {
  CURL* h = FEngine->Handle.get();
  if (h == nullptr) return Fail(rfFailedInit, "The HTTP engine could not be started");
  curl_easy_reset(h);
  FResultCode = 0;
  FResultString.clear();
  FMimeType.clear();
  FLastError = 0;
  FLastErrorDesc.clear();
  // A certificate that is checked would mean nothing over plain http.
  const bool httpsOnly = FSSL.VerifyCert() || !FSSL.Imprint().empty();
  if (httpsOnly && StartsText("http://", URI))
    return Fail(rfUnsupportedProtocol,
                "A connection that checks the server's certificate never uses unencrypted "
                "http://");
  if (ASink && ASink->Begin && !ASink->Begin()) return Fail(rfStopped, "The transfer was stopped");
  FUpload = ABody;
  FUploadPos = 0;
  FSink = ASink;
  FStopped = false;
  FTooLarge = false;
  FStall = TStall::stNone;
  FLastProgress = -1;
  FReceived = 0;
  FStart = FLastActivity = std::chrono::steady_clock::now();

  char errorBuffer[CURL_ERROR_SIZE] = {};
  const std::string url = EncodeRequestURL(URI);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, httpsOnly ? "https" : "http,https");
  // An address without a scheme is never spoken to in clear.
  curl_easy_setopt(h, CURLOPT_DEFAULT_PROTOCOL, "https");
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(h, CURLOPT_PROXY, "");  // no proxy, whatever the environment says
  if (FConnectionTimeout > 0) curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(FConnectionTimeout));
  // A streamed file may be of any size; only what is kept in memory is bounded.
  if (!ASink) curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxAnswerSize));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &TEngine::Write);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &TEngine::Header);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &TEngine::Progress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
  if (FSSL.TakeChanged()) curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
  TEngine::ApplyTLS(h, *this, url);
  TEngine::SetMethodAndBody(h, *this, AMethod, ABody);
  const std::unique_ptr<curl_slist, TSlistFree> headers(TEngine::BuildHeaderList(*this, ABody));
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

  const CURLcode rc = curl_easy_perform(h);
  FUpload = nullptr;
  FSink = nullptr;
  long connects = 0;
  if (curl_easy_getinfo(h, CURLINFO_NUM_CONNECTS, &connects) == CURLE_OK) FConnectionCount += connects;
  if (rc != CURLE_OK) {
    if (FStopped) return Fail(rfStopped, "The transfer was stopped");
    if (FTooLarge || rc == CURLE_FILESIZE_EXCEEDED)
      return Fail(rfTooLarge, "The server's answer is larger than 64 MiB and was refused");
    if (FStall != TStall::stNone) return Fail(rfTimedOut, StallText());
    // curl checks the name after the chain: a refusal we did not see there is that one.
    if (rc == CURLE_PEER_FAILED_VERIFICATION && !FSSL.NotVerified() && !FSSL.PinRefused()) FSSL.NoteWrongName();
    return Fail(rc, errorBuffer[0] ? std::string(errorBuffer) : std::string(curl_easy_strerror(rc)));
  }
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  FResultCode = static_cast<int>(status);
  if (AResponse) std::swap(*AResponse, FDocument);
  return true;
}

std::string TRESTsend::StallText() const {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - FStart);
  switch (FStall) {
    case TStall::stSilence: return "No answer from the server within " + std::to_string(FTimeout) + " ms";
    case TStall::stDeadline:
      return "The server did not complete the exchange within " + std::to_string(seconds.count()) + " s";
    case TStall::stTooSlow:
      return "The server sends its answer too slowly (" + std::to_string(FReceived) + " bytes in " +
             std::to_string(seconds.count()) + " s)";
    case TStall::stNone: break;
  }
  return {};
}

TRESTsend::TStall TRESTsend::CheckProgress(std::int64_t AExpected, std::int64_t AMoved) {
  using std::chrono::milliseconds;
  const auto now = std::chrono::steady_clock::now();
  if (AMoved != FLastProgress) {
    FLastProgress = AMoved;
    FLastActivity = now;
  }
  if (FTimeout <= 0) return TStall::stNone;
  const milliseconds timeout(FTimeout);
  if (now - FLastActivity > timeout) return TStall::stSilence;
  // Silence is not the only way to hang: one byte a second keeps the line busy forever.
  if (now - FStart > timeout + milliseconds(AExpected * 1000 / kMinTransferRate)) return TStall::stDeadline;
  if (FReceived > 0 && now - FFirstByte > timeout) {
    const auto elapsed = std::chrono::duration_cast<milliseconds>(now - FFirstByte).count();
    if (FReceived * 1000 < kMinTransferRate * elapsed) return TStall::stTooSlow;
  }
  return TStall::stNone;
}

// --- callbacks ---

std::size_t TRESTsend::TEngine::Write(char* AData, std::size_t ASize, std::size_t ACount, void* AUser) {
  auto* self = static_cast<TRESTsend*>(AUser);
  const std::size_t length = ASize * ACount;
  if (self->FSink && self->FResultCode == 200) {
    if (!self->FSink->Write(AData, length)) {
      self->FStopped = true;
      return 0;
    }
  } else if (self->FDocument.size() + length > kMaxAnswerSize) {
    self->FTooLarge = true;
    return 0;
  } else {
    self->FDocument.append(AData, length);
  }
  self->FLastActivity = std::chrono::steady_clock::now();
  if (self->FReceived == 0) self->FFirstByte = self->FLastActivity;
  self->FReceived += static_cast<std::int64_t>(length);
  if (self->FOnMonitor) self->FOnMonitor(*self, false, AData, length);
  return length;
}

std::int64_t TRESTsend::ReadBody(char* AData, std::size_t ALen) {
  const std::int64_t head = static_cast<std::int64_t>(FUpload->Bytes.Size());
  const std::int64_t middle = head + (FUpload->Source ? FUpload->Source->Size : 0);
  const std::int64_t total = FUpload->Size();
  const std::int64_t pos = std::min(FUploadPos, total);
  const std::size_t room = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(ALen), total - pos));
  if (pos < head) {
    const std::size_t n = std::min(room, static_cast<std::size_t>(head - pos));
    std::copy_n(FUpload->Bytes.View().data() + pos, n, AData);
    return static_cast<std::int64_t>(n);
  }
  if (pos < middle) {
    const std::size_t want = std::min(room, static_cast<std::size_t>(middle - pos));
    const std::int64_t n = FUpload->Source->Read(pos - head, AData, want);
    // A file that shrank while it was sent would leave the declared length unmet.
    return n <= 0 ? -1 : n;
  }
  std::copy_n(FUpload->Tail.data() + (pos - middle), room, AData);
  return static_cast<std::int64_t>(room);
}

std::size_t TRESTsend::TEngine::Read(char* AData, std::size_t ASize, std::size_t ACount, void* AUser) {
  auto* self = static_cast<TRESTsend*>(AUser);
  if (self->FUpload == nullptr) return 0;
  const std::int64_t length = self->ReadBody(AData, ASize * ACount);
  if (length < 0) {
    self->FStopped = true;
    return CURL_READFUNC_ABORT;
  }
  self->FUploadPos += length;
  self->FLastActivity = std::chrono::steady_clock::now();
  if (length > 0 && self->FOnMonitor) self->FOnMonitor(*self, true, AData, static_cast<std::size_t>(length));
  return static_cast<std::size_t>(length);
}

int TRESTsend::TEngine::Seek(void* AUser, curl_off_t AOffset, int AOrigin) {
  auto* self = static_cast<TRESTsend*>(AUser);
  if (self->FUpload == nullptr || AOrigin != SEEK_SET || AOffset < 0 || AOffset > self->FUpload->Size())
    return CURL_SEEKFUNC_FAIL;
  self->FUploadPos = static_cast<std::int64_t>(AOffset);
  return CURL_SEEKFUNC_OK;
}

std::size_t TRESTsend::TEngine::Header(char* AData, std::size_t ASize, std::size_t ACount, void* AUser) {
  const std::size_t length = ASize * ACount;
  static_cast<TRESTsend*>(AUser)->ParseHeaderLine(std::string_view(AData, length));
  return length;
}

int TRESTsend::TEngine::Progress(void* AUser, curl_off_t ADlTotal, curl_off_t ADlNow, curl_off_t AUlTotal,
                                 curl_off_t AUlNow) {
  auto* self = static_cast<TRESTsend*>(AUser);
  const std::int64_t expected = AUlTotal + std::max(ADlTotal, ADlNow);
  self->FStall = self->CheckProgress(expected, ADlNow + AUlNow);
  return self->FStall == TStall::stNone ? 0 : 1;
}

void TRESTsend::ParseHeaderLine(std::string_view ALine) {
  while (!ALine.empty() && (ALine.back() == '\n' || ALine.back() == '\r')) ALine.remove_suffix(1);
  FLastActivity = std::chrono::steady_clock::now();
  if (ALine.starts_with("HTTP/")) {
    // A new answer begins (also after an interim 100 answer).
    const std::size_t codeStart = ALine.find(' ');
    FResultCode = 0;
    FResultString.clear();
    FMimeType.clear();
    if (codeStart == std::string_view::npos) return;
    const std::string_view rest = ALine.substr(codeStart + 1);
    const std::size_t textStart = rest.find(' ');
    for (char c : rest.substr(0, textStart))
      if (c >= '0' && c <= '9' && FResultCode < 1000) FResultCode = FResultCode * 10 + (c - '0');
    if (textStart != std::string_view::npos) FResultString = Trim(rest.substr(textStart + 1));
    return;
  }
  const std::size_t colon = ALine.find(':');
  if (colon == std::string_view::npos) return;
  const std::string_view name = ALine.substr(0, colon);
  const std::string_view value = ALine.substr(colon + 1);
  if (SameText(name, "Content-Type"))
    FMimeType = Trim(value);
  else if (SameText(name, "Set-Cookie"))
    StoreCookie(value);
}

void TRESTsend::StoreCookie(std::string_view ALine) {
  const std::string_view pair = ALine.substr(0, ALine.find(';'));
  const std::size_t equals = pair.find('=');
  if (equals == std::string_view::npos) return;
  const std::string name = Trim(pair.substr(0, equals));
  if (name.empty()) return;
  SecureString value(Trim(pair.substr(equals + 1)));
  for (auto& cookie : FCookies) {
    if (cookie.first == name) {
      cookie.second = std::move(value);
      return;
    }
  }
  FCookies.emplace_back(name, std::move(value));
}

}  // namespace kof
