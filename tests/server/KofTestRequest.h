#pragma once
// What every route needs: the shared context, session and access-code checks,
// client-encryption keys of the caller, and the answer helpers.
#include <httplib.h>

#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/SecureString.h"
#include "tests/server/KofTestControl.h"
#include "tests/server/KofTestState.h"
#include "tests/server/KofTestTls.h"
#include "tests/server/KofTestWire.h"

namespace kof::testserver {

struct TServerContext {
  std::mutex Lock;  // guards State
  TVaultState State;
  nlohmann::json Seed;  // for /__control/reset
  TWireCrypto Crypto;
  TFaultTable Faults;
  TRequestLog Log;
  TRequestCapture Capture;
  // Signs the client certificates handed out by /__control/issue-certificate;
  // made at the first such request.
  std::optional<TTlsIdentity> UserCa;
};

inline constexpr const char* kSessionCookie = "KOFSESSION";

void SendJson(httplib::Response& res, const nlohmann::json& body, int status = 200);
// The JSON error body with an "m:" message.
void SendError(httplib::Response& res, int status, std::string_view key, const std::vector<std::string>& params = {},
               int recordId = 0);
// The "err," text form.
void SendErrText(httplib::Response& res, int status, std::string_view text);

// Who is calling. ClientKey is set when the request asks for encrypted records
// ("KOF-Encryption: record" with a readable "KOF-PublicKey").
struct TCaller {
  std::string Token;
  TSession* Session = nullptr;
  TUser* User = nullptr;
  std::optional<TBoxKey> ClientKey;
};

std::string SessionToken(const httplib::Request& req);
TSession* FindSession(TServerContext& ctx, const std::string& token);
std::string StartSession(TServerContext& ctx, std::size_t userIndex, bool secondFactorPending);
void SetSessionCookie(httplib::Response& res, const std::string& token);

std::optional<TBoxKey> ClientKeyOf(const httplib::Request& req);
// A logged-in caller, or an answer already sent: 401 "login.failed" without a
// live session, 403 "err.secondfactor.required" while the second factor is due.
std::optional<TCaller> RequireLogin(TServerContext& ctx, const httplib::Request& req, httplib::Response& res,
                                    bool allowPendingSecondFactor = false);

// An access code as the client presented it.
struct TPresentedCode {
  bool Present = false;
  bool Readable = true;  // false: encrypted text that does not open
  SecureString Code;
};
TPresentedCode HeaderAccessCode(TServerContext& ctx, const httplib::Request& req);
// From a form body (file download): clear and unencoded, or encrypted with the
// key fields beside it.
TPresentedCode FormAccessCode(TServerContext& ctx, const std::vector<std::pair<std::string, std::string>>& form);
// True when the request may go on; otherwise the 403 answer is sent. A code
// that is present is always checked; `required` also refuses an absent one.
bool CheckAccessCode(TServerContext& ctx, httplib::Response& res, TUser& user, TPresentedCode& code, bool required);

std::optional<nlohmann::json> JsonBody(const httplib::Request& req, httplib::Response& res);
int PathId(const httplib::Request& req, std::size_t index = 1);
bool QueryFlag(const httplib::Request& req, const std::string& name);

// A secret text member of a JSON body, decrypted for the client's key when it
// asked for encryption; nullopt when it is missing or does not open.
std::optional<SecureString> ReadSecretMember(TServerContext& ctx, const std::optional<TBoxKey>& clientKey,
                                             const nlohmann::json& body, const char* name);

// A text for the caller: encrypted for its key when it asked for encryption.
std::string ForCaller(TServerContext& ctx, const TCaller& caller, const std::string& plain);

using TVaultHandler = void (*)(TServerContext&, TCaller&, const httplib::Request&, httplib::Response&);
// Every vault route runs logged in and under the vault lock; an access code
// the client presents is always checked, also where none is required.
httplib::Server::Handler VaultRoute(TServerContext& ctx, TVaultHandler handler, bool accessCodeRequired = false);

// A live box (not in the bin, nor inside a deleted group), or a 404 answer.
TBox* BoxOr404(TServerContext& ctx, int id, httplib::Response& res);
// Rights letters of a box ACL: 'C' create, 'M' modify, 'D' delete; 403 answer when missing.
bool Allowed(const TBox& box, char right, const char* action, httplib::Response& res);

}  // namespace kof::testserver
