#include "client/KofUri.h"

#include <cstdio>

#include "crypto/KofUrlEncode.h"
#include "model/KofClasses.h"

namespace kof {

namespace {

std::string HostPart(const TUrlParts& parts) {
  // An IPv6 address must keep its brackets, or its colons read as a port.
  if (parts.Host.find(':') != std::string::npos) return "[" + parts.Host + "]";
  return parts.Host;
}

void SplitHostAndPort(std::string_view hostPart, TUrlParts& parts) {
  if (!hostPart.empty() && hostPart.front() == '[') {
    const std::size_t close = hostPart.find(']');
    parts.Host = std::string(hostPart.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    if (close != std::string_view::npos && hostPart.substr(close + 1).starts_with(':'))
      parts.Port = std::string(hostPart.substr(close + 2));
    return;
  }
  const std::size_t colon = hostPart.find(':');
  parts.Host = std::string(hostPart.substr(0, colon));
  if (colon != std::string_view::npos) parts.Port = std::string(hostPart.substr(colon + 1));
}

std::string IdPath(const char* format, int id) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, format, id);
  return buffer;
}

std::string Concat(std::initializer_list<std::string_view> pieces) {
  std::string text;
  for (auto piece : pieces) text += piece;
  return text;
}

}  // namespace

TUrlParts ParseURL(std::string_view AURL) {
  TUrlParts parts;
  std::string_view rest = AURL;
  if (const std::size_t scheme = rest.find("://"); scheme != std::string_view::npos) {
    parts.Protocol = std::string(rest.substr(0, scheme));
    rest = rest.substr(scheme + 3);
  }
  const std::size_t at = rest.find('@');
  const std::size_t slash = rest.find('/');
  if (at != std::string_view::npos && (slash == std::string_view::npos || at < slash)) {
    const std::string_view userPart = rest.substr(0, at);
    const std::size_t colon = userPart.find(':');
    parts.User = std::string(userPart.substr(0, colon));
    if (colon != std::string_view::npos) parts.Pass = std::string(userPart.substr(colon + 1));
    rest = rest.substr(at + 1);
  }
  std::string_view hostPart = rest;
  std::string_view pathPart;
  if (const std::size_t pathStart = rest.find('/'); pathStart != std::string_view::npos) {
    hostPart = rest.substr(0, pathStart);
    pathPart = rest.substr(pathStart + 1);
  }
  SplitHostAndPort(hostPart, parts);
  parts.PathWithQuery = "/" + std::string(pathPart);
  if (const std::size_t query = pathPart.find('?'); query != std::string_view::npos) {
    parts.Path = "/" + std::string(pathPart.substr(0, query));
    parts.Param = std::string(pathPart.substr(query + 1));
  } else {
    parts.Path = parts.PathWithQuery;
  }
  if (parts.Host.empty()) parts.Host = "localhost";
  return parts;
}

std::string PrepareURL(std::string_view AUrl, bool AddProtocol, bool AddPort, bool ASecure) {
  if (AUrl.empty()) return {};
  TUrlParts parts = ParseURL(AUrl);
  // A port is no reason to guess plain http: an address without a scheme is always the secure one.
  if (parts.Protocol.empty() && AddProtocol) parts.Protocol = ASecure ? "https" : "http";
  if (parts.Port.empty() && AddPort) parts.Port = ASecure ? "443" : "80";
  std::string result;
  if (!parts.Protocol.empty()) result = parts.Protocol + "://";
  result += HostPart(parts);
  if (!parts.Port.empty()) result += ":" + parts.Port;
  result += parts.PathWithQuery;
  if (!result.ends_with('/')) result += '/';
  return result;
}

std::string BaseURLFromParts(std::string_view AProtocol, std::string_view AHost, std::string_view APort,
                             std::string_view APath) {
  if (AProtocol.empty() || AHost.empty()) return {};
  std::string base = Concat({AProtocol, "://", AHost});
  if (!APort.empty()) base += Concat({":", APort});
  const std::size_t page = APath.find("/static/inituser.page");
  if (page != std::string_view::npos && page > 0) base += APath.substr(0, page);
  if (!base.ends_with('/')) base += '/';
  return base;
}

std::string InvitationCode(std::string_view AQuery) {
  std::size_t start = 0;
  while (start <= AQuery.size()) {
    const std::size_t end = std::min(AQuery.find('&', start), AQuery.size());
    const std::string_view piece = AQuery.substr(start, end - start);
    if (const std::size_t code = piece.find("code="); code != std::string_view::npos)
      return std::string(piece.substr(code + 5));
    start = end + 1;
  }
  return std::string(AQuery);
}

bool InvitationHostMatches(std::string_view ABaseURL, std::string_view ALink) {
  if (ABaseURL.empty() || ALink.empty()) return true;
  return LowerCase(ABaseURL).find(LowerCase(ParseURL(ALink).Host)) != std::string::npos;
}

std::string FormatPasswordDate(const std::chrono::year_month_day& ADate) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02u/%02u/%02d", static_cast<unsigned>(ADate.day()),
                static_cast<unsigned>(ADate.month()), ((static_cast<int>(ADate.year()) % 100) + 100) % 100);
  return buffer;
}

std::string EncodeQRParameter(std::string_view AText) {
  return PercentEncode(AText, [](unsigned char c) {
    return c == ' ' || c >= 0x7F || std::string_view("%&()/:=?").find(static_cast<char>(c)) != std::string_view::npos;
  });
}

