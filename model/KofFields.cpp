#include "model/KofFields.h"

#include <array>

#include "model/KofClasses.h"
#include "support/KofText.h"

namespace kof {

namespace {

std::string_view TextOf(const std::string& AField) { return AField; }
std::string_view TextOf(const SecureString& AField) { return AField.View(); }

void AssignText(std::string& AField, std::string_view AValue) {
  std::string value(AValue);  // AValue may be the field itself
  WipeString(AField);
  AField = std::move(value);
}

void AssignText(SecureString& AField, std::string_view AValue) {
  if (AValue.empty())
    AField.Clear();
  else
    AField.Assign(AValue);
}

constexpr unsigned kSecretField = fuDecrypt | fuMerge | fuWipe | fuList | fuListSecure;

}  // namespace

// Builds the tables; a friend of the record classes, so the rows reach their fields.
struct TKofFieldAccess {
  template <class T, auto AMember>
  static TKofFieldInfo Row(std::string_view AName, std::string_view AJSON, bool AInAttributes, bool ASecret,
                           bool AMultiLine, unsigned AUses) {
    return {AName,
            AJSON,
            AInAttributes,
            ASecret,
            AMultiLine,
            TKofFieldType::ftText,
            AUses,
            [](const TKofObject& o) { return SecureString(TextOf(static_cast<const T&>(o).*AMember)); },
            [](TKofObject& o, std::string_view v) { AssignText(static_cast<T&>(o).*AMember, v); }};
  }

  static void AddRecordRows(std::vector<TKofFieldInfo>& ARows, TKofObjectType AKind) {
    using R = TKofRecord;
    const bool accounts = AKind == kofAccount || AKind == kofAccountSec;
    const bool listsSecNote = AKind == kofAccountSec || AKind == kofFile || AKind == kofCreditCard;
    ARows.push_back(Row<R, &R::FDescription>("Description", "description", false, false, false,
                                             fuDecrypt | fuMerge | fuAssign | fuList));
    ARows.push_back({"Tags", "tags", false, false, false, TKofFieldType::ftTags, fuDecrypt | fuMerge | fuAssign | fuList,
                     [](const TKofObject& o) { return SecureString(static_cast<const R&>(o).FTags.CommaText()); },
                     [](TKofObject& o, std::string_view v) { static_cast<R&>(o).FTags.SetCommaText(v); },
                     &DecryptTags});
    ARows.push_back(
        Row<R, &R::FNote>("Note", "note", false, false, true, fuDecrypt | fuMerge | fuAssign | fuList));
    ARows.push_back(Row<R, &R::FSite>("Site", "site", false, false, false, fuDecrypt | fuList));
    ARows.push_back({"Launcher", "launcher", false, false, false, TKofFieldType::ftLauncher,
                     accounts ? fuDecrypt | fuList | fuListNotEmpty : fuDecrypt,
                     [](const TKofObject& o) {
                       const TKofLauncher launcher = static_cast<const R&>(o).FLauncher;
                       return SecureString(launcher == kofLauncherNone ? std::string_view() : KofLauncherCodes[launcher]);
                     },
                     [](TKofObject& o, std::string_view v) { static_cast<R&>(o).SetLauncher(KofLauncherFromCode(v)); },
                     &DecryptLauncher});
    ARows.push_back(Row<R, &R::FSecNote>("SecNote", "sec-note", true, true, true,
                                         fuDecrypt | fuMerge | fuAssign | fuWipe |
                                             (listsSecNote ? fuList | fuListSecure : 0u)));
  }

  static void AddAccountRows(std::vector<TKofFieldInfo>& ARows, TKofObjectType AKind) {
    using A = TKofAccountCommon;
    ARows.push_back(Row<A, &A::FLoginSite>("LoginSite", "site", false, false, false, fuDecrypt));
    ARows.push_back(Row<A, &A::FPasswordPattern>("PasswordPattern", "passwordPattern", true, true, false,
                                                 fuDecrypt | fuMerge | fuAssign | fuList));
    ARows.push_back(Row<A, &A::FPassword>("Password", "password", false, true, false, kSecretField | fuAssign));
    ARows.push_back(Row<A, &A::FPasswordRe>("PasswordRe", "passwordRe", false, true, false, kSecretField | fuAssign));
    if (AKind == kofAccount) {
      using T = TKofAccount;
      ARows.push_back(Row<T, &T::FLoginName>("LoginName", "loginName", false, false, false,
                                             fuDecrypt | fuMerge | fuAssign | fuList));
      ARows.push_back(Row<T, &T::FServerAddress>("ServerAddress", "serverAddress", false, false, false,
                                                 fuDecrypt | fuMerge | fuAssign | fuList));
    } else {
      using T = TKofSecAccount;
      ARows.push_back(
          Row<T, &T::FSecLoginName>("SecLoginName", "sec-loginName", true, true, false, kSecretField | fuAssign));
      ARows.push_back(Row<T, &T::FSecServerAddress>("SecServerAddress", "sec-serverAddress", true, true, false,
                                                    kSecretField | fuAssign));
    }
  }

  static void AddFileRows(std::vector<TKofFieldInfo>& ARows, TKofObjectType AKind) {
    using F = TKofFile;
    using C = TKofCertificate;
    if (AKind == kofFile) {
      ARows.push_back(Row<F, &F::FFileName>("Filename", "file", true, true, false,
                                            fuDecrypt | fuMerge | fuList | fuListSecure));
      return;
    }
    ARows.push_back(Row<C, &C::FAlias>("Alias", "alias", true, true, false, kSecretField));
    ARows.push_back(Row<F, &F::FFileName>("Filename", "file", true, true, false, kSecretField));
    ARows.push_back(Row<C, &C::FFilePassword>("FilePassword", "filePassword", true, true, false, kSecretField));
  }

