#include "client/KofTypes.h"

#include "client/KofErrors.h"
#include "support/KofJSON.h"

namespace kof {

namespace {

struct TLanguageCode {
  TKofLanguage Language;
  const char* Code;
};
constexpr TLanguageCode kLanguageCodes[] = {
    {TKofLanguage::koflngEnglish, "en"},
    {TKofLanguage::koflngCzech, "cs"},
    {TKofLanguage::koflngGermany, "de"},
    {TKofLanguage::koflngFrance, "fr"},
};

std::string MemberText(const TJSONObject& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_null()) return {};
  return value.dump();
}

}  // namespace

std::string LanguageCode(TKofLanguage ALanguage) {
  for (const auto& item : kLanguageCodes)
    if (item.Language == ALanguage) return item.Code;
  return "en";
}

TKofLanguage LanguageFromCode(std::string_view ACode) {
  for (const auto& item : kLanguageCodes)
    if (SameText(ACode, item.Code)) return item.Language;
  return TKofLanguage::koflngEnglish;
}

// --- TBodyStringList ---

void TBodyStringList::Add(std::string_view AName, std::string_view AValue) {
  FEntries.push_back({std::string(AName), SecureString(AValue)});
}

const SecureString* TBodyStringList::Find(std::string_view AName) const {
  for (const auto& entry : FEntries)
    if (entry.Name == AName) return &entry.Value;
  return nullptr;
}

SecureString TBodyStringList::Line(std::size_t AIndex) const {
  const TEntry& entry = FEntries.at(AIndex);
  SecureString line(entry.Name);
  line.PushBack(FSeparator);
  if (FSeparator == ':') line.PushBack(' ');
  line.Append(entry.Value.View());
  return line;
}

// --- TKofErrorMessages ---

std::string ReadableKey(std::string_view AKey) {
  std::string text = ReplaceAll(AKey, ".", " ");
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

bool TKofErrorMessages::Refresh() {
  if (!FOnLoad) return false;
  std::string bytes;
  if (!FOnLoad(bytes)) return false;
  LoadFromJSON(bytes);
  return true;
}

void TKofErrorMessages::LoadFromJSON(std::string_view AJSON) {
  FKofErrorTable.clear();
  FKeyIndex.clear();
  const TJSONParsed doc = ParseJSON(AJSON);
  if (doc.Fault == TJSONFault::jfTooDeep) throw EKofResponseError("The server's message catalogue is nested too deeply");
  if (!doc.Value.is_object()) return;
  for (const auto& [key, value] : doc.Value.items()) {
    FKofErrorTable.push_back({key, MemberText(value)});
    FKeyIndex.emplace(key, FKofErrorTable.size() - 1);  // the first of equal keys wins
  }
}

void TKofErrorMessages::SetLanguage(TKofLanguage AValue) {
  if (AValue == FLanguage && !Empty()) return;
  const TKofLanguage previous = FLanguage;
  FLanguage = AValue;
  if (!Refresh()) FLanguage = previous;
}

bool TKofErrorMessages::GetErrorText(std::string_view AKey, const std::vector<std::string>& AParams,
                                     std::string& AResMsg) const {
  AResMsg.clear();
  const auto found = FKeyIndex.find(std::string(AKey));
  if (found == FKeyIndex.end() || found->second >= FKofErrorTable.size()) {
    AResMsg = ReadableKey(AKey);
    return false;
  }
  std::string text = FKofErrorTable[found->second].Msg;
  // The server's texts may carry a link for its web client; it means nothing here.
  if (const auto link = text.find("<a href"); link != std::string::npos) text.resize(link);
  for (std::size_t i = 0; i < AParams.size(); ++i) {
    const std::string placeholder = "{" + std::to_string(i) + "}";
    if (const auto pos = text.find(placeholder); pos != std::string::npos)
      text.replace(pos, placeholder.size(), AParams[i]);
  }
  AResMsg = std::move(text);
  return true;
}

// --- TKofClientBase ---

TKofClientBase::TKofClientBase() : FErrorMessages(std::make_unique<TKofErrorMessages>()) {
  FErrorMessages->SetOnLoad([this](std::string& bytes) { return LoadErrorMessages(bytes); });
}

TKofClientBase::~TKofClientBase() = default;

bool TKofClientBase::LoadErrorMessages(std::string&) { return true; }

void TKofClientBase::Disconnect(bool) { FNaCLEncryption.reset(); }

void TKofClientBase::SetNaCLProperties(TBodyStringList& AList, const SecureString& AAccessCode) {
  if (!FNaCLEncryption) return;
  for (const auto& line : NaCLProperties(*FNaCLEncryption, FKofServerPublicKeyBytes, AAccessCode))
    AList.Add(line.Name, line.Value);
}

}  // namespace kof
