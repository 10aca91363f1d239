#pragma once
// Server URLs: splitting and normalising what the user typed, invitation
// links, and the relative path of every endpoint the client calls. Paths are
// returned unencoded; the request layer encodes the whole URL once.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "client/KofTypes.h"

namespace kof {

enum class TGenerationType { gtPassword, gtAccessCode };
// Declared with the safe box, which keeps the watch flags.
enum TWatchedType : std::uint8_t;

struct TUrlParts {
  std::string Protocol;
  std::string User;
  std::string Pass;
  std::string Host;
  std::string Port;
  std::string Path;   // begins with "/", without the query
  std::string Param;  // the query, without "?"
  std::string PathWithQuery;  // begins with "/"
};

// No default port or protocol is filled in; an empty host becomes "localhost".
TUrlParts ParseURL(std::string_view AURL);
// The URL with "/" at its end; an address without a protocol gains one (with
// or without a port); user and password are dropped.
std::string PrepareURL(std::string_view AUrl, bool AddProtocol, bool AddPort, bool ASecure);
// The base URL an invitation link points at; empty without protocol or host.
std::string BaseURLFromParts(std::string_view AProtocol, std::string_view AHost, std::string_view APort,
                             std::string_view APath);
// The code of an invitation link's query: the value of the first "code="
// piece, or the whole query when no piece has one.
std::string InvitationCode(std::string_view AQuery);
// True when the link may be used with the base URL: either is empty, or the
// base URL contains the link's host (ignoring case).
bool InvitationHostMatches(std::string_view ABaseURL, std::string_view ALink);
// "dd/mm/yy", independent of the locale.
std::string FormatPasswordDate(const std::chrono::year_month_day& ADate);

// Query values the QR endpoint gets inside its own query.
std::string EncodeQRParameter(std::string_view AText);

class TKofUri : public TKofClientBase {};

// Relative endpoint paths.
namespace api {
std::string Status();
std::string Messages(TKofLanguage ALanguage);
std::string Login();
std::string CertLogin();
std::string LoginStatus();
std::string UserConfig();
std::string UserConfigByCode(std::string_view AQuery);
std::string NewAccessCode();
std::string SecondFactor();
std::string SecondFactorReg();
std::string SecondFactorQR(std::string_view ASecretKeyUri);
std::string SafeBoxes(int ABoxId, bool ACountRecords);
std::string SafeBox(int ABoxId);  // with the external-files path
std::string Box(int ABoxId);      // add below it, update, delete
std::string Records(int ABoxId, bool AFileInfo);
std::string AddRecord(int ABoxId, bool AForceCreateTags);
std::string Record(int ARecordId);
std::string RecordPasswords(int ARecordId);
std::string DownloadFile(int ARecordId);
std::string UploadFile(int ARecordId);
std::string TagsByBox(int ABoxId);
std::string TagsByDomain(std::string_view ADomain);  // "SYSTEM" when empty
// AQueryType "DEFAULT", "STANDARD" or empty.
std::string Search(std::string_view AExpression, std::string_view AQueryType);
std::string SearchByNote(std::string_view AText);
std::string Deleted();
std::string Watch(int ABoxId, TWatchedType AKind, bool AOn, bool AWithRecords);
std::string FileSizeLimit();
std::string ExternalFileParams(int ABoxId);
std::string GeneratePassword(TGenerationType AType, std::string_view AInvitationCode);
std::string CheckPassword();
std::string InitUser(std::string_view AQuery);
std::string AgentPassword(std::string_view AConfigName, std::string_view APlatform, std::string_view AStationName,
                          std::string_view AUserName, std::string_view ADate);
std::string StationPassword(std::string_view AConfigName, std::string_view APlatform, std::string_view AStationName,
                            std::string_view AUserName, std::string_view ADate);
std::string TicketPassword(std::string_view ATicket, std::string_view AStation, std::string_view APlatform,
                           std::string_view AUser);
std::string AgentConfigs();
std::string Stations(std::string_view AConfigName);
std::string About();
}  // namespace api

}  // namespace kof
