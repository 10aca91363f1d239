#include "model/KofClasses.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>

#include "crypto/KofUrlEncode.h"
#include "support/KofText.h"
#include "support/VarnokCommonCode.h"

namespace kof {

namespace {

template <class T>
const T* As(const TKofObject& Obj) {
  return dynamic_cast<const T*>(&Obj);
}

void CopyIfNotEmpty(std::string& ATarget, const std::string& ASource) {
  if (!ASource.empty()) ATarget = ASource;
}

void CopyIfNotEmpty(SecureString& ATarget, const SecureString& ASource) {
  if (!ASource.Empty()) ATarget = ASource;
}

SecureString Line(std::string_view ALabel, std::string_view AValue) {
  SecureString line(ALabel);
  line.Append(AValue);
  return line;
}

// A member that must be a JSON number; anything else gives 0.
std::int64_t JSONNumber(const TJSONObject& J, std::string_view AKey) {
  const auto it = J.find(AKey);
  if (it == J.end()) return 0;
  if (it->is_number_integer()) {
    if (it->is_number_unsigned() && it->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) return 0;
    return it->get<std::int64_t>();
  }
  if (it->is_number_float()) {
    const double value = it->get<double>();
    if (std::isfinite(value) && std::fabs(value) < 9.2e18) return static_cast<std::int64_t>(value);
  }
  return 0;
}

// Milliseconds since 1970 as a day count, without zone adjustment; a value that
// is not an integer is an error.
void ReadStationTime(const TJSONObject& J, std::string_view AKey, TDateTime& AField) {
  const auto text = JSONValueText(J, AKey);
  if (!text) return;
  const auto ms = StrToInt64(*text);
  if (!ms) throw EConvertError("\"" + std::string(AKey) + "\" is not a valid integer value");
  AField = static_cast<double>(*ms) / 86400000.0 + 25569.0;
}

}  // namespace

// ================================================================ TKofSafeBox

TKofSafeBox::TKofSafeBox(const TJSONObject& JSON) : TKofObject(JSON) {
  ReadText(JSON, "description", FDescription);
  std::string pattern;
  if (ReadText(JSON, "passwordPattern", pattern)) FPasswordPattern.Assign(pattern);
  WipeString(pattern);
  ReadBool(JSON, "privateBox", FPrivateBox);
  ReadInt(JSON, "parentId", FParentId, 0);
  ReadText(JSON, "ownerName", FOwnerName);
  ReadText(JSON, "domainName", FDomainName);
  ReadText(JSON, "boxACL", FBoxACL);
  ReadBool(JSON, "watched", FWatchedChanges);
  ReadBool(JSON, "watchedAccesses", FWatchedAccesses);
  ReadText(JSON, "externalFilesPath", FExternalFilesPath);
  if (JSON.contains("canCreateRecordTags")) {
    FCanCreateRecordTagsPresent = true;
    ReadBool(JSON, "canCreateRecordTags", FCanCreateRecordTags);
  }
  FOrder = JSONNumber(JSON, "order");
  FRecordsCount = JSONNumber(JSON, "recordsCount");
}

TKofSafeBox::TKofSafeBox(std::string_view AName, std::string_view APasswordPattern, bool APrivateBox,
                         std::int32_t AParentId)
    : FPasswordPattern(APasswordPattern), FPrivateBox(APrivateBox), FParentId(AParentId) {
  SetName(AName);
}

TKofSafeBox::~TKofSafeBox() = default;

std::string TKofSafeBox::GetUniqueName() const {
  if (!FOwnerName.empty() && !FDomainName.empty()) return Name() + " (" + FOwnerName + ", " + FDomainName + ")";
  if (!FOwnerName.empty()) return Name() + " (" + FOwnerName + ")";
  if (!FDomainName.empty()) return Name() + " (" + FDomainName + ")";
  return Name();
}

void TKofSafeBox::SetWatchedChanges(bool AValue) {
  FWatchedChanges = AValue;
  FWatchedChangesModified = true;
}

void TKofSafeBox::SetWatchedAccesses(bool AValue) {
  FWatchedAccesses = AValue;
  FWatchedAccessesModified = true;
}

void TKofSafeBox::ClearWatched(std::initializer_list<TWatchedType> AWatchTypes) {
  for (TWatchedType type : AWatchTypes) {
    if (type == wtChanges) FWatchedChangesModified = false;
    if (type == wtAccesses) FWatchedAccessesModified = false;
  }
}

void TKofSafeBox::WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const {
  TKofObject::WriteFields(W, AUpdate, AFileContent);
  W.Text("description", FDescription);
  W.Text("passwordPattern", FPasswordPattern.View());
  W.Boolean("privateBox", FPrivateBox);
  W.Number("parentId", FParentId);
  W.Text("type", KofObjectTypeStr[GetObjType()]);
  if (!FOwnerName.empty()) W.Text("ownerName", FOwnerName);
  W.Text("externalFilesPath", FExternalFilesPath);
}

TJSONObject TKofSafeBox::SaveEncryptedTo(TSaltyClientEncryption&, TByteSpan, bool AUpdate, bool AFileContent) const {
  return SaveTo(AUpdate, AFileContent);
}

void TKofSafeBox::SaveToList(TSecureLines& List) const {
  TKofObject::SaveToList(List);
  List.push_back(Line("description = ", FDescription));
  List.push_back(Line("passwordPattern = ", FPasswordPattern.View()));
  List.push_back(Line("privateBox = ", FPrivateBox ? "True" : "False"));
  List.push_back(Line("parentId = ", std::to_string(FParentId)));
  List.push_back(Line("externalFilesPath = ", FExternalFilesPath));
}

void TKofSafeBox::WipeStrings() {
  TKofObject::WipeStrings();
  FPasswordPattern.Clear();
}

// ================================================================ TKofRecord

TKofRecord::TKofRecord(const TJSONObject& JSON) : TKofObject(JSON) {
  ReadText(JSON, "description", FDescription);
  const auto tags = JSON.find("tags");
  if (tags != JSON.end() && tags->is_array()) {
    for (const TJSONObject& tag : *tags) {
      if (tag.is_string())
        FTags.Add(tag.get_ref<const std::string&>());
      else if (!tag.is_structured())
        FTags.Add(tag.dump());
    }
  } else if (std::string text; ReadText(JSON, "tags", text)) {
    FTags.SetCommaText(text);
    FTagsAsText = true;
  }
  if (std::string code; ReadText(JSON, "launcher", code)) {
    FLauncher = KofLauncherFromCode(code);
    if (!IsKofLauncherCode(code)) FLauncherText = code;
  }
  ReadText(JSON, "note", FNote);
  ReadText(JSON, "site", FSite);
  if (const TJSONObject* attributes = Attributes(JSON)) ReadSecret(*attributes, "sec-note", FSecNote);
}

TKofRecord::TKofRecord(std::string_view AName, std::string_view ADescription, std::string_view ATags,
                       std::string_view ANote)
    : FDescription(ADescription), FNote(ANote) {
  SetName(AName);
  FTags.SetCommaText(ATags);
}

TKofRecord::~TKofRecord() = default;

void TKofRecord::SetLauncher(TKofLauncher AValue) {
  FLauncher = AValue;
  FLauncherText.clear();
}

bool TKofRecord::WritesSecNote() const {
  const TKofObjectType kind = GetObjType();
  return kind == kofAccountSec || kind == kofFile || kind == kofCertificate || kind == kofCreditCard;
}

void TKofRecord::WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const {
  TKofObject::WriteFields(W, AUpdate, AFileContent);
  W.Text("description", FDescription);
  W.Text("tags", FTags.CommaText());
  W.Note("note", FNote);
  W.Note("site", FSite);
  const TKofObjectType kind = GetObjType();
  if ((kind == kofAccount || kind == kofAccountSec) && FLauncher != kofLauncherNone)
    W.Text("launcher", KofLauncherCodes[FLauncher]);
  if (WritesSecNote() && SecureFieldsUsed()) W.Note("sec-note", FSecNote.View());
}

bool TKofRecord::Decrypt(TSaltyClientEncryption& Enc, TByteSpan Key) {
  if (!TKofObject::Decrypt(Enc, Key) || !DecryptField(Enc, Key, FDescription) || !DecryptField(Enc, Key, FNote))
    return false;
  bool tagsOk = true;
  for (std::string& tag : FTags.UnsortedItems())
    if (!(tagsOk = DecryptField(Enc, Key, tag))) break;
  FTags.Sort();
  // Tags sent as text are one encrypted comma text, not one tag.
  if (tagsOk && FTagsAsText && FTags.Count() == 1) FTags.SetCommaText(std::string(FTags[0]));
  if (!tagsOk || !DecryptField(Enc, Key, FSite) || !DecryptField(Enc, Key, FSecNote)) return false;
  // The launcher travels encrypted too; without this it would be lost on the next update.
  if (FLauncherText.size() > 33 && FLauncherText[32] == ':') {
    if (!DecryptField(Enc, Key, FLauncherText)) return false;
    FLauncher = KofLauncherFromCode(FLauncherText);
    FLauncherText.clear();
  }
  return true;
}

bool TKofRecord::AssignNonEmptyFieldsFrom(const TKofObject& Obj) {
  if (!TKofObject::AssignNonEmptyFieldsFrom(Obj)) return false;
  if (const auto* other = As<TKofRecord>(Obj)) {
    CopyIfNotEmpty(FDescription, other->FDescription);
    if (!other->FTags.Empty()) FTags = other->FTags;
    CopyIfNotEmpty(FNote, other->FNote);
    CopyIfNotEmpty(FSecNote, other->FSecNote);
  }
  return true;
}

void TKofRecord::GetSecureFieldsFrom(const TKofObject& Obj) {
  TKofObject::GetSecureFieldsFrom(Obj);
  if (const auto* other = As<TKofRecord>(Obj)) {
    CopyIfNotEmpty(FDescription, other->FDescription);
    if (!other->FTags.CommaText().empty()) FTags = other->FTags;
    CopyIfNotEmpty(FNote, other->FNote);
    CopyIfNotEmpty(FSecNote, other->FSecNote);
  }
}

void TKofRecord::SaveToList(TSecureLines& List) const {
  TKofObject::SaveToList(List);
  List.push_back(Line("description = ", FDescription));
  List.push_back(Line("tags = ", FTags.CommaText()));
  List.push_back(Line("note = ", FNote));
  List.push_back(Line("site = ", FSite));
  const TKofObjectType kind = GetObjType();
  if ((kind == kofAccount || kind == kofAccountSec) && FLauncher != kofLauncherNone)
    List.push_back(Line("launcher = ", KofLauncherCodes[FLauncher]));
  if ((kind == kofAccountSec || kind == kofFile || kind == kofCreditCard) && SecureFieldsUsed())
    List.push_back(Line("sec-note = ", FSecNote.View()));
}

void TKofRecord::WipeStrings() {
  TKofObject::WipeStrings();
  FSecNote.Clear();
  SetSecureFieldsUsed(false);
}

// ================================================================ TKofAccountCommon

TKofAccountCommon::TKofAccountCommon(const TJSONObject& JSON) : TKofRecord(JSON) {
  ReadText(JSON, "site", FLoginSite);
  ReadSecret(JSON, "password", FPassword);
  ReadSecret(JSON, "passwordRe", FPasswordRe);
  if (const TJSONObject* attributes = Attributes(JSON)) ReadSecret(*attributes, "passwordPattern", FPasswordPattern);
  if (Trim(FPasswordPattern.View()).empty()) {
    // The listing form carries the pattern at the top level; it is no secret field there.
    std::string pattern;
    if (ReadText(JSON, "passwordPattern", pattern)) FPasswordPattern.Assign(pattern);
    WipeString(pattern);
  }
}

TKofAccountCommon::TKofAccountCommon(std::string_view AName, std::string_view ADescription, std::string_view ATags,
                                     std::string_view ANote, std::string_view APasswordPattern,
                                     std::string_view APassword, std::string_view ASite)
    : TKofRecord(AName, ADescription, ATags, ANote),
      FLoginSite(ASite),
      FPasswordPattern(APasswordPattern),
      FPassword(APassword),
      FPasswordRe(APassword) {
  SetSecureFieldsUsed(true);
}

TKofAccountCommon::~TKofAccountCommon() = default;

void TKofAccountCommon::SetPassword(std::string_view AValue) {
  FPassword.Assign(AValue);
  FPasswordRe.Assign(AValue);
}

void TKofAccountCommon::WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const {
  TKofRecord::WriteFields(W, AUpdate, AFileContent);
  // "site" a second time, now the login site: the server keeps the later value.
  W.Text("site", FLoginSite);
  if (SecureFieldsUsed() && !AUpdate) {
    W.Text("password", FPassword.View());
    W.Text("passwordRe", FPasswordRe.View());
  }
}

TJSONObject TKofAccountCommon::SavePasswords() const {
  TJSONObject result = TJSONObject::object();
  result["password"] = FPassword.View();
  result["passwordRe"] = FPasswordRe.View();
  return result;
}

TJSONObject TKofAccountCommon::SaveAndEncryptPasswords(TSaltyClientEncryption& Enc, TByteSpan Key) const {
  TJSONObject result = TJSONObject::object();
  for (const auto& [key, value] : {std::pair<const char*, const SecureString*>{"password", &FPassword},
                                   std::pair<const char*, const SecureString*>{"passwordRe", &FPasswordRe}}) {
    const std::string encrypted = Enc.Encrypt(Key, value->View());
    if (Enc.CryptError()) throw EKofCryptError("NaCL Encrypt Error");
    result[key] = EncodeURLUTF8(encrypted);
  }
  return result;
}

bool TKofAccountCommon::Decrypt(TSaltyClientEncryption& Enc, TByteSpan Key) {
  return TKofRecord::Decrypt(Enc, Key) && DecryptField(Enc, Key, FLoginSite) &&
         DecryptField(Enc, Key, FPasswordPattern) && DecryptField(Enc, Key, FPassword) &&
         DecryptField(Enc, Key, FPasswordRe);
}

bool TKofAccountCommon::AssignNonEmptyFieldsFrom(const TKofObject& Obj) {
  if (!TKofRecord::AssignNonEmptyFieldsFrom(Obj)) return false;
  if (const auto* other = As<TKofAccountCommon>(Obj)) {
    CopyIfNotEmpty(FPasswordPattern, other->FPasswordPattern);
    CopyIfNotEmpty(FPassword, other->FPassword);
    CopyIfNotEmpty(FPasswordRe, other->FPasswordRe);
  }
  return true;
}

void TKofAccountCommon::GetSecureFieldsFrom(const TKofObject& Obj) {
  TKofRecord::GetSecureFieldsFrom(Obj);
  if (const auto* other = As<TKofAccountCommon>(Obj)) {
    CopyIfNotEmpty(FPasswordPattern, other->FPasswordPattern);
    CopyIfNotEmpty(FPassword, other->FPassword);
    CopyIfNotEmpty(FPasswordRe, other->FPasswordRe);
  }
}

void TKofAccountCommon::SaveToList(TSecureLines& List) const {
  TKofRecord::SaveToList(List);
  List.push_back(Line("passwordPattern = ", FPasswordPattern.View()));
  if (SecureFieldsUsed()) {
    List.push_back(Line("password = ", FPassword.View()));
    List.push_back(Line("passwordRe = ", FPasswordRe.View()));
  }
}

void TKofAccountCommon::WipeStrings() {
  TKofRecord::WipeStrings();
  FPassword.Clear();
  FPasswordRe.Clear();
}

// ================================================================ TKofAccount

TKofAccount::TKofAccount(const TJSONObject& JSON) : TKofAccountCommon(JSON) {
  ReadText(JSON, "loginName", FLoginName);
  ReadText(JSON, "serverAddress", FServerAddress);
}

TKofAccount::TKofAccount(std::string_view AName, std::string_view ADescription, std::string_view ATags,
                         std::string_view ANote, std::string_view APasswordPattern, std::string_view APassword,
                         std::string_view ALoginName, std::string_view AServerAddress, std::string_view ASite)
    : TKofAccountCommon(AName, ADescription, ATags, ANote, APasswordPattern, APassword, ASite),
      FLoginName(ALoginName),
      FServerAddress(AServerAddress) {}

std::unique_ptr<TKofAccount> TKofAccount::PasswordOnly(std::string_view APassword) {
  return std::make_unique<TKofAccount>("", "", "", "", "", APassword, "", "", "");
}

void TKofAccount::WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const {
  TKofAccountCommon::WriteFields(W, AUpdate, AFileContent);
  W.Text("loginName", FLoginName);
  W.Text("serverAddress", FServerAddress);
  W.BeginObject("attributes");
  WritePasswordPattern(W);
  W.EndObject();
}

bool TKofAccount::Decrypt(TSaltyClientEncryption& Enc, TByteSpan Key) {
  return TKofAccountCommon::Decrypt(Enc, Key) && DecryptField(Enc, Key, FLoginName) &&
         DecryptField(Enc, Key, FServerAddress);
}

bool TKofAccount::AssignNonEmptyFieldsFrom(const TKofObject& Obj) {
  if (!TKofAccountCommon::AssignNonEmptyFieldsFrom(Obj)) return false;
  if (const auto* other = As<TKofAccount>(Obj)) {
    CopyIfNotEmpty(FLoginName, other->FLoginName);
    CopyIfNotEmpty(FServerAddress, other->FServerAddress);
  }
  return true;
}

void TKofAccount::GetSecureFieldsFrom(const TKofObject& Obj) {
  TKofAccountCommon::GetSecureFieldsFrom(Obj);
  if (const auto* other = As<TKofAccount>(Obj)) {
    CopyIfNotEmpty(FLoginName, other->FLoginName);
    CopyIfNotEmpty(FServerAddress, other->FServerAddress);
  }
}

void TKofAccount::SaveToList(TSecureLines& List) const {
  TKofAccountCommon::SaveToList(List);
  List.push_back(Line("loginName = ", FLoginName));
  List.push_back(Line("serverAddress = ", FServerAddress));
}

// ================================================================ TKofSecAccount

TKofSecAccount::TKofSecAccount(const TJSONObject& JSON) : TKofAccountCommon(JSON) {
  if (const TJSONObject* attributes = Attributes(JSON)) {
    ReadSecret(*attributes, "sec-loginName", FSecLoginName);
    ReadSecret(*attributes, "sec-serverAddress", FSecServerAddress);
  }
}

TKofSecAccount::TKofSecAccount(std::string_view AName, std::string_view ADescription, std::string_view ATags,
                               std::string_view ANote, std::string_view APasswordPattern,
                               std::string_view APassword, std::string_view ASecLoginName,
                               std::string_view ASecServerAddress, std::string_view ASite, std::string_view ASecNote)
    : TKofAccountCommon(AName, ADescription, ATags, ANote, APasswordPattern, APassword, ASite),
      FSecLoginName(ASecLoginName),
      FSecServerAddress(ASecServerAddress) {
  SetSecNote(ASecNote);
}

TKofSecAccount::~TKofSecAccount() = default;

std::unique_ptr<TKofSecAccount> TKofSecAccount::PasswordOnly(std::string_view APassword) {
  return std::make_unique<TKofSecAccount>("", "", "", "", "", APassword, "", "", "", "");
}

void TKofSecAccount::WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const {
  TKofAccountCommon::WriteFields(W, AUpdate, AFileContent);
  if (!SecureFieldsUsed()) return;
  W.BeginObject("attributes");
  WritePasswordPattern(W);
  W.Text("sec-serverAddress", FSecServerAddress.View());
  W.Text("sec-loginName", FSecLoginName.View());
  // Written like every other note: as held, its CR LF would come back as CR CR LF.
  W.Note("sec-note", SecNote().View());
  W.EndObject();
}

bool TKofSecAccount::Decrypt(TSaltyClientEncryption& Enc, TByteSpan Key) {
  return TKofAccountCommon::Decrypt(Enc, Key) && DecryptField(Enc, Key, FSecLoginName) &&
         DecryptField(Enc, Key, FSecServerAddress);
}

bool TKofSecAccount::AssignNonEmptyFieldsFrom(const TKofObject& Obj) {
  if (!TKofAccountCommon::AssignNonEmptyFieldsFrom(Obj)) return false;
  if (const auto* other = As<TKofSecAccount>(Obj)) {
    CopyIfNotEmpty(FSecLoginName, other->FSecLoginName);
    CopyIfNotEmpty(FSecServerAddress, other->FSecServerAddress);
  }
  return true;
}

void TKofSecAccount::GetSecureFieldsFrom(const TKofObject& Obj) {
  TKofAccountCommon::GetSecureFieldsFrom(Obj);
  if (const auto* other = As<TKofSecAccount>(Obj)) {
    CopyIfNotEmpty(FSecLoginName, other->FSecLoginName);
    CopyIfNotEmpty(FSecServerAddress, other->FSecServerAddress);
  }
}

void TKofSecAccount::SaveToList(TSecureLines& List) const {
  TKofAccountCommon::SaveToList(List);
  if (!SecureFieldsUsed()) return;
  List.push_back(Line("sec-loginName = ", FSecLoginName.View()));
  List.push_back(Line("sec-serverAddress = ", FSecServerAddress.View()));
}

void TKofSecAccount::WipeStrings() {
  TKofAccountCommon::WipeStrings();
  FSecLoginName.Clear();
  FSecServerAddress.Clear();
}

// ================================================================ TKofFile

TKofFile::TKofFile(const TJSONObject& JSON) : TKofRecord(JSON) { ReadFileKeys(JSON); }

TKofFile::TKofFile(const TJSONObject& JSON, TNoFileKeys) : TKofRecord(JSON) {}

void TKofFile::ReadFileKeys(const TJSONObject& JSON) {
  FOwnedStream = std::make_unique<TBytes>();
  FStream = FOwnedStream.get();
  if (const auto size = JSONValueText(JSON, "fileSizeApprox")) {
    const auto value = StrToInt64(*size);
    if (!value) throw EConvertError("\"fileSizeApprox\" is not a valid integer value");
    FFileSizeApprox = *value;
  }
  if (const TJSONObject* attributes = Attributes(JSON)) ReadSecret(*attributes, "file", FFileName);
  if (FFileName.empty()) ReadText(JSON, "fileName", FFileName);
  if (std::string content; ReadText(JSON, "content", content)) {
    // Content that is not Base64 leaves the stream empty; it may be ciphertext for Decrypt.
    if (auto bytes = Base64Decode(content))
      *FOwnedStream = std::move(*bytes);
    else
      FContentCipher = std::move(content);
  }
}

TKofFile::TKofFile(std::string_view AName, std::string_view ADescription, std::string_view ATags,
                   std::string_view ANote, std::string_view ASecNote, std::string_view AFilename, TBytes* AStream,
                   bool AOwnStream)
    : TKofRecord(AName, ADescription, ATags, ANote), FFileName(AFilename) {
  SetSecNote(ASecNote);
  SetSecureFieldsUsed(true);
  SetStream(AStream, AOwnStream);
}

TKofFile::TKofFile(std::string_view AName, std::string_view ADescription, std::string_view ATags,
                   std::string_view ANote, std::string_view ASecNote, std::string_view AFilename, TByteSpan AData)
    : TKofRecord(AName, ADescription, ATags, ANote), FFileName(AFilename) {
  SetSecNote(ASecNote);
  SetSecureFieldsUsed(true);
  FOwnedStream = std::make_unique<TBytes>(AData.begin(), AData.end());
  FStream = FOwnedStream.get();
}

TKofFile::TKofFile(const std::string& FilePath, std::string_view AName, std::string_view ADescription,
                   std::string_view ATags, std::string_view ANote, std::string_view ASecNote,
                   std::string_view AFilename)
    : TKofRecord(AName, ADescription, ATags, ANote) {
  SetSecNote(ASecNote);
  SetSecureFieldsUsed(true);
  LoadFile(FilePath);
  if (!AFilename.empty()) FFileName = AFilename;
}

std::int64_t TKofFile::FileSizeApprox() const {
  if (FFileSizeApprox > 0 || FStream == nullptr) return FFileSizeApprox;
  return static_cast<std::int64_t>(FStream->size());
}

void TKofFile::SetStream(TBytes* AStream, bool AOwnStream) {
  if (AOwnStream) {
    // The copy is made before the stream it may come from is freed.
    FOwnedStream = std::make_unique<TBytes>(AStream ? *AStream : TBytes{});
    FStream = FOwnedStream.get();
    return;
  }
  if (AStream != nullptr && AStream == FOwnedStream.get()) return;
  FOwnedStream.reset();
  FStream = AStream;
}

std::string TKofFile::BuildPath(std::string_view Dir, std::string_view ALocalFile) const {
  if (!ALocalFile.empty()) return std::string(ALocalFile);
  const std::string name = GetFilename();
  if (Dir.empty()) return name;
#ifdef _WIN32
  constexpr char kPathDelim = '\\';
#else
  constexpr char kPathDelim = '/';
#endif
  std::string path(Dir);
  if (path.back() != kPathDelim) path += kPathDelim;
  return path + name;
}

void TKofFile::LoadFile(const std::string& AFilename) {
  std::ifstream file(AFilename, std::ios::binary);
  if (!file) throw EFOpenError("Cannot open file " + AFilename);
  TBytes content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) throw EFOpenError("Cannot open file " + AFilename);
  LoadFile(content, ExtractFileName(AFilename));
}

