#include "model/KofObjects.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ctime>

#include "crypto/KofUrlEncode.h"
#include "support/KofText.h"

namespace kof {

// ---------------------------------------------------------------- parsing

TJSONObject ParseKofJSON(std::string_view AText) {
  TJSONParsed parsed = ParseJSON(AText);
  switch (parsed.Fault) {
    case TJSONFault::jfNone:
      break;
    case TJSONFault::jfTooDeep:
      throw EKofJSONError("JSON text is nested too deeply");
    case TJSONFault::jfSyntax:
      throw EKofJSONError("The answer is not valid JSON (at byte " + std::to_string(parsed.Byte) + ")");
  }
  return std::move(parsed.Value);
}

// ---------------------------------------------------------------- times

namespace {

constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 as a day count from 1899-12-30
constexpr double kSecondsPerDay = 86400.0;

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::int64_t RoundMsToSeconds(std::int64_t AMilliseconds) {
  std::int64_t q = AMilliseconds / 1000;
  std::int64_t r = AMilliseconds % 1000;
  if (r < 0) {
    --q;
    r += 1000;
  }
  if (r > 500 || (r == 500 && (q & 1) != 0)) ++q;
  return q;
}

std::int64_t ServerTimeToSeconds(std::int64_t AMilliseconds) {
  constexpr std::int64_t kEarliest = -11644473600;  // 1601-01-01
  constexpr std::int64_t kLatest = 253402300799;    // 9999-12-31 23:59:59
  return std::clamp(RoundMsToSeconds(AMilliseconds), kEarliest, kLatest);
}

TDateTime UnixToDateTime(std::int64_t ASeconds) {
  return kUnixEpochDays + static_cast<double>(ASeconds) / kSecondsPerDay;
}

std::int64_t DateTimeToUnix(TDateTime AValue) {
  // Far beyond any real time; keeps the conversion below defined.
  if (!std::isfinite(AValue)) return 0;
  AValue = std::clamp(AValue, -1e8, 1e8);
  return static_cast<std::int64_t>(std::llround((AValue - kUnixEpochDays) * kSecondsPerDay));
}

TDateTime UnixToLocalDateTime(std::int64_t ASeconds) {
  const std::time_t t = static_cast<std::time_t>(ASeconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return UnixToDateTime(ASeconds);
  const std::int64_t days = DaysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday);
  const std::int64_t secs = days * 86400 + local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  return UnixToDateTime(secs);
}

long LocalUtcOffset(std::int64_t ASeconds) {
  const std::time_t t = static_cast<std::time_t>(ASeconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

std::int64_t LocalDateTimeToUnix(TDateTime AValue) {
  // The wall-clock value read as UTC, corrected by the zone's offset at that instant.
  const std::int64_t asUtc = DateTimeToUnix(AValue);
  const long offset = LocalUtcOffset(asUtc);
  return asUtc - LocalUtcOffset(asUtc - offset);
}

// ---------------------------------------------------------------- values

std::optional<std::string> JSONValueText(const TJSONObject& AJSON, std::string_view AKey) {
  if (!AJSON.is_object()) return std::nullopt;
  const auto it = AJSON.find(AKey);
  if (it == AJSON.end()) return std::nullopt;
  const TJSONObject& v = *it;
  switch (v.type()) {
    case TJSONObject::value_t::string:
      return v.get_ref<const std::string&>();
    case TJSONObject::value_t::boolean:
      return std::string(v.get<bool>() ? "true" : "false");
    case TJSONObject::value_t::null:
      return std::string("null");
    case TJSONObject::value_t::number_integer:
      return std::to_string(v.get<std::int64_t>());
    case TJSONObject::value_t::number_unsigned:
      return std::to_string(v.get<std::uint64_t>());
    case TJSONObject::value_t::number_float:
      return v.dump();
    default:
      return std::string();
  }
}

namespace {

template <class TInt>
std::optional<TInt> ParseInteger(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  TInt value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::int32_t> StrToInt32(std::string_view AText) { return ParseInteger<std::int32_t>(AText); }
std::optional<std::int64_t> StrToInt64(std::string_view AText) { return ParseInteger<std::int64_t>(AText); }

bool StrToBoolean(std::string_view AText) {
  if (SameText(AText, "true")) return true;
  if (SameText(AText, "false") || AText.empty()) return false;
  const std::string text(AText);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && value != 0.0 && !std::isnan(value);
}

std::optional<TKofObjectType> KofObjectTypeFromStr(std::string_view AType) {
  for (int i = 0; i < kKofObjectTypeCount; ++i)
    if (SameText(AType, KofObjectTypeStr[i])) return static_cast<TKofObjectType>(i);
  return std::nullopt;
}

// ---------------------------------------------------------------- writers

void TKofFieldWriter::BeginObject(std::string_view AKey) {
  FOuter.push_back(FTarget);
  TJSONObject& child = (*FTarget)[std::string(AKey)];
  child = TJSONObject::object();
  FTarget = &child;
}

void TKofFieldWriter::EndObject() {
  FTarget = FOuter.back();
  FOuter.pop_back();
}

namespace {

class TPlainWriter : public TKofFieldWriter {
 public:
  using TKofFieldWriter::TKofFieldWriter;
  void Text(std::string_view AKey, std::string_view AValue) override { Target()[std::string(AKey)] = AValue; }
  void Note(std::string_view AKey, std::string_view AValue) override {
    Target()[std::string(AKey)] = TKofObject::TextToJS(AValue);
  }
  void Number(std::string_view AKey, std::int64_t AValue) override { Target()[std::string(AKey)] = AValue; }
  void Boolean(std::string_view AKey, bool AValue) override { Target()[std::string(AKey)] = AValue; }
};

class TEncryptingWriter : public TKofFieldWriter {
 public:
  TEncryptingWriter(TJSONObject& ATarget, TSaltyClientEncryption& AEnc, TByteSpan AKey)
      : TKofFieldWriter(ATarget), FEnc(AEnc), FKey(AKey) {}
  void Text(std::string_view AKey, std::string_view AValue) override {
    const std::string encrypted = FEnc.Encrypt(FKey, AValue);
    if (FEnc.CryptError()) throw EKofCryptError("NaCL Encrypt Error");
    Target()[std::string(AKey)] = EncodeURLUTF8(encrypted);
  }
  void Note(std::string_view AKey, std::string_view AValue) override { Text(AKey, AValue); }
  void Number(std::string_view AKey, std::int64_t AValue) override { Text(AKey, std::to_string(AValue)); }
  void Boolean(std::string_view AKey, bool AValue) override { Text(AKey, AValue ? "true" : "false"); }

 private:
  TSaltyClientEncryption& FEnc;
  TByteSpan FKey;
};

}  // namespace

// ---------------------------------------------------------------- TKofObject

TKofObject::TKofObject(const TJSONObject& JSON) {
  ReadInt(JSON, "id", FId, 0);
  ReadText(JSON, "name", FName);
  if (const auto modified = JSONValueText(JSON, "modified")) SetModified(StrToInt64(*modified).value_or(0));
}

TKofObject::~TKofObject() { DetachObject(); }

void TKofObject::SetModified(std::int64_t AMilliseconds) {
  const std::int64_t seconds = ServerTimeToSeconds(AMilliseconds);
  FModifiedUTC = UnixToDateTime(seconds);
  FModified = UnixToLocalDateTime(seconds);
}

std::string TKofObject::JSToStr(std::string_view S) {
  if (S == "null") return {};
  return ReplaceAll(S, "\n", "\r\n");
}

std::string TKofObject::TextToJS(std::string_view S) { return ReplaceAll(S, "\r\n", "\n"); }

std::string TKofObject::JSToMnemo(std::string_view S) {
  if (S == "null") return {};
  return ReplaceAll(S, "\n", "\\n");
}

std::string TKofObject::TextToMnemo(std::string_view S) { return ReplaceAll(S, "\r\n", "\\n"); }

std::string TKofObject::MnemoToStr(std::string_view S) {
  std::string result;
  result.reserve(S.size());
  for (std::size_t i = 0; i < S.size(); ++i) {
    if (S[i] == '\\' && i + 1 < S.size() && (S[i + 1] == 'n' || S[i + 1] == 'N')) {
      result += "\r\n";
      ++i;
    } else {
      result += S[i];
    }
  }
  return result;
}

bool TKofObject::ReadText(const TJSONObject& J, std::string_view AKey, std::string& AField) {
  auto text = JSONValueText(J, AKey);
  if (!text) return false;
  AField = JSToStr(*text);
  return true;
}

bool TKofObject::ReadSecret(const TJSONObject& J, std::string_view AKey, std::string& AField) {
  if (!ReadText(J, AKey, AField)) return false;
  FSecureFieldsUsed = true;
  return true;
}

bool TKofObject::ReadSecret(const TJSONObject& J, std::string_view AKey, SecureString& AField) {
  auto text = JSONValueText(J, AKey);
  if (!text) return false;
  std::string value = JSToStr(*text);
  AField.Assign(value);
  WipeString(value);
  WipeString(*text);
  FSecureFieldsUsed = true;
  return true;
}

void TKofObject::ReadInt(const TJSONObject& J, std::string_view AKey, std::int32_t& AField, std::int32_t ADefault) {
  if (const auto text = JSONValueText(J, AKey)) AField = StrToInt32(*text).value_or(ADefault);
}

void TKofObject::ReadInt64(const TJSONObject& J, std::string_view AKey, std::int64_t& AField,
                           std::int64_t ADefault) {
  if (const auto text = JSONValueText(J, AKey)) AField = StrToInt64(*text).value_or(ADefault);
}

void TKofObject::ReadBool(const TJSONObject& J, std::string_view AKey, bool& AField) {
  if (const auto text = JSONValueText(J, AKey)) AField = StrToBoolean(*text);
}

const TJSONObject* TKofObject::Attributes(const TJSONObject& J) {
  if (!J.is_object()) return nullptr;
  const auto it = J.find("attributes");
  return it != J.end() && it->is_object() ? &*it : nullptr;
}

bool TKofObject::DecryptField(TSaltyClientEncryption& Enc, TByteSpan Key, std::string& AField) {
  SecureString plain = Enc.Decrypt(Key, AField);
  if (Enc.CryptError()) return false;
  AField.assign(plain.View());
  return true;
}

bool TKofObject::DecryptField(TSaltyClientEncryption& Enc, TByteSpan Key, SecureString& AField) {
  SecureString plain = Enc.Decrypt(Key, AField.View());
  if (Enc.CryptError()) return false;
  AField = std::move(plain);
  return true;
}

void TKofObject::WriteFields(TKofFieldWriter& W, bool AUpdate, bool /*AFileContent*/) const {
  if (AUpdate) W.Number("id", FId);
  if (!kofBoxKinds.Contains(GetObjType())) W.Text("template", KofObjectTypeStr[GetObjType()]);
  W.Text("name", FName);
}

TJSONObject TKofObject::SaveTo(bool AUpdate, bool AFileContent) const {
  TJSONObject result = TJSONObject::object();
  TPlainWriter writer(result);
  WriteFields(writer, AUpdate, AFileContent);
  return result;
}

TJSONObject TKofObject::SaveEncryptedTo(TSaltyClientEncryption& Enc, TByteSpan ServerPublicKey, bool AUpdate,
                                        bool AFileContent) const {
  TJSONObject result = TJSONObject::object();
  TEncryptingWriter writer(result, Enc, ServerPublicKey);
  WriteFields(writer, AUpdate, AFileContent);
  return result;
}

bool TKofObject::Decrypt(TSaltyClientEncryption& Enc, TByteSpan ServerPublicKey) {
  if (FUndecryptable) {
    Enc.SetCryptError();
    return false;
  }
  return DecryptField(Enc, ServerPublicKey, FName);
}

void TKofObject::GetSecureFieldsFrom(const TKofObject& Obj) {
  FSecureFieldsUsed = true;
  if (Obj.FId > 0) FId = Obj.FId;
  if (!Obj.FName.empty()) FName = Obj.FName;
  FNeedsToBeDecrypted = FNeedsToBeDecrypted || Obj.FNeedsToBeDecrypted;
}

bool TKofObject::AssignNonEmptyFieldsFrom(const TKofObject& Obj) {
  if (Obj.GetObjType() != GetObjType()) return false;
  FMark = Obj.FMark;
  FModified = Obj.FModified;
  FModifiedUTC = Obj.FModifiedUTC;
  return true;
}

void TKofObject::SaveToList(TSecureLines& List) const {
  List.clear();
  List.emplace_back("id= " + std::to_string(FId));
  List.emplace_back("name = " + FName);
}

std::string TKofObject::JSONStr() const {
  return JSONObj().dump(-1, ' ', false, TJSONObject::error_handler_t::replace);
}

std::int64_t TKofObject::Size() const {
  const std::string text = SaveTo(true, false).dump(-1, ' ', false, TJSONObject::error_handler_t::replace);
  return static_cast<std::int64_t>(Utf16Units(text));
}

void TKofObject::AttachObject(std::shared_ptr<void> AObject) {
  DetachObject();
  FAttachedObject = AObject.get();
  FAttachedOwner = std::move(AObject);
  FOwnedObject = true;
}

void TKofObject::AttachObject(void* AObject) {
  DetachObject();
  FAttachedObject = AObject;
  FOwnedObject = false;
}

void TKofObject::DetachObject() {
  if (!FOwnedObject) return;  // a borrowed reference stays until the next attach
  FAttachedOwner.reset();
  FAttachedObject = nullptr;
  FOwnedObject = false;
}

// ---------------------------------------------------------------- TKofList

TKofObject* TKofList::Add(std::unique_ptr<TKofObject> AObject) {
  FItems.push_back(std::move(AObject));
  FSorted = false;
  return FItems.back().get();
}

void TKofList::Delete(int AIndex) { FItems.erase(FItems.begin() + AIndex); }

std::unique_ptr<TKofObject> TKofList::Extract(int AIndex) {
  std::unique_ptr<TKofObject> item = std::move(FItems[AIndex]);
  FItems.erase(FItems.begin() + AIndex);
  return item;
}

void TKofList::Clear() {
  FItems.clear();
  FSorted = false;
}

std::int64_t TKofList::Size() const {
  std::int64_t total = 0;
  for (const auto& item : FItems) total += item->Size();
  return total;
}

int TKofList::NumberOfMarked() const {
  return static_cast<int>(std::count_if(FItems.begin(), FItems.end(), [](const auto& o) { return o->Mark(); }));
}

int TKofList::StandardCount() const {
  return static_cast<int>(
      std::count_if(FItems.begin(), FItems.end(), [](const auto& o) { return o->ObjType() != kofExternalFile; }));
}

TKofObject* TKofList::FindBy(std::int32_t AId) const {
  for (const auto& item : FItems)
    if (item->Id() == AId) return item.get();
  return nullptr;
}

bool TKofList::FindSafeBox(std::int32_t AId, std::string& AName) const {
  AName.clear();
  for (const auto& item : FItems) {
    if (kofBoxKinds.Contains(item->ObjType()) && item->Id() == AId) {
      AName = item->Name();
      return true;
    }
  }
  return false;
}

bool TKofList::FindSafeBox(std::string_view AName, std::int32_t& AId) const {
  const std::string haystack = LowerCase(AName);
  for (const auto& item : FItems) {
    if (!kofBoxKinds.Contains(item->ObjType()) || item->Name().empty()) continue;
    if (haystack.find(LowerCase(item->Name())) != std::string::npos) {
      AId = item->Id();
      return true;
    }
  }
  return false;
}

bool TKofList::Find(std::string_view S, int& Index) const {
  if (!FSorted) return false;
  int lo = 0;
  int hi = Count() - 1;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    const int cmp = CompareText(FItems[mid]->Name(), S);
    if (cmp < 0) {
      lo = mid + 1;
    } else if (cmp > 0) {
      hi = mid - 1;
    } else {
      Index = mid;
      return true;
    }
  }
  Index = lo;
  return false;
}

void TKofList::SortByName() {
  if (FSorted || FItems.empty()) return;
  std::stable_sort(FItems.begin(), FItems.end(),
                   [](const auto& a, const auto& b) { return CompareText(a->Name(), b->Name()) < 0; });
  FSorted = true;
}

// ---------------------------------------------------------------- results

namespace {

std::string TextOf(const TJSONObject& J, std::string_view AKey) {
  const auto text = JSONValueText(J, AKey);
  return text ? TKofObject::JSToStr(*text) : std::string();
}

std::int32_t IntOf(const TJSONObject& J, std::string_view AKey, std::int32_t ADefault) {
  const auto text = JSONValueText(J, AKey);
  return text ? StrToInt32(*text).value_or(ADefault) : ADefault;
}

}  // namespace

TSearchResult::TSearchResult(const TJSONObject& JSON)
    : FId(IntOf(JSON, "id", 1)),
      FName(TextOf(JSON, "name")),
      FDescription(TextOf(JSON, "description")),
      FType(TextOf(JSON, "type")),
      FOwnerId(IntOf(JSON, "ownerId", -1)),
      FTemplate(TextOf(JSON, "template")),
      FParent(TextOf(JSON, "parent")),
      FParentId(IntOf(JSON, "parentId", -1)),
      FKofObjType(KofObjectTypeFromStr(FType).value_or(kofConfiguration)) {}

TDomainTag::TDomainTag(const TJSONObject& JSON)
    : FId(IntOf(JSON, "id", -1)),
      FName(TextOf(JSON, "name")),
      FDescription(TextOf(JSON, "description")),
      FDomainId(IntOf(JSON, "domainId", 0)) {}

bool TDomainTagsList::FindBy(std::string_view AName, int& AIndex) const {
  for (int i = 0; i < Count(); ++i) {
    if (SameText(FItems[i]->Name(), AName)) {
      AIndex = i;
      return true;
    }
  }
  return false;
}

TDeletedItem::TDeletedItem(const TJSONObject& JSON)
    : FId(IntOf(JSON, "id", -1)),
      FName(TextOf(JSON, "name")),
      FOwner(TextOf(JSON, "owner")),
      FOwnerId(IntOf(JSON, "ownerId", -1)),
      FType(TextOf(JSON, "type")),
      FDescription(TextOf(JSON, "description")),
      FLogin(TextOf(JSON, "login")),
      FFromSite(TextOf(JSON, "fromSite")),
      FTemplate(TextOf(JSON, "template")),
      FParent(TextOf(JSON, "parent")),
      FDeletedParentId(IntOf(JSON, "deletedParentId", -1)),
      FDeletedParentName(TextOf(JSON, "deletedParentName")),
      FIcon(IntOf(JSON, "icon", 0)) {
  if (const auto whiteBox = JSONValueText(JSON, "whitebox")) FWhiteBox = StrToBoolean(*whiteBox);
  if (const auto deleted = JSONValueText(JSON, "deletedParent")) FDeletedParent = StrToBoolean(*deleted);
  if (const auto date = JSONValueText(JSON, "date"))
    FDate = UnixToDateTime(ServerTimeToSeconds(StrToInt64(*date).value_or(0)));
  FKofObjType = KofObjectTypeFromStr(FType).value_or(kofConfiguration);
  // The server reports every record as "account" and names its kind in "template".
  if (FKofObjType == kofAccount) FKofObjType = KofObjectTypeFromStr(FTemplate).value_or(kofAccount);
}

std::string TDeletedItem::QualifiedName() const {
  std::string result = FName;
  if (!FParent.empty()) result += " \xCB\xB8 " + FParent + " ";
  return result + "[" + std::to_string(FId) + "]";
}

bool TDeletedItemList::FindBy(std::string_view AName, int& AIndex) const {
  for (int i = 0; i < Count(); ++i) {
    if (StartsText(FItems[i]->Name(), AName)) {
      AIndex = i;
      return true;
    }
  }
  return false;
}

bool TDeletedItemList::FindByQualified(std::string_view AQualifiedName, int& AIndex) const {
  for (int i = 0; i < Count(); ++i) {
    if (StartsText(FItems[i]->QualifiedName(), AQualifiedName)) {
      AIndex = i;
      return true;
    }
  }
  return false;
}

}  // namespace kof
