#pragma once
// The server's password services beside the vault: generated passwords and
// access codes, the strength verdict on a candidate, the first password of an
// invited user, the passwords of managed stations and agents, and the
// server's "about" page. Each operation runs on a client and leaves its error
// state there, like the client's own operations.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "client/KofClients.h"
#include "support/SecureString.h"

namespace kof {

// The server's verdict on a candidate password; members the answer lacks keep
// their initial values.
struct TCheckPasswordResult {
  int Len = 0;
  std::string TimeToCrackOffline;  // catalogue text, empty when the server's key is unknown
  std::string TimeToCrackOnline;
  std::int64_t SecondsToCrackOffline = 0;
  std::int64_t SecondsToCrackOnline = 0;
  double Entropy = 0;
  int LowerCaseCount = 0;
  int UpperCaseCount = 0;
  int DigitCount = 0;
  int SpecialCharCount = 0;
  bool LowerCaseBad = false;
  bool UppercaseBad = false;
  bool DigitsBad = false;
  bool SpecialBad = false;
  bool EntropyBad = false;

  void Init() { *this = TCheckPasswordResult(); }
};

class TKofPasswords {
 public:
  explicit TKofPasswords(TKofClient& AClient) : FClient(AClient) {}

  // AUserCodeInURL is an invitation link (its query carries the code); a
  // connected client gets false for one, without a request. ACheckBase
  // refuses a link whose host is not in the client's base URL (error -1).
  [[nodiscard]] bool GeneratePasswordOrAccCode(TGenerationType AType, std::string_view AUserCodeInURL,
                                               SecureString& ANew, bool ACheckBase);
  [[nodiscard]] bool CheckPasswordCorrectness(TGenerationType AType, std::string_view AUserCodeInURL,
                                              std::string_view APassword, TCheckPasswordResult& AResult,
                                              bool ACheckBase);
  // Only for a client that is not connected; on success the client holds the
  // new password and the user's domain and name from the answer.
  [[nodiscard]] bool SetPasswordToInvitedUser(std::string_view AUserCodeInURL, std::string_view ANewPassword,
                                              bool ACheckBase);

  // AName is the station's name.
  [[nodiscard]] bool GetAgentPassword(std::string_view AName, std::string_view AConfiguration,
                                      std::string_view APlatform, std::string_view AUser,
                                      const std::chrono::year_month_day& ADate, SecureString& APassword);
  [[nodiscard]] bool GetStationPassword(std::string_view AName, std::string_view AConfiguration,
                                        std::string_view APlatform, std::string_view AUser,
                                        const std::chrono::year_month_day& ADate, SecureString& APassword);
  [[nodiscard]] bool GetTicketPassword(std::string_view ATicketId, std::string_view AStationName,
                                       std::string_view APlatform, std::string_view AUserName,
                                       SecureString& APassword);
  // The lists are emptied first; a nil list gives false without a request.
  [[nodiscard]] bool GetConfigurations(TKofList* AList);
  [[nodiscard]] bool GetStations(TKofList* AList, std::string_view AConfigName);
  // The page as the server sent it, whatever its status, fetched without the
  // session's cookies; false only when no answer came (or ADocument is nil).
  [[nodiscard]] bool GetAbout(std::string* ADocument);

 private:
  // True (with the error set) when the client is logged in and the call is an invitation's.
  [[nodiscard]] bool RefusedWhileConnected(bool AWithInvitation);
  struct TInvitation {
    std::string Code;   // from the link's query
    std::string Query;  // the link's whole query
  };
  // The link's code and query; false (error -1, no request) when the check
  // of the host refuses it. A client without a base URL takes the link's.
  [[nodiscard]] bool TakeInvitation(std::string_view ALink, bool ACheckBase, TInvitation& AInvitation);
  [[nodiscard]] bool ReadManagedPassword(const std::string& APath, SecureString& APassword);
  [[nodiscard]] bool ReadList(TKofList* AList, const char* AObjectName,
                              const std::function<bool(TRESTsend&, std::string&)>& ASend);
  void FillVerdict(const TJSONObject& AAnswer, TCheckPasswordResult& AResult) const;

  TKofClient& FClient;
};

}  // namespace kof