void TKofFile::LoadFile(TByteSpan AStream, std::string_view AFilename) {
  FOwnedStream = std::make_unique<TBytes>(AStream.begin(), AStream.end());
  FStream = FOwnedStream.get();
  SetFilename(ExtractFileName(AFilename));
}

void TKofFile::SaveToFile(std::string_view Dir, std::string_view ALocalFile, bool AEncrypted) const {
  const std::string target = BuildPath(Dir, ALocalFile);
  TFileStreamEx file(target, fmCreate | (AEncrypted ? fmEncrypted : 0));
  // A failed write raises too: a silently short copy would pass for a good one.
  try {
    if (FStream != nullptr) file.WriteBuffer(FStream->data(), FStream->size());
  } catch (const EWriteError&) {
    // A private copy was made new here: no part of it stays behind.
    if (AEncrypted) RemoveFile(target);
    throw;
  }
}

void TKofFile::WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const {
  TKofRecord::WriteFields(W, AUpdate, AFileContent);
  if (!HasFileKeys()) return;
  if (GetObjType() == kofFile && SecureFieldsUsed()) {
    W.BeginObject("attributes");
    W.Text("file", FFileName);
    W.Note("sec-note", SecNote().View());
    W.EndObject();
  }
  if (FStream != nullptr && AFileContent) W.Text("content", Base64Encode(TByteSpan(*FStream)));
}

