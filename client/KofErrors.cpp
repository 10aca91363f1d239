#include "client/KofErrors.h"

#include <cxxabi.h>

#include <cstdlib>
#include <limits>
#include <memory>
#include "support/KofJSON.h"
#include "support/KofText.h"
#include <typeinfo>

namespace kof {

namespace {

struct TStatusText {
  int Code;
  const char* English;
  const char* Czech;
};

// Texts as the server's users know them, including their misspellings.
constexpr TStatusText kHttpStatusTexts[] = {
    {100, "Continued", "Pokračování"},
    {101, "Switching protocols", "Změna protokolu"},
    {102, "Processing", "Není odpověď"},
    {104, "Reset by peer", "Reset spojení"},
    {200, "OK", "OK"},
    {201, "New object", "Nový objekt"},
    {202, "Accepted", "Nedokončeno"},
    {203, "Other source", "Jiný zdroj"},
    {204, "No contrent", "Žádná data"},
    {205, "Reset content", "Reset dat"},
    {206, "Partial content", "Částečný obsah"},
    {207, "More codes", "Více kódů"},
    {300, "More choises", "Více možností"},
    {301, "Moved", "Přesunuto"},
    {302, "Temporarily moved", "Dočasně přesunuto"},
    {303, "Use other request", "Použijte jiný požadavek"},
    {304, "Not modified", "Nezměněno"},
    {305, "Use proxy", "Použijte proxy"},
    {307, "Temporary redirected", "Dočasně mimo"},
    {400, "Bad request", "Nesprávný požadavek"},
    {401, "Unauthorized", "Neznámé jméno nebo nesprávné heslo"},
    {402, "Payment required", "Požadována platba"},
    {403, "Forbidden", "Odmítnuto"},
    {404, "Not found", "Nenalezeno"},
    {405, "Not allowed", "Nepodporováno"},
    {406, "Not acceptable", "Neakceptováno"},
    {407, "Unauthoriuzed proxy", "Proxy neautorizoval"},
    {408, "Timeout", "Vypršel čas"},
    {409, "Conflict", "Konflikt"},
    {410, "Gone", "Nedostupné"},
    {411, "Length required", "Nedefinovaná délka"},
    {412, "Failed", "Chybné přednastavení"},
    {413, "Too large", "Příliš velký požadavek"},
    {414, "Too large URI", "Příliš dlouhé URI"},
    {415, "Unsupported media type", "Nepodoporované médium"},
    {416, "Not satisfiable", "Nevyhovující rozsah"},
    {417, "Expectation failed", "Selhalo očekávání"},
    {422, "Unprocessable", "Nezpracovatelné"},
    {423, "Locked", "Uzamčeno"},
    {424, "Failed dependency", "Neúspěch"},
    {500, "Internal server error", "Chyba serveru"},
    {501, "Not implemented", "Neimplementováno"},
    {502, "Bad gateway", "Chyba proxy"},
    {503, "Service unavailable", "Nedostupná služba"},
    {504, "Gateway timeout", "Vypršel čas proxy"},
    {505, "Version not supported", "Nepodporovaný protokol"},
    {506, "Variant also varies", "Jiná configurace"},
    {507, "Insufficient storage", "Nedostatek místa"},
    {510, "Not extended", "Chybí rozšíření"},
};

// The first comma that separates two parameters: never the first character,
// never one escaped by a backslash.
std::size_t FindParamSeparator(std::string_view text) {
  for (std::size_t i = 1; i < text.size(); ++i)
    if (text[i] == ',' && text[i - 1] != '\\') return i;
  return std::string_view::npos;
}

std::string UnescapeParam(std::string_view raw) {
  std::string param = ReplaceAll(raw, "\\\\", "\\");
  param = ReplaceAll(param, "\\\"", "\"");
  param = ReplaceAll(param, "\\,", ",");
  if (!param.empty() && param.front() == '"') {
    param.erase(0, 1);
    if (!param.empty() && param.back() == '"') param.pop_back();
    param = ReplaceAll(param, "\"\"", "\"");
  }
  return param;
}

std::vector<std::string> SplitParams(std::string paramText) {
  std::vector<std::string> params;
  while (!paramText.empty()) {
    const std::size_t sep = FindParamSeparator(paramText);
    params.push_back(UnescapeParam(std::string_view(paramText).substr(0, sep)));
    paramText = sep == std::string::npos ? std::string() : Trim(std::string_view(paramText).substr(sep + 1));
  }
  return params;
}

// Server texts come with bare line feeds; the plugin shows CR LF.
std::string LineFeedsToCrLf(std::string_view text) {
  return ReplaceAll(ReplaceAll(text, "\r\n", "\n"), "\n", "\r\n");
}

std::string MemberText(const TJSONObject& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end()) throw EKofResponseError(std::string("Error answer without \"") + name + "\"");
  if (it->is_null()) return {};
  return LineFeedsToCrLf(it->is_string() ? it->get<std::string>() : it->dump());
}

int MemberRecordId(const TJSONObject& object) {
  const auto it = object.find("recordId");
  if (it == object.end() || !it->is_number_integer()) return 0;
  const auto value = it->get<long long>();
  if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) return 0;
  return static_cast<int>(value);
}

