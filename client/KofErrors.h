#pragma once
// How the server's failures are worded: the built-in HTTP status texts, the
// "m:key[params]" message form and the JSON error body.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "client/KofTypes.h"

namespace kof {

// "%d %s " (code, text and a trailing blank) when the code is in the table;
// Czech for koflngCzech, English otherwise.
std::optional<std::string> GetHttpStatusText(int ACode, TKofLanguage ALanguage);

struct TServerMessage {
  std::string Key;
  std::vector<std::string> Params;
};
// "m:key" or "m:key[p1,p2,...]"; nothing for any other text.
std::optional<TServerMessage> ParseServerMessage(std::string_view AText);

// Codes the client sets itself, beside HTTP statuses and request-layer numbers.
inline constexpr int kErrDecrypt = 997;    // a value from the server did not decrypt
inline constexpr int kErrException = 999;  // an operation ended in an exception

// Message keys the client and the plugin act on or set.
inline constexpr const char* kKeyLoginFailed = "login.failed";
inline constexpr const char* kKeySecondFactorInvalid = "err.secondfactor.invalid";
inline constexpr const char* kKeyInvalidAccessCode = "AccessCodeValidator.invalid.password";
inline constexpr const char* kKeyMissingAccessCode = "AccessCodeValidator.missing";
inline constexpr const char* kKeyBannedAccessCode = "AccessCode.banned";
inline constexpr const char* kKeyInternalServerError = "internal.server.Error";
inline constexpr const char* kKeyHttpError = "http.Error";
inline constexpr const char* kKeyDataError = "data.error";
inline constexpr const char* kKeyCryptoError = "CRYPTO_ERR";
// A 400 answer whose message begins so (any case) asks for the access code.
inline constexpr const char* kMissingAccessCodeHeader = "missing query parameter (KOF-Access-Code)";
// The end of every key that refuses a name already taken ("record.duplicate", ...).
inline constexpr const char* kKeyDuplicateSuffix = ".duplicate";

// The access code was wrong, missing or is banned (any case).
[[nodiscard]] bool IsAccessCodeKey(std::string_view AKey);
// The server refused a name that is already taken (any case).
[[nodiscard]] bool IsDuplicateKey(std::string_view AKey);

// The error state of a client.
struct TKofError {
  int Code = 0;
  std::string Key;
  std::string Msg;
  std::string Subj;
  int RecordId = 0;
};

// A server answer that has the error shape but not its members.
class EKofResponseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Words an error body received with AStatus into AError (Code, Key, Msg,
// RecordId; Subj emptied). False when the text is not an error body, leaving
// Code = AStatus and Key empty. Throws EKofResponseError for a "msg" list
// whose first entry lacks its members.
[[nodiscard]] bool ParseErrorText(std::string_view AText, int AStatus, const TKofErrorMessages& ACatalogue,
                                  TKofError& AError);

// The text shown to the user for an error state; ALastStatus is the last
// HTTP status of the connection (0 when there is none).
std::string ComposeErrorMsg(const TKofError& AError, int ALastStatus, std::string_view AStatusLineText,
                            TKofLanguage ALanguage);

// The name of an exception's kind without namespaces, used as error key.
std::string ExceptionClassName(const std::exception& AError);

}  // namespace kof