bool TKofFile::Decrypt(TSaltyClientEncryption& Enc, TByteSpan Key) {
  if (!TKofRecord::Decrypt(Enc, Key) || !DecryptField(Enc, Key, FFileName)) return false;
  if (FContentCipher.empty()) return true;
  // Encrypted content is the encrypted Base64 text of the stream.
  if (!DecryptField(Enc, Key, FContentCipher)) return false;
  auto bytes = Base64Decode(FContentCipher);
  FContentCipher.clear();
  if (bytes && FOwnedStream) *FOwnedStream = std::move(*bytes);
  return true;
}

void TKofFile::GetSecureFieldsFrom(const TKofObject& Obj) {
  TKofRecord::GetSecureFieldsFrom(Obj);
  if (const auto* other = As<TKofFile>(Obj)) CopyIfNotEmpty(FFileName, other->GetFilename());
}

void TKofFile::SaveToList(TSecureLines& List) const {
  TKofRecord::SaveToList(List);
  if (GetObjType() == kofFile && SecureFieldsUsed()) List.push_back(Line("file = ", FFileName));
}

// ================================================================ TKofCertificate

TKofCertificate::TKofCertificate(const TJSONObject& JSON) : TKofFile(JSON) { ReadCertificateKeys(JSON); }

void TKofCertificate::ReadCertificateKeys(const TJSONObject& JSON) {
  if (const TJSONObject* attributes = Attributes(JSON)) {
    ReadSecret(*attributes, "alias", FAlias);
    ReadSecret(*attributes, "filePassword", FFilePassword);
  }
}

