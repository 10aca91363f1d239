#include "model/KofClasses.h"

#include <algorithm>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>

#include "crypto/KofUrlEncode.h"
#include "model/KofFields.h"
#include "support/KofDebug.h"
#include "support/KofText.h"
#include "support/VarnokCommonCode.h"

namespace kof {

namespace {

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

SecureString TKofSafeBox::SaveEncryptedTo(TSaltyClientEncryption&, TByteSpan, bool AUpdate, bool AFileContent) const {
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
  if (!TKofObject::Decrypt(Enc, Key)) return false;
  for (const TKofFieldInfo& field : FieldsOf(GetObjType())) {
    if (!(field.Uses & fuDecrypt)) continue;
    if (field.Decrypt) {
      if (!field.Decrypt(*this, Enc, Key)) return false;
      continue;
    }
    SecureString plain = Enc.Decrypt(Key, field.Get(*this).View());
    if (Enc.CryptError()) return false;
    field.Set(*this, plain.View());
  }
  return true;
}

// The non-empty fields of AObj that this kind names in AUse and AObj's kind has too.
void TKofRecord::CopyNonEmptyFields(const TKofObject& AObj, unsigned AUse) {
  const std::vector<TKofFieldInfo>& theirs = FieldsOf(AObj.ObjType());
  for (const TKofFieldInfo& field : FieldsOf(GetObjType())) {
    if (!(field.Uses & AUse)) continue;
    const auto source = std::find_if(theirs.begin(), theirs.end(),
                                     [&](const TKofFieldInfo& other) { return other.Name == field.Name; });
    if (source == theirs.end()) continue;
    const SecureString value = source->Get(AObj);
    if (!value.Empty()) field.Set(*this, value.View());
  }
}

bool TKofRecord::AssignNonEmptyFieldsFrom(const TKofObject& Obj) {
  if (!TKofObject::AssignNonEmptyFieldsFrom(Obj)) return false;
  CopyNonEmptyFields(Obj, fuAssign);
  return true;
}

void TKofRecord::GetSecureFieldsFrom(const TKofObject& Obj) {
  TKofObject::GetSecureFieldsFrom(Obj);
  CopyNonEmptyFields(Obj, fuMerge);
}

void TKofRecord::SaveToList(TSecureLines& List) const {
  TKofObject::SaveToList(List);
  for (const TKofFieldInfo& field : FieldsOf(GetObjType())) {
    if (!(field.Uses & fuList) || ((field.Uses & fuListSecure) && !SecureFieldsUsed())) continue;
    const SecureString value = field.Get(*this);
    if ((field.Uses & fuListNotEmpty) && value.Empty()) continue;
    List.push_back(Line(std::string(field.Member) + " = ", value.View()));
  }
}

void TKofRecord::WipeStrings() {
  TKofObject::WipeStrings();
  for (const TKofFieldInfo& field : FieldsOf(GetObjType()))
    if (field.Uses & fuWipe) field.Set(*this, {});
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
  LogEntryFormat(false, "loadfil: \"%s\"", AFilename.c_str());
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
  const std::uint32_t mode = fmCreate | (AEncrypted ? fmEncrypted : 0);
  LogEntryFormat(false, "savefil: \"%s\"; mode = %x; size = %zu", target.c_str(), mode,
                 FStream != nullptr ? FStream->size() : 0);
  TFileStreamEx file(target, mode);
  // A failed write raises too: a silently short copy would pass for a good one.
  try {
    if (FStream != nullptr) file.WriteBuffer(FStream->data(), FStream->size());
  } catch (const EWriteError& e) {
    LogErrorBlock("FileRec", "Save", 0, e.OsError() > 0 ? e.OsError() : -1, target);
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
  if (!TKofRecord::Decrypt(Enc, Key)) return false;
  if (FContentCipher.empty()) return true;
  // Encrypted content is the encrypted Base64 text of the stream.
  if (!DecryptField(Enc, Key, FContentCipher)) return false;
  auto bytes = Base64Decode(FContentCipher);
  FContentCipher.clear();
  if (bytes && FOwnedStream) *FOwnedStream = std::move(*bytes);
  return true;
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

TDateTime TKofCreditCard::GetExpirationDate(bool Local) const {
  const auto utc = ParseIso8601Utc(FExpiration.View());
  if (!utc) return 0;
  return Local ? UtcToLocalDateTime(*utc) : *utc;
}

void TKofCreditCard::SetExpirationDate(bool Local, TDateTime Value) {
  if (!std::isfinite(Value) || Value < -657434.0 || Value > 2958466.0) {  // years 0100..9999
    FExpiration.Clear();
    return;
  }
  FExpiration.Assign(FormatIso8601(Value, Local ? LocalUtcOffset(LocalDateTimeToUnix(Value)) : 0));
}

TDateTime ExpirationMonthToDate(int AMonth, int AYear) {
  if (AMonth < 1 || AMonth > 12) AMonth = 1;
  return DateTimeFromCivil(AYear, AMonth, 15);
}

void ExpirationDateToMonth(TDateTime ADate, int& AMonth, int& AYear) {
  if (ADate == 0) {
    const TCivilTime today = CivilFromDateTime(UnixToLocalDateTime(std::time(nullptr)));
    AMonth = 1;
    AYear = static_cast<int>(today.Year);
    return;
  }
  const TCivilTime c = CivilFromDateTime(ADate);
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

// Stands in for each byte of a listing that is not UTF-8, so that the rest can
// be read: a noncharacter, which no text of a record is meant to hold.
constexpr std::string_view kUnreadableMark = "\xEF\xB7\x90";

bool HoldsUnreadableMark(const TJSONObject& AValue) {
  if (AValue.is_string()) return AValue.get_ref<const std::string&>().find(kUnreadableMark) != std::string::npos;
  if (AValue.is_object()) {
    for (const auto& [key, member] : AValue.items())
      if (key.find(kUnreadableMark) != std::string::npos || HoldsUnreadableMark(member)) return true;
  } else if (AValue.is_array()) {
    for (const TJSONObject& member : AValue)
      if (HoldsUnreadableMark(member)) return true;
  }
  return false;
}

// One member of a listing, or none (counted) when it cannot be read.
std::unique_ptr<TKofObject> ReadableMember(const TJSONObject& AElement, bool AMarked, TKofList& AList,
                                           const std::function<std::unique_ptr<TKofObject>(const TJSONObject&)>& ABuild) {
  if (AElement.is_object() && !(AMarked && HoldsUnreadableMark(AElement))) {
    try {
      if (std::unique_ptr<TKofObject> object = ABuild(AElement)) return object;
    } catch (const EKofError&) {
    } catch (const TJSONObject::exception&) {
    }
  }
  AList.AddUnreadable();
  return nullptr;
}

// Builds the objects of one answer member: appended to AList when there is
// one, else the first is returned. AMarked: the text had bytes that are not UTF-8.
std::unique_ptr<TKofObject> ProcessAnswer(const TAnswerKey& ARow, const TJSONObject& AValue,
                                          const IKofClientEncryption* AClient, TKofList* AList, bool AClearList,
                                          std::optional<TKofObjectType> AClass, bool AMarked) {
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
    if (AList == nullptr) {
      if (element.is_object()) return build(element);
      continue;
    }
    if (std::unique_ptr<TKofObject> object = ReadableMember(element, AMarked, *AList, build))
      AList->Add(std::move(object));
  }
  return nullptr;
}

std::unique_ptr<TKofObject> ReadAnswer(std::string_view AStrm, const IKofClientEncryption* AClient,
                                       std::string_view AObjectName, TKofList* AList, bool AClearList,
                                       std::optional<TKofObjectType> AClass) {
  // A listing is read also when some of its bytes are not UTF-8; the members that hold them are left out.
  const bool isMarked = AList != nullptr && !IsValidUtf8(AStrm);
  TJSONObject document;
  if (isMarked) {
    const SecureString marked = ReplaceInvalidUtf8(AStrm, kUnreadableMark);
    document = ParseKofJSON(marked.View());
  } else {
    document = ParseKofJSON(AStrm);
  }
  const TJSONWiper wiper(document);
  if (!document.is_object()) throw EKofJSONError("JSON object expected");
  if (!AObjectName.empty()) {
    const auto named = document.find(AObjectName);
    if (named != document.end()) {
      for (const TAnswerKey& row : kAnswerKeys)
        if (SameText(row.Key, AObjectName) && HasExpectedKind(*named, row.Expected))
          return ProcessAnswer(row, *named, AClient, AList, AClearList, AClass, isMarked);
    }
  }
  for (const TAnswerKey& row : kAnswerKeys) {
    // "defaults" stands in for "record" only when there is no "record" at all.
    if (row.Key == "defaults" && document.contains("record")) continue;
    const auto it = document.find(row.Key);
    if (it != document.end() && HasExpectedKind(*it, row.Expected))
      return ProcessAnswer(row, *it, AClient, AList, AClearList, AClass, isMarked);
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