namespace api {

std::string Status() { return "public/api/status"; }
std::string Messages(TKofLanguage ALanguage) { return "public/api/messages/" + LanguageCode(ALanguage); }
std::string Login() { return "api/login"; }
std::string CertLogin() { return "api/certlogin"; }
std::string LoginStatus() { return "public/api/loginStatus"; }
std::string UserConfig() { return "public/api/user/config"; }
std::string UserConfigByCode(std::string_view AQuery) { return Concat({"public/api?code=", AQuery}); }
std::string NewAccessCode() { return "api/user/accesscode/new"; }
std::string SecondFactor() { return "api/user/secondfactor"; }
std::string SecondFactorReg() { return "api/user/secondfactor-reg"; }
std::string SecondFactorQR(std::string_view ASecretKeyUri) {
  return "public/api/qr?url=" + EncodeQRParameter(ASecretKeyUri);
}

std::string SafeBoxes(int ABoxId, bool ACountRecords) {
  std::string path = ABoxId == 0 ? std::string("safe/boxes") : IdPath("safe/boxes/%d/boxes", ABoxId);
  if (ACountRecords) path += "?getRecordsCount=true";
  return path;
}
std::string SafeBox(int ABoxId) { return IdPath("safe/boxes/%d?getExternalFilesPath=true", ABoxId); }
std::string Box(int ABoxId) { return IdPath("safe/boxes/%d", ABoxId); }
std::string Records(int ABoxId, bool AFileInfo) {
  return IdPath(AFileInfo ? "safe/boxes/%d/records?fileInfo=true" : "safe/boxes/%d/records", ABoxId);
}
std::string AddRecord(int ABoxId, bool AForceCreateTags) {
  return IdPath(AForceCreateTags ? "safe/boxes/%d/records?forceCreateTags=true" : "safe/boxes/%d/records", ABoxId);
}
std::string Record(int ARecordId) { return IdPath("safe/records/%d", ARecordId); }
std::string RecordPasswords(int ARecordId) { return IdPath("safe/records/%d/passwords", ARecordId); }
std::string DownloadFile(int ARecordId) { return IdPath("safe/records/%d/download/file", ARecordId); }
std::string UploadFile(int ARecordId) { return IdPath("safe/records/%d/upload/file", ARecordId); }
std::string TagsByBox(int ABoxId) { return IdPath("safe/tags?boxId=%d", ABoxId); }
std::string TagsByDomain(std::string_view ADomain) {
  return Concat({"safe/tags?domain=", ADomain.empty() ? std::string_view("SYSTEM") : ADomain});
}
std::string Search(std::string_view AExpression, std::string_view AQueryType) {
  std::string path = Concat({"safe/search/", AExpression});
  if (!AQueryType.empty()) path += Concat({"?queryType=", AQueryType});
  return path;
}
std::string SearchByNote(std::string_view AText) { return Concat({"safe/searchIdsByNote/", AText}); }
std::string Deleted() { return "safe/deleted"; }

std::string Watch(int ABoxId, TWatchedType AKind, bool AOn, bool AWithRecords) {
  std::string verb = AOn ? "enable" : "disable";
  verb += AKind == TWatchedType::wtChanges ? "Changes" : "Accesses";
  if (AWithRecords) verb += "All";
  return IdPath("safe/watch/%d/", ABoxId) + verb;
}

std::string FileSizeLimit() { return "safe/fileSizeLimit"; }
std::string ExternalFileParams(int ABoxId) { return IdPath("safe/boxes/%d/generateExternalFileParams", ABoxId); }

std::string GeneratePassword(TGenerationType AType, std::string_view AInvitationCode) {
  const std::string_view type = AType == TGenerationType::gtAccessCode ? "accessCode" : "login";
  if (AInvitationCode.empty()) return Concat({"public/api/user/generate-password?type=", type});
  return Concat({"public/api/user/generate-password?code=", AInvitationCode, "&type=", type});
}
std::string CheckPassword() { return "public/api/user/generate-password"; }
std::string InitUser(std::string_view AQuery) { return Concat({"public/api/inituser?", AQuery}); }

std::string AgentPassword(std::string_view AConfigName, std::string_view APlatform, std::string_view AStationName,
                          std::string_view AUserName, std::string_view ADate) {
  return Concat({"agent/getPassword?configName=", AConfigName, "&platform=", APlatform, "&stationName=",
                 AStationName, "&userName=", AUserName, "&passwordDate=", ADate});
}
std::string StationPassword(std::string_view AConfigName, std::string_view APlatform, std::string_view AStationName,
                            std::string_view AUserName, std::string_view ADate) {
  return Concat({"private/api/stationPassword?configName=", AConfigName, "&platform=", APlatform, "&stationName=",
                 AStationName, "&userName=", AUserName, "&passwordDate=", ADate});
}
std::string TicketPassword(std::string_view ATicket, std::string_view AStation, std::string_view APlatform,
                           std::string_view AUser) {
  return Concat({"public/api/getPassword?ticket=", ATicket, "&station=", AStation, "&platform=", APlatform, "&user=",
                 AUser});
}
std::string AgentConfigs() { return "private/api/agentConfigs"; }
std::string Stations(std::string_view AConfigName) {
  return Concat({"private/api/agentConfigs/", AConfigName, "/stations"});
}
std::string About() { return "static/about.page"; }

}  // namespace api

}  // namespace kof