TKofCertificate::TKofCertificate(std::string_view AName, std::string_view ADescription, std::string_view ATags,
                                 std::string_view ANote, std::string_view ASecNote, std::string_view AFilename,
                                 std::string_view AAlias, std::string_view AFilePassword, TBytes* AStream,
                                 bool AOwnStream)
    : TKofFile(AName, ADescription, ATags, ANote, ASecNote, AFilename, AStream, AOwnStream),
      FAlias(AAlias),
      FFilePassword(AFilePassword) {}

TKofCertificate::TKofCertificate(std::string_view AName, std::string_view ADescription, std::string_view ATags,
                                 std::string_view ANote, std::string_view ASecNote, std::string_view AFilename,
                                 std::string_view AAlias, std::string_view AFilePassword, TByteSpan AData)
    : TKofFile(AName, ADescription, ATags, ANote, ASecNote, AFilename, AData),
      FAlias(AAlias),
      FFilePassword(AFilePassword) {}

TKofCertificate::TKofCertificate(const std::string& FilePath, std::string_view AName, std::string_view ADescription,
                                 std::string_view ATags, std::string_view ANote, std::string_view ASecNote,
                                 std::string_view AFilename, std::string_view AAlias,
                                 std::string_view AFilePassword)
    : TKofFile(FilePath, AName, ADescription, ATags, ANote, ASecNote, AFilename),
      FAlias(AAlias),
      FFilePassword(AFilePassword) {}