std::string StatusAndText(int status, std::string_view text) { return std::to_string(status) + " " + std::string(text); }

// "<status text> (<text>)" for a known status, else "<code> <text>".
std::string WrapWithStatus(int status, std::string_view text, TKofLanguage language) {
  if (const auto statusText = GetHttpStatusText(status, language))
    return *statusText + " (" + std::string(text) + ")";
  return StatusAndText(status, text);
}

}  // namespace

std::optional<std::string> GetHttpStatusText(int ACode, TKofLanguage ALanguage) {
  for (const auto& row : kHttpStatusTexts)
    if (row.Code == ACode)
      return std::to_string(ACode) + " " + (ALanguage == TKofLanguage::koflngCzech ? row.Czech : row.English) + " ";
  return std::nullopt;
}

std::optional<TServerMessage> ParseServerMessage(std::string_view AText) {
  if (!StartsText("m:", AText)) return std::nullopt;
  const std::string_view body = AText.substr(2);
  const std::size_t bracket = body.find('[');
  TServerMessage message;
  if (bracket == std::string_view::npos) {
    message.Key = Trim(body);
    return message;
  }
  message.Key = Trim(body.substr(0, bracket));
  std::string paramText = Trim(body.substr(bracket + 1));
  if (!paramText.empty() && paramText.back() == ']') paramText.pop_back();
  message.Params = SplitParams(std::move(paramText));
  return message;
}

bool ParseErrorText(std::string_view AText, int AStatus, const TKofErrorMessages& ACatalogue, TKofError& AError) {
  AError.Key.clear();
  AError.Code = AStatus;
  const TKofLanguage language = ACatalogue.Language();
  if (StartsText("err,", AText)) {
    AError.Msg = std::string(AText.substr(4));
    AError.Subj.clear();
    return true;
  }
  const TJSONParsed parsed = ParseJSON(AText);
  if (parsed.Fault == TJSONFault::jfTooDeep) throw EKofResponseError("The server's error answer is nested too deeply");
  const TJSONObject& doc = parsed.Value;
  if (!doc.is_object()) return false;
  const auto msgs = doc.find("msg");
  if (msgs == doc.end() || !msgs->is_array()) return false;
  if (msgs->empty()) throw EKofResponseError("Error answer with an empty \"msg\" list");
  const auto& first = msgs->front();
  AError.Subj.clear();
  if (!first.is_object()) {
    AError.Msg = StatusAndText(AStatus, AText);
    return true;
  }
  const std::string severity = MemberText(first, "severity");
  const std::string message = MemberText(first, "message");
  MemberText(first, "translationKey");  // must be there; its value is not used
  AError.RecordId = MemberRecordId(first);
  if (!SameText(severity, "ERROR")) {
    AError.Msg = StatusAndText(AStatus, AText);
    return true;
  }
  if (const auto parsed = ParseServerMessage(message)) {
    AError.Key = parsed->Key;
    std::string text;
    if (ACatalogue.GetErrorText(parsed->Key, parsed->Params, text)) {
      AError.Msg = std::move(text);
    } else {
      AError.Msg = WrapWithStatus(AStatus, text, language);
      AError.Key = kKeyHttpError;
    }
    return true;
  }
  AError.Key = kKeyHttpError;
  AError.Msg = WrapWithStatus(AStatus, message, language);
  return true;
}

std::string ComposeErrorMsg(const TKofError& AError, int ALastStatus, std::string_view AStatusLineText,
                            TKofLanguage ALanguage) {
  if (!AError.Msg.empty()) return AError.Subj.empty() ? AError.Msg : AError.Msg + " (" + AError.Subj + ")";
  if (AError.Code != 0) return "KOF Error #" + std::to_string(AError.Code);
  if (ALastStatus != 0 && ALastStatus != 200) {
    std::string text = "Error #" + std::to_string(ALastStatus);
    if (const auto statusText = GetHttpStatusText(ALastStatus, ALanguage))
      text += " (" + *statusText + ")";
    else if (!AStatusLineText.empty())
      text += " (" + std::string(AStatusLineText) + ")";
    return text;
  }
  return {};
}

std::string ExceptionClassName(const std::exception& AError) {
  const char* mangled = typeid(AError).name();
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                       &std::free);
  std::string name = status == 0 && demangled ? demangled.get() : mangled;
  if (const auto pos = name.rfind("::"); pos != std::string::npos) name.erase(0, pos + 2);
  return name;
}

bool IsAccessCodeKey(std::string_view AKey) {
  return SameText(AKey, kKeyInvalidAccessCode) || SameText(AKey, kKeyMissingAccessCode) ||
         SameText(AKey, kKeyBannedAccessCode);
}

bool IsDuplicateKey(std::string_view AKey) { return EndsText(kKeyDuplicateSuffix, AKey); }

}  // namespace kof
