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

namespace {

class TPlainWriter : public TKofFieldWriter {
 public:
  using TKofFieldWriter::TKofFieldWriter;
  void Text(std::string_view AKey, std::string_view AValue) override { Out().String(AKey, AValue); }
  void Note(std::string_view AKey, std::string_view AValue) override {
    std::string text = TKofObject::TextToJS(AValue);
    Out().String(AKey, text);
    WipeString(text);
  }
  void Number(std::string_view AKey, std::int64_t AValue) override { Out().Number(AKey, AValue); }
  void Boolean(std::string_view AKey, bool AValue) override { Out().Boolean(AKey, AValue); }
};

class TEncryptingWriter : public TKofFieldWriter {
 public:
  TEncryptingWriter(TJSONWriter& AOut, TSaltyClientEncryption& AEnc, TByteSpan AKey)
      : TKofFieldWriter(AOut), FEnc(AEnc), FKey(AKey) {}
  void Text(std::string_view AKey, std::string_view AValue) override {
    const std::string encrypted = FEnc.Encrypt(FKey, AValue);
    if (FEnc.CryptError()) throw EKofCryptError("NaCL Encrypt Error");
    Out().String(AKey, EncodeURLUTF8(encrypted));
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

SecureString TKofObject::SaveTo(bool AUpdate, bool AFileContent, int AIndent) const {
  return PlainJSON(AUpdate, AFileContent, AIndent, TJSONWriter::TInvalidUTF8::Refuse);
}

SecureString TKofObject::PlainJSON(bool AUpdate, bool AFileContent, int AIndent,
                                   TJSONWriter::TInvalidUTF8 AInvalid) const {
  TJSONWriter out(AIndent, AInvalid);
  TPlainWriter writer(out);
  WriteFields(writer, AUpdate, AFileContent);
  return out.Finish();
}

SecureString TKofObject::SaveEncryptedTo(TSaltyClientEncryption& Enc, TByteSpan ServerPublicKey, bool AUpdate,
                                         bool AFileContent) const {
  TJSONWriter out;
  TEncryptingWriter writer(out, Enc, ServerPublicKey);
  WriteFields(writer, AUpdate, AFileContent);
  return out.Finish();
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

TJSONObject TKofObject::JSONObj() const {
  const SecureString text = PlainJSON(false, false, -1, TJSONWriter::TInvalidUTF8::Replace);
  return ParseKofJSON(text.View());
}

std::string TKofObject::JSONStr() const {
  return PlainJSON(false, false, -1, TJSONWriter::TInvalidUTF8::Replace).Unprotected();
}

std::int64_t TKofObject::Size() const {
  const SecureString text = PlainJSON(true, false, -1, TJSONWriter::TInvalidUTF8::Replace);
  return static_cast<std::int64_t>(Utf16Units(text.View()));
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
  FUnreadable = 0;
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