TKofCertificate::~TKofCertificate() = default;

void TKofCertificate::WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const {
  TKofFile::WriteFields(W, AUpdate, AFileContent);
  if (!SecureFieldsUsed()) return;
  W.BeginObject("attributes");
  W.Text("alias", FAlias.View());
  W.Text("file", Filename());
  W.Text("filePassword", FFilePassword.View());
  W.Note("sec-note", SecNote().View());
  W.EndObject();
}

bool TKofCertificate::Decrypt(TSaltyClientEncryption& Enc, TByteSpan Key) {
  return TKofFile::Decrypt(Enc, Key) && DecryptField(Enc, Key, FAlias) && DecryptField(Enc, Key, FFilePassword);
}

void TKofCertificate::GetSecureFieldsFrom(const TKofObject& Obj) {
  TKofFile::GetSecureFieldsFrom(Obj);
  if (const auto* other = As<TKofCertificate>(Obj)) {
    CopyIfNotEmpty(FAlias, other->FAlias);
    CopyIfNotEmpty(FFilePassword, other->FFilePassword);
  }
}

void TKofCertificate::SaveToList(TSecureLines& List) const {
  TKofFile::SaveToList(List);
  if (!SecureFieldsUsed()) return;
  List.push_back(Line("alias = ", FAlias.View()));
  List.push_back(Line("file = ", Filename()));
  List.push_back(Line("filePassword = ", FFilePassword.View()));
}

void TKofCertificate::WipeStrings() {
  TKofFile::WipeStrings();
  FAlias.Clear();
  FFilePassword.Clear();
  std::string name = GetFilename();
  WipeString(name);
  SetFilename("");
}

// ================================================================ external files

void TKofExternalFileAttributes::Assign(const TKofObject* Rec) {
  efOldFilePath.clear();
  const auto* file = dynamic_cast<const TKofExternalFile*>(Rec);
  if (file == nullptr) return;
  efOrigFileName = file->efOrigFilename();
  efFilePath = file->efFilePath();
  efKey = file->efKey();
  efIV = file->efIV();
  efAAD = file->efAAD();
}

void TKofExternalFileAttributes::Clear() {
  efOrigFileName.clear();
  efFilePath.clear();
  efKey.Clear();
  efIV.Clear();
  efAAD.Clear();
  efOldFilePath.clear();
}

TKofExternalFile::TKofExternalFile(const TJSONObject& JSON) : TKofFile(JSON, TNoFileKeys{}) {
  const TJSONObject* attributes = TKofObject::Attributes(JSON);
  if (attributes == nullptr) return;
  ReadSecret(*attributes, "efFileName", FefOrigFileName);
  ReadSecret(*attributes, "efFilePath", FefFilePath);
  ReadSecret(*attributes, "efKey", FefKey);
  ReadSecret(*attributes, "efIV", FefIV);
  ReadSecret(*attributes, "efAAD", FefAAD);
  // Listings with file sizes carry "fileSize" alone: it is no secret, and taking it for one
  // would make an update write the five other fields empty over the stored key material.
  if (ReadText(*attributes, "fileSize", FFileSizeAsString)) FFileSize = StrToInt64(FFileSizeAsString).value_or(0);
}

TKofExternalFile::TKofExternalFile(std::string_view AName, std::string_view ADescription, std::string_view ATags,
                                   std::string_view ANote, std::string_view AefOrigFileName,
                                   std::string_view AefFilePath, std::string_view AefKey, std::string_view AefIV,
                                   std::string_view AefAAD, std::int64_t AFileSize)
    : TKofFile(AName, ADescription, ATags, ANote, "", "", nullptr, false),
      FefOrigFileName(AefOrigFileName),
      FefKey(AefKey),
      FefIV(AefIV),
      FefAAD(AefAAD) {
  SetefFilePath(AefFilePath);
  SetFileSize(AFileSize);
}

TKofExternalFile::~TKofExternalFile() = default;

void TKofExternalFile::SetefFilePath(std::string_view AValue) { FefFilePath = ReplaceAll(AValue, "/", "\\"); }

void TKofExternalFile::SetFileSize(std::int64_t AValue) {
  FFileSize = AValue;
  FFileSizeAsString = std::to_string(AValue);
}