  static void AddExternalFileRows(std::vector<TKofFieldInfo>& ARows) {
    using E = TKofExternalFile;
    constexpr unsigned kShown = fuDecrypt | fuMerge | fuList | fuListSecure;
    // The plain file's name is what Filename means for this kind.
    ARows.push_back(Row<E, &E::FefOrigFileName>("Filename", "efFileName", true, true, false, kShown));
    ARows.push_back(Row<E, &E::FefFilePath>("efFilePath", "efFilePath", true, true, false, kShown));
    ARows.push_back(Row<E, &E::FefKey>("efKey", "efKey", true, true, false, kShown | fuWipe));
    ARows.push_back(Row<E, &E::FefIV>("efIV", "efIV", true, true, false, kShown | fuWipe));
    ARows.push_back(Row<E, &E::FefAAD>("efAAD", "efAAD", true, true, false, kShown | fuWipe));
    ARows.push_back({"FileSize", "fileSize", true, true, false, TKofFieldType::ftNumber,
                     fuDecrypt | fuList | fuListSecure,
                     [](const TKofObject& o) { return SecureString(std::to_string(static_cast<const E&>(o).FFileSize)); },
                     [](TKofObject& o, std::string_view v) {
                       auto& e = static_cast<E&>(o);
                       e.FFileSizeAsString = std::string(v);
                       e.FFileSize = StrToInt64(v).value_or(0);
                     },
                     &DecryptFileSize});
  }

  static void AddCreditCardRows(std::vector<TKofFieldInfo>& ARows) {
    using C = TKofCreditCard;
    ARows.push_back(Row<C, &C::FNumber>("Number", "number", true, true, false, kSecretField));
    ARows.push_back(Row<C, &C::FExpiration>("Expiration", "expiration", true, true, false, kSecretField));
    ARows.push_back(Row<C, &C::FCvv>("Cvv", "cvv", true, true, false, kSecretField));
    ARows.push_back(Row<C, &C::FPin>("Pin", "pin", true, true, false, kSecretField));
  }

  static std::vector<TKofFieldInfo> Build(TKofObjectType AKind) {
    std::vector<TKofFieldInfo> rows;
    switch (AKind) {
      case kofAccount:
      case kofAccountSec:
        AddRecordRows(rows, AKind);
        AddAccountRows(rows, AKind);
        break;
      case kofFile:
      case kofCertificate:
        AddRecordRows(rows, AKind);
        AddFileRows(rows, AKind);
        break;
      case kofExternalFile:
        AddRecordRows(rows, AKind);
        AddExternalFileRows(rows);
        break;
      case kofCreditCard:
        AddRecordRows(rows, AKind);
        AddCreditCardRows(rows);
        break;
      default:
        break;
    }
    return rows;
  }

  // Each tag travels encrypted on its own; tags sent as text are one encrypted comma text.
  static bool DecryptTags(TKofObject& AObj, TSaltyClientEncryption& Enc, TByteSpan Key) {
    auto& record = static_cast<TKofRecord&>(AObj);
    bool ok = true;
    for (std::string& tag : record.FTags.UnsortedItems())
      if (!(ok = TKofObject::DecryptField(Enc, Key, tag))) break;
    record.FTags.Sort();
    if (ok && record.FTagsAsText && record.FTags.Count() == 1) record.FTags.SetCommaText(std::string(record.FTags[0]));
    return ok;
  }

  // A launcher code that named no launcher is ciphertext; without this it would be lost on the next update.
  static bool DecryptLauncher(TKofObject& AObj, TSaltyClientEncryption& Enc, TByteSpan Key) {
    auto& record = static_cast<TKofRecord&>(AObj);
    std::string& text = record.FLauncherText;
    if (text.size() <= 33 || text[32] != ':') return true;
    if (!TKofObject::DecryptField(Enc, Key, text)) return false;
    record.FLauncher = KofLauncherFromCode(text);
    text.clear();
    return true;
  }

  static bool DecryptFileSize(TKofObject& AObj, TSaltyClientEncryption& Enc, TByteSpan Key) {
    auto& file = static_cast<TKofExternalFile&>(AObj);
    if (!TKofObject::DecryptField(Enc, Key, file.FFileSizeAsString)) return false;
    file.FFileSize = StrToInt64(file.FFileSizeAsString).value_or(0);
    return true;
  }
};

const std::vector<TKofFieldInfo>& FieldsOf(TKofObjectType AKind) {
  static const std::array<std::vector<TKofFieldInfo>, kKofObjectTypeCount> tables = [] {
    std::array<std::vector<TKofFieldInfo>, kKofObjectTypeCount> result;
    for (int kind = 0; kind < kKofObjectTypeCount; ++kind)
      result[kind] = TKofFieldAccess::Build(static_cast<TKofObjectType>(kind));
    return result;
  }();
  return tables[AKind];
}

const TKofFieldInfo* FindField(TKofObjectType AKind, std::string_view AName) {
  for (const TKofFieldInfo& field : FieldsOf(AKind))
    if (field.Name == AName) return &field;
  return nullptr;
}

}  // namespace kof