void TKofExternalFile::Assign(const TKofExternalFileAttributes& Attrs) {
  FefOrigFileName = Attrs.efOrigFileName;
  FefFilePath = Attrs.efFilePath;
  FefKey = Attrs.efKey;
  FefIV = Attrs.efIV;
  FefAAD = Attrs.efAAD;
}

void TKofExternalFile::WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const {
  TKofFile::WriteFields(W, AUpdate, AFileContent);
  if (!SecureFieldsUsed()) return;
  W.BeginObject("attributes");
  W.Text("efFileName", FefOrigFileName);
  W.Text("efFilePath", FefFilePath);
  W.Text("efKey", FefKey.View());
  W.Text("efIV", FefIV.View());
  W.Text("efAAD", FefAAD.View());
  W.Number("fileSize", FFileSize);
  W.EndObject();
}

bool TKofExternalFile::Decrypt(TSaltyClientEncryption& Enc, TByteSpan Key) {
  if (!TKofFile::Decrypt(Enc, Key) || !DecryptField(Enc, Key, FefOrigFileName) ||
      !DecryptField(Enc, Key, FefFilePath) || !DecryptField(Enc, Key, FefKey) || !DecryptField(Enc, Key, FefIV) ||
      !DecryptField(Enc, Key, FefAAD) || !DecryptField(Enc, Key, FFileSizeAsString))
    return false;
  FFileSize = StrToInt64(FFileSizeAsString).value_or(0);
  return true;
}

void TKofExternalFile::GetSecureFieldsFrom(const TKofObject& Obj) {
  TKofFile::GetSecureFieldsFrom(Obj);
  if (const auto* other = As<TKofExternalFile>(Obj)) {
    CopyIfNotEmpty(FefOrigFileName, other->FefOrigFileName);
    CopyIfNotEmpty(FefFilePath, other->FefFilePath);
    CopyIfNotEmpty(FefKey, other->FefKey);
    CopyIfNotEmpty(FefIV, other->FefIV);
    CopyIfNotEmpty(FefAAD, other->FefAAD);
  }
}

void TKofExternalFile::SaveToList(TSecureLines& List) const {
  TKofFile::SaveToList(List);
  if (!SecureFieldsUsed()) return;
  List.push_back(Line("efFileName = ", FefOrigFileName));
  List.push_back(Line("efFilePath = ", FefFilePath));
  List.push_back(Line("efKey = ", FefKey.View()));
  List.push_back(Line("efIV = ", FefIV.View()));
  List.push_back(Line("efAAD = ", FefAAD.View()));
  List.push_back(Line("fileSize = ", std::to_string(FFileSize)));
}

void TKofExternalFile::WipeStrings() {
  TKofFile::WipeStrings();
  // The container key opens the stored file: it goes with the other secrets.
  FefKey.Clear();
  FefIV.Clear();
  FefAAD.Clear();
}

// ================================================================ TKofCreditCard

TKofCreditCard::TKofCreditCard(const TJSONObject& JSON) : TKofRecord(JSON) {
  if (const TJSONObject* attributes = Attributes(JSON)) {
    ReadSecret(*attributes, "number", FNumber);
    ReadSecret(*attributes, "expiration", FExpiration);
    ReadSecret(*attributes, "cvv", FCvv);
    ReadSecret(*attributes, "pin", FPin);
  }
}

TKofCreditCard::TKofCreditCard(std::string_view AName, std::string_view ADescription, std::string_view ATags,
                               std::string_view ANote, std::string_view ASecNote, std::string_view ANumber,
                               std::string_view AExpiration, std::string_view ACvv, std::string_view APin)
    : TKofRecord(AName, ADescription, ATags, ANote),
      FNumber(ANumber),
      FExpiration(AExpiration),
      FCvv(ACvv),
      FPin(APin) {
  SetSecNote(ASecNote);
  SetSecureFieldsUsed(true);
}

TKofCreditCard::~TKofCreditCard() = default;

void TKofCreditCard::WriteFields(TKofFieldWriter& W, bool AUpdate, bool AFileContent) const {
  TKofRecord::WriteFields(W, AUpdate, AFileContent);
  if (!SecureFieldsUsed()) return;
  W.BeginObject("attributes");
  W.Text("number", FNumber.View());
  W.Text("expiration", FExpiration.View());
  W.Text("cvv", FCvv.View());
  W.Text("pin", FPin.View());
  W.Note("sec-note", SecNote().View());
  W.EndObject();
}

bool TKofCreditCard::Decrypt(TSaltyClientEncryption& Enc, TByteSpan Key) {
  return TKofRecord::Decrypt(Enc, Key) && DecryptField(Enc, Key, FNumber) && DecryptField(Enc, Key, FExpiration) &&
         DecryptField(Enc, Key, FCvv) && DecryptField(Enc, Key, FPin);
}

void TKofCreditCard::GetSecureFieldsFrom(const TKofObject& Obj) {
  TKofRecord::GetSecureFieldsFrom(Obj);
  if (const auto* other = As<TKofCreditCard>(Obj)) {
    CopyIfNotEmpty(FNumber, other->FNumber);
    CopyIfNotEmpty(FExpiration, other->FExpiration);
    CopyIfNotEmpty(FCvv, other->FCvv);
    CopyIfNotEmpty(FPin, other->FPin);
    if (!other->SecNote().Empty()) SetSecNote(other->SecNote().View());
  }
}

void TKofCreditCard::SaveToList(TSecureLines& List) const {
  TKofRecord::SaveToList(List);
  if (!SecureFieldsUsed()) return;
  List.push_back(Line("number = ", FNumber.View()));
  List.push_back(Line("expiration = ", FExpiration.View()));
  List.push_back(Line("cvv = ", FCvv.View()));
  List.push_back(Line("pin = ", FPin.View()));
}

void TKofCreditCard::WipeStrings() {
  TKofRecord::WipeStrings();
  FNumber.Clear();
  FExpiration.Clear();
  FCvv.Clear();
  FPin.Clear();
}

// ---- expiration as ISO 8601

namespace {

struct TCivil {
  std::int64_t Year;
  int Month, Day, Hour, Minute, Second, Milli;
};

TCivil CivilFromDateTime(TDateTime AValue) {
  const std::int64_t totalMs = static_cast<std::int64_t>(std::llround((AValue - 25569.0) * 86400000.0));
  std::int64_t days = totalMs / 86400000;
  std::int64_t msOfDay = totalMs % 86400000;
  if (msOfDay < 0) {
    msOfDay += 86400000;
    --days;
  }
  // Civil date of a day count from 1970-01-01 (proleptic Gregorian).
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const std::int64_t year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2);
  return {year,
          month,
          day,
          static_cast<int>(msOfDay / 3600000),
          static_cast<int>(msOfDay / 60000 % 60),
          static_cast<int>(msOfDay / 1000 % 60),
          static_cast<int>(msOfDay % 1000)};
}

TDateTime DateTimeFromCivil(std::int64_t y, int m, int d, int hh, int mi, int ss, int ms) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days = era * 146097 + static_cast<std::int64_t>(doe) - 719468;
  return 25569.0 + static_cast<double>(days) + (hh * 3600000.0 + mi * 60000.0 + ss * 1000.0 + ms) / 86400000.0;
}

bool ReadDigits(std::string_view text, std::size_t& pos, std::size_t count, int& value) {
  if (pos + count > text.size()) return false;
  value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  pos += count;
  return true;
}

bool Expect(std::string_view text, std::size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

// UTC seconds (and milliseconds) of an ISO 8601 text; a text without zone counts as UTC.
std::optional<TDateTime> ParseIso8601Utc(std::string_view text) {
  std::size_t pos = 0;
  int year, month, day, hour = 0, minute = 0, second = 0, milli = 0;
  if (!ReadDigits(text, pos, 4, year) || !Expect(text, pos, '-') || !ReadDigits(text, pos, 2, month) ||
      !Expect(text, pos, '-') || !ReadDigits(text, pos, 2, day))
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  int offsetMinutes = 0;
  if (pos < text.size()) {
    if (!Expect(text, pos, 'T') || !ReadDigits(text, pos, 2, hour) || !Expect(text, pos, ':') ||
        !ReadDigits(text, pos, 2, minute))
      return std::nullopt;
    if (pos < text.size() && text[pos] == ':' && (++pos, !ReadDigits(text, pos, 2, second))) return std::nullopt;
    if (pos < text.size() && text[pos] == '.') {
      ++pos;
      std::size_t digits = 0;
      while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (digits < 3) milli = milli * 10 + (text[pos] - '0');
        ++digits;
        ++pos;
      }
      if (digits == 0) return std::nullopt;
      for (; digits < 3; ++digits) milli *= 10;
    }
    if (pos < text.size()) {
      if (text[pos] == 'Z' || text[pos] == 'z') {
        ++pos;
      } else if (text[pos] == '+' || text[pos] == '-') {
        const int sign = text[pos++] == '-' ? -1 : 1;
        int oh = 0, om = 0;
        if (!ReadDigits(text, pos, 2, oh)) return std::nullopt;
        if (pos < text.size() && text[pos] == ':') ++pos;
        if (pos < text.size() && !ReadDigits(text, pos, 2, om)) return std::nullopt;
        offsetMinutes = sign * (oh * 60 + om);
      }
    }
    if (pos != text.size() || hour > 23 || minute > 59 || second > 60) return std::nullopt;
  }
  return DateTimeFromCivil(year, month, day, hour, minute, second, milli) - offsetMinutes / 1440.0;
}

}  // namespace

TDateTime TKofCreditCard::GetExpirationDate(bool Local) const {
  const auto utc = ParseIso8601Utc(FExpiration.View());
  if (!utc) return 0;
  if (!Local) return *utc;
  const double seconds = (*utc - 25569.0) * 86400.0;
  const std::int64_t whole = static_cast<std::int64_t>(std::floor(seconds));
  return UnixToLocalDateTime(whole) + (seconds - static_cast<double>(whole)) / 86400.0;
}

void TKofCreditCard::SetExpirationDate(bool Local, TDateTime Value) {
  if (!std::isfinite(Value) || Value < -657434.0 || Value > 2958466.0) {  // years 0100..9999
    FExpiration.Clear();
    return;
  }
  const TCivil c = CivilFromDateTime(Value);
  char text[48];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%03d", static_cast<long long>(c.Year), c.Month,
                c.Day, c.Hour, c.Minute, c.Second, c.Milli);
  std::string result = text;
  const long offset = Local ? LocalUtcOffset(LocalDateTimeToUnix(Value)) : 0;
  if (offset == 0) {
    result += 'Z';
  } else {
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    std::snprintf(text, sizeof text, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    result += text;
  }
  FExpiration.Assign(result);
}

TDateTime ExpirationMonthToDate(int AMonth, int AYear) {
  if (AMonth < 1 || AMonth > 12) AMonth = 1;
  return DateTimeFromCivil(AYear, AMonth, 15, 0, 0, 0, 0);
}

void ExpirationDateToMonth(TDateTime ADate, int& AMonth, int& AYear) {
  if (ADate == 0) {
    const std::time_t now = std::time(nullptr);
    const TCivil today = CivilFromDateTime(UnixToLocalDateTime(now));
    AMonth = 1;
    AYear = static_cast<int>(today.Year);
    return;
  }
  const TCivil c = CivilFromDateTime(ADate);
  AMonth = c.Month;
  AYear = static_cast<int>(c.Year);
}

// ================================================================ agents

TKofStation::TKofStation(const TJSONObject& JSON) : TKofObject(JSON) {
  if (std::string name; ReadText(JSON, "stationName", name)) SetName(name);
  ReadText(JSON, "configName", FConfigName);
  ReadText(JSON, "platform", FPlatform);
  ReadText(JSON, "userName", FUserName);
  ReadText(JSON, "defaultUser", FDefaultUser);
  ReadText(JSON, "defaultDomain", FDefaultDomain);
  ReadText(JSON, "stationIp", FStationIP);
  ReadText(JSON, "timezone", FTimeZone);
  ReadStationTime(JSON, "registered", FRegistered);
  ReadStationTime(JSON, "lastAccess", FLastAccess);
}

TKofStation::~TKofStation() = default;

void TKofStation::SaveToList(TSecureLines& List) const {
  TKofObject::SaveToList(List);
  throw EKofError("N/A");
}

void TKofStation::WipeStrings() {
  TKofObject::WipeStrings();
  FCurrentPassword.Clear();
}

void TKofStation::SetPassword(std::string_view APassword, TDateTime ADate) {
  FCurrentPassword.Assign(APassword);
  FPswdDate = ADate;
}

TKofConfiguration::TKofConfiguration(const TJSONObject& JSON) : TKofObject(JSON) {
  ReadText(JSON, "seedBase", FSeedBase);
  ReadText(JSON, "pattern", FPattern);
}

void TKofConfiguration::SaveToList(TSecureLines& List) const {
  TKofObject::SaveToList(List);
  List.push_back(Line("seedBase = ", FSeedBase));
  List.push_back(Line("pattern = ", FPattern));
}

// ================================================================ class table

namespace {

template <class T>
std::unique_ptr<TKofObject> Construct(const TJSONObject& JSON) {
  return std::make_unique<T>(JSON);
}

const TKofObjectClass kClasses[kKofObjectTypeCount] = {
    {kofSafeBox, Construct<TKofSafeBox>},
    {kofSafeBoxGroup, Construct<TKofSafeBoxGroup>},
    {kofAccount, Construct<TKofAccount>},
    {kofAccountSec, Construct<TKofSecAccount>},
    {kofFile, Construct<TKofFile>},
    {kofCertificate, Construct<TKofCertificate>},
    {kofCreditCard, Construct<TKofCreditCard>},
    {kofStation, Construct<TKofStation>},
    {kofConfiguration, Construct<TKofConfiguration>},
    {kofExternalFile, Construct<TKofExternalFile>},
};

}  // namespace

const TKofObjectClass& KofObjectClassOf(TKofObjectType AType) { return kClasses[AType]; }

const TKofObjectClass* GetKofObjectClass(std::string_view AType, bool ARaise) {
  if (const auto type = KofObjectTypeFromStr(AType)) return &kClasses[*type];
  if (ARaise)
    throw EKofObjectError("Unknown Kof object type/template (\"" + CutToUtf16Units(AType, 256) + "\")");
  return nullptr;
}

// ================================================================ factories

std::unique_ptr<TKofObject> TKofObject::CreateObject(const TJSONObject& JSON, const IKofClientEncryption* AClient) {
  std::string type;
  ReadText(JSON, "template", type);
  if (type.empty()) {
    if (!ReadText(JSON, "type", type)) throw EKofObjectError("Kof object template/type field not found");
  }
  if (type.empty()) throw EKofObjectError("Kof object type/template is empty");

  bool encrypted = false;
  bool undecryptable = false;
  TSaltyClientEncryption* engine = AClient ? AClient->NaCLEncryption() : nullptr;
  if (engine != nullptr && !AClient->KOFServerPublicKeyBytes().empty() && !GetKofObjectClass(type, false)) {
    SecureString plain = engine->Decrypt(AClient->KOFServerPublicKeyBytes(), type);
    undecryptable = engine->CryptError();
    type.assign(plain.View());
    encrypted = true;
  }
  std::unique_ptr<TKofObject> object = GetKofObjectClass(type, true)->Create(JSON);
  object->FNeedsToBeDecrypted = encrypted;
  object->FUndecryptable = undecryptable;
  return object;
}

namespace {

enum class TExpected { Array, Object, Password };
enum class TBuild { ByType, Station, Configuration, PasswordOnly };

struct TAnswerKey {
  std::string_view Key;
  TExpected Expected;
  TBuild Build;
};

constexpr TAnswerKey kAnswerKeys[] = {
    {"safeboxes", TExpected::Array, TBuild::ByType},  {"safebox", TExpected::Object, TBuild::ByType},
    {"records", TExpected::Array, TBuild::ByType},    {"record", TExpected::Object, TBuild::ByType},
    {"defaults", TExpected::Object, TBuild::ByType},  {"stations", TExpected::Array, TBuild::Station},
    {"configs", TExpected::Array, TBuild::Configuration}, {"password", TExpected::Password, TBuild::PasswordOnly},
};

bool HasExpectedKind(const TJSONObject& AValue, TExpected AExpected) {
  switch (AExpected) {
    case TExpected::Array:
      return AValue.is_array();
    case TExpected::Object:
      return AValue.is_object();
    case TExpected::Password:
      return AValue.is_string() || AValue.is_null();
  }
  return false;
}

std::unique_ptr<TKofObject> PasswordOnlyObject(const TJSONObject& AValue, std::optional<TKofObjectType> AClass) {
  std::string password = AValue.is_string() ? TKofObject::JSToStr(AValue.get_ref<const std::string&>()) : "";
  std::unique_ptr<TKofObject> result;
  if (AClass == kofAccount) result = TKofAccount::PasswordOnly(password);
  if (AClass == kofAccountSec) result = TKofSecAccount::PasswordOnly(password);
  WipeString(password);
  return result;
}

// Builds the objects of one answer member: appended to AList when there is
// one, else the first is returned.
std::unique_ptr<TKofObject> ProcessAnswer(const TAnswerKey& ARow, const TJSONObject& AValue,
                                          const IKofClientEncryption* AClient, TKofList* AList, bool AClearList,
                                          std::optional<TKofObjectType> AClass) {
  if (AList != nullptr && AClearList) AList->Clear();
  const auto build = [&](const TJSONObject& element) -> std::unique_ptr<TKofObject> {
    switch (ARow.Build) {
      case TBuild::Station:
        return std::make_unique<TKofStation>(element);
      case TBuild::Configuration:
        return std::make_unique<TKofConfiguration>(element);
      case TBuild::PasswordOnly:
        return PasswordOnlyObject(element, AClass);
      case TBuild::ByType:
        break;
    }
    return TKofObject::CreateObject(element, AClient);
  };
  if (ARow.Expected != TExpected::Array) {
    std::unique_ptr<TKofObject> object = build(AValue);
    if (AList == nullptr || object == nullptr) return object;
    AList->Add(std::move(object));
    return nullptr;
  }
  for (const TJSONObject& element : AValue) {
    if (!element.is_object()) continue;
    std::unique_ptr<TKofObject> object = build(element);
    if (AList == nullptr) return object;
    AList->Add(std::move(object));
  }
  return nullptr;
}

std::unique_ptr<TKofObject> ReadAnswer(std::string_view AStrm, const IKofClientEncryption* AClient,
                                       std::string_view AObjectName, TKofList* AList, bool AClearList,
                                       std::optional<TKofObjectType> AClass) {
  TJSONObject document = ParseKofJSON(AStrm);
  const TJSONWiper wiper(document);
  if (!document.is_object()) throw EKofJSONError("JSON object expected");
  if (!AObjectName.empty()) {
    const auto named = document.find(AObjectName);
    if (named != document.end()) {
      for (const TAnswerKey& row : kAnswerKeys)
        if (SameText(row.Key, AObjectName) && HasExpectedKind(*named, row.Expected))
          return ProcessAnswer(row, *named, AClient, AList, AClearList, AClass);
    }
  }
  for (const TAnswerKey& row : kAnswerKeys) {
    // "defaults" stands in for "record" only when there is no "record" at all.
    if (row.Key == "defaults" && document.contains("record")) continue;
    const auto it = document.find(row.Key);
    if (it != document.end() && HasExpectedKind(*it, row.Expected))
      return ProcessAnswer(row, *it, AClient, AList, AClearList, AClass);
  }
  throw EKofObjectError("Kof object not found");
}

}  // namespace

std::unique_ptr<TKofObject> TKofObject::CreateObject(std::string_view Strm, const IKofClientEncryption* AClient,
                                                     std::string_view AObjectName, bool /*HasPreamble*/,
                                                     std::optional<TKofObjectType> AClass) {
  // The parser skips a byte-order mark itself, so the preamble flag changes nothing here.
  return ReadAnswer(Strm, AClient, AObjectName, nullptr, false, AClass);
}

void TKofObject::AddObjects(const IKofClientEncryption* AClient, TKofList& List, std::string_view Strm,
                            std::string_view AObjectName, bool ClearList, bool /*HasPreamble*/) {
  ReadAnswer(Strm, AClient, AObjectName, &List, ClearList, std::nullopt);
}

}  // namespace kof
