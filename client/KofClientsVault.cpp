// The operations on the vault's content: boxes, records with their secret
// fields and files, tags, search, the bin, watch flags and external files.
#include <algorithm>
#include <limits>
#include <set>

#include "client/KofAnswers.h"
#include "client/KofClients.h"
#include "support/KofText.h"

namespace kof {

namespace {

// Records are the kinds that carry secret fields and travel client-encrypted;
// stations and configurations do neither.
constexpr TKofObjectSet kSecretRecordKinds{kofAccount, kofAccountSec, kofFile,
                                           kofCertificate, kofCreditCard, kofExternalFile};
constexpr TKofObjectSet kPasswordKinds{kofAccount, kofAccountSec};
// Kinds whose content is stored by the server (external files live elsewhere).
constexpr TKofObjectSet kStoredFileKinds{kofFile, kofCertificate};

// Installs a transfer monitor on each request object a transfer uses and
// empties the current one's when the transfer is over, also after an exception.
class TMonitorScope {
 public:
  TMonitorScope(const TKofClient& AClient, const THookMonitor& AMonitor) : FClient(AClient), FMonitor(AMonitor) {}
  TMonitorScope(const TMonitorScope&) = delete;
  TMonitorScope& operator=(const TMonitorScope&) = delete;
  ~TMonitorScope() {
    if (FClient.HTTP()) FClient.HTTP()->SetOnMonitor({});
  }
  void InstallOn(TRESTsend& AHTTP) const {
    if (FMonitor) AHTTP.SetOnMonitor(FMonitor);
  }

 private:
  const TKofClient& FClient;
  const THookMonitor& FMonitor;
};

void CheckObjectId(const TKofObject* AObj) {
  if (AObj == nullptr) throw EKofError("Object is nil");
  if (AObj->Id() <= 0) throw EKofError("Object.Id = 0");
}

// Every element of the array member AName that is a JSON object; a missing member gives none.
template <class TVisit>
void ForEachObject(const TJSONObject& ADoc, const char* AName, TVisit AVisit) {
  const auto it = ADoc.find(AName);
  if (it == ADoc.end() || !it->is_array()) return;
  for (const TJSONObject& element : *it)
    if (element.is_object()) AVisit(element);
}

// A whole number that fits 32 bits; nothing for any other value.
std::optional<std::int32_t> Int32Of(const TJSONObject& AValue) {
  if (!AValue.is_number_integer()) return std::nullopt;
  const auto value = AValue.get<std::int64_t>();
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> Int32Member(const TJSONObject& AObject, const char* AName) {
  const auto it = AObject.find(AName);
  return it == AObject.end() ? std::nullopt : Int32Of(*it);
}

template <class T>
std::unique_ptr<T> OwnedAs(std::unique_ptr<TKofObject> AObj, const char* AWhat) {
  T* typed = dynamic_cast<T*>(AObj.get());
  if (typed == nullptr) throw EKofObjectError(std::string("The server's answer is not a ") + AWhat);
  AObj.release();
  return std::unique_ptr<T>(typed);
}

std::string_view QueryTypeText(TSearchQueryType AType) {
  switch (AType) {
    case TSearchQueryType::qtDefault:
      return "DEFAULT";
    case TSearchQueryType::qtStandard:
      return "STANDARD";
    case TSearchQueryType::qtNone:
      break;
  }
  return {};
}

TKofFile* StoredFileOf(TKofObject& AObj) {
  return kStoredFileKinds.Contains(AObj.ObjType()) ? dynamic_cast<TKofFile*>(&AObj) : nullptr;
}

// The content a record brings along for upload, or nullptr.
const TBytes* ContentToUpload(TKofObject& AObj) {
  const TKofFile* file = StoredFileOf(AObj);
  return file && file->Stream() && !file->Stream()->empty() ? file->Stream() : nullptr;
}

bool TagNames(std::vector<std::string>* AList, const std::function<bool(TDomainTagsList*)>& ARead) {
  if (AList == nullptr) return false;
  AList->clear();
  TDomainTagsList tags;
  if (!ARead(&tags)) return false;
  for (int i = 0; i < tags.Count(); ++i) AList->push_back(tags.GetResultItem(i)->Name());
  return true;
}

}  // namespace

// --- the steps shared by the operations ---

void TKofClient::SetResponseSize(std::size_t ASize) {
  FResponseSize = static_cast<int>(std::min<std::size_t>(ASize, std::numeric_limits<int>::max()));
}

bool TKofClient::Read(const std::string& APath, std::string& AAnswer, bool AOpen, bool UseAccessCode) {
  const std::string url = URL(APath);
  const auto send = [&](TRESTsend& http) {
    return AOpen ? http.OpenGet(url, &AAnswer, UseAccessCode) : http.Get(url, &AAnswer, UseAccessCode);
  };
  return RunRequest(send, AAnswer);
}

bool TKofClient::ReadObjects(const std::string& APath, const char* AObjectName, TKofList& AList, bool AClear,
                             bool AOpen) {
  TAnswer answer;
  if (!Read(APath, answer.Text, AOpen)) return false;
  TKofObject::AddObjects(this, AList, answer.Text, AObjectName, AClear, true);
  return true;
}

bool TKofClient::DecryptObject(TKofObject& AObj) {
  TSaltyClientEncryption* engine = NaCLEncryption();
  if (engine == nullptr || KOFServerPublicKeyBytes().empty() || !AObj.NeedsToBeDecrypted()) return true;
  if (!AObj.Decrypt(*engine, KOFServerPublicKeyBytes())) {
    SetDecryptError();
    return false;
  }
  AObj.SetNeedsToBeDecrypted(false);
  return true;
}

std::string TKofClient::PrepareObjectBody(const TKofObject& AObj, bool AUpdate) {
  CreateHTTP();
  TSaltyClientEncryption* engine = NaCLEncryption();
  const SecureString body = engine && kSecretRecordKinds.Contains(AObj.ObjType())
                                ? AObj.SaveEncryptedTo(*engine, KOFServerPublicKeyBytes(), AUpdate, false)
                                : AObj.SaveTo(AUpdate, false);
  FHTTP->SetAccessCode(FAccessCode.View());
  return body.Unprotected();
}

bool TKofClient::RefuseUndecrypted(const TKofObject& AObj) {
  if (!AObj.NeedsToBeDecrypted()) return false;
  SetDecryptError();
  return true;
}

bool TKofClient::SendObject(const TKofObject& AObj, bool AUpdate,
                            const std::function<bool(TRESTsend&, const std::string&)>& ASend,
                            const std::string& AAnswer) {
  // Ciphertext sent as the values would replace the record's real ones.
  if (RefuseUndecrypted(AObj)) return false;
  TAnswer body;
  body.Text = PrepareObjectBody(AObj, AUpdate);
  // An encrypted body is made again once the user gave a new access code.
  const bool rebuild = NaCLEncryption() && kSecretRecordKinds.Contains(AObj.ObjType());
  bool repeat = false;
  const auto send = [&](TRESTsend& http) {
    if (repeat && rebuild && IsAccessCodeKey(FError.Key)) {
      WipeString(body.Text);
      body.Text = PrepareObjectBody(AObj, AUpdate);
    }
    repeat = true;
    return ASend(http, body.Text);
  };
  return RunRequest(send, AAnswer);
}

bool TKofClient::EnsureAccessCode() {
  if (!FAccessCode.Empty()) return true;
  if (!FOnGetAccessCode) {
    std::string text;
    ErrorMessages().GetErrorText(kKeyInvalidAccessCode, {}, text);
    SetError(500, text, kKeyInvalidAccessCode);
    return false;
  }
  SecureString code;
  if (!FOnGetAccessCode(code, false)) return false;
  if (!code.Empty()) SetAccessCode(code.View());
  return true;
}

// --- boxes ---

bool TKofClient::GetSafeBoxes(int BoxId, TKofList* List, const TSafeBoxesOptions& AOptions) {
  if (List == nullptr) return false;
  BoxId = std::max(BoxId, 0);
  List->Clear();
  return Guarded([&] {
    ClearError(true);
    if (!ReadObjects(api::SafeBoxes(BoxId, AOptions.RecordsCount), "safeboxes", *List, true, true)) return false;
    // A server that lists a group below itself must not make the walk endless.
    std::set<std::int32_t> expanded;
    for (int i = 0; i < List->Count();) {
      const TKofObject* item = List->Items(i);
      if (item->Id() == BoxId) {
        List->Delete(i);
        continue;
      }
      if (item->ObjType() == kofSafeBoxGroup) {
        if (AOptions.ExpandAll) {
          if (expanded.insert(item->Id()).second &&
              !ReadObjects(api::SafeBoxes(item->Id(), AOptions.RecordsCount), "safeboxes", *List, false, true))
            return false;
        } else if (!AOptions.IncludeGroupBoxes) {
          List->Delete(i);
          continue;
        }
      }
      ++i;
    }
    return true;
  });
}

std::unique_ptr<TKofSafeBox> TKofClient::GetSafeBox(int BoxId) {
  std::unique_ptr<TKofSafeBox> result;
  const bool ok = Guarded([&] {
    ClearError(true);
    TAnswer answer;
    if (!Read(api::SafeBox(std::max(BoxId, 0)), answer.Text)) return false;
    result = OwnedAs<TKofSafeBox>(TKofObject::CreateObject(answer.Text, this, "safebox", true), "safe box");
    return true;
  });
  if (!ok) result.reset();
  return result;
}

// --- records ---

bool TKofClient::GetRecords(int BoxId, TKofList* List, bool, bool, bool GetFileSizes) {
  if (List == nullptr) return false;
  BoxId = std::max(BoxId, 0);
  List->Clear();
  return Guarded([&] {
    ClearError(true);
    if (!ReadObjects(api::Records(BoxId, GetFileSizes), "records", *List, true, false)) return false;
    // The panels show names and sizes straight from the listing. One record that
    // does not decrypt does not hide the others: it is left out and counted (with
    // error kErrDecrypt), so that its ciphertext is never shown nor written back.
    for (int i = 0; i < List->Count();) {
      if (DecryptObject(*List->Items(i))) {
        ++i;
        continue;
      }
      List->Delete(i);
      List->AddUnreadable();
    }
    return true;
  });
}

std::unique_ptr<TKofRecord> TKofClient::GetRecord(int RecId, bool InclSecretFields, bool Download,
                                                  const THookMonitor& AFileMonitor) {
  std::unique_ptr<TKofRecord> result;
  const bool ok = Guarded([&] {
    ClearError(true);
    TAnswer answer;
    if (!Read(api::Record(RecId), answer.Text, false, false)) return false;
    result = OwnedAs<TKofRecord>(TKofObject::CreateObject(answer.Text, this, "record", true), "record");
    const bool encrypted = result->NeedsToBeDecrypted();
    // A record still holding ciphertext is no record to show or to write back.
    if (!DecryptObject(*result)) return false;
    if (InclSecretFields || Download) return ReadSecretFields(result.get(), Download, encrypted, AFileMonitor);
    return true;
  });
  if (!ok) result.reset();
  return result;
}

bool TKofClient::ReadSecretFields(TKofObject* AObj, bool ADownload, bool AToBeDecrypted,
                                  const THookMonitor& AFileMonitor) {
  if (AObj == nullptr) throw EKofError("Object is nil");
  if (!kSecretRecordKinds.Contains(AObj->ObjType())) return false;
  // The error state is not cleared first: a caller's failed decryption of the
  // record itself must not turn into success here.
  return Guarded([&] {
    if (!EnsureAccessCode()) return false;
    if (AObj->ObjType() == kofAccount) return MergePasswords(*AObj, AToBeDecrypted);
    return ReadRecordSecrets(*AObj, ADownload, AFileMonitor);
  });
}

bool TKofClient::MergePasswords(TKofObject& AObj, bool AToBeDecrypted) {
  TAnswer answer;
  if (!Read(api::RecordPasswords(AObj.Id()), answer.Text, false, true)) return false;
  std::unique_ptr<TKofObject> secrets = TKofObject::CreateObject(answer.Text, this, "", true, AObj.ObjType());
  if (!secrets) throw EKofObjectError("The server's answer holds no password");
  secrets->SetNeedsToBeDecrypted(AToBeDecrypted);
  // Undecrypted text merged as the password would be sent back by the next update.
  if (!DecryptObject(*secrets)) return false;
  AObj.GetSecureFieldsFrom(*secrets);
  return true;
}

bool TKofClient::ReadRecordSecrets(TKofObject& AObj, bool ADownload, const THookMonitor& AFileMonitor) {
  bool encrypted = false;
  {
    TAnswer answer;
    if (!Read(api::Record(AObj.Id()), answer.Text, false, true)) return false;
    std::unique_ptr<TKofObject> full = TKofObject::CreateObject(answer.Text, this, "record", true);
    if (!full) throw EKofObjectError("The server's answer holds no record");
    encrypted = full->NeedsToBeDecrypted();
    if (!DecryptObject(*full)) return false;
    AObj.GetSecureFieldsFrom(*full);
  }
  if (AObj.ObjType() == kofAccountSec) return MergePasswords(AObj, encrypted);
  TKofFile* file = StoredFileOf(AObj);
  if (ADownload && file && !file->Filename().empty()) return DownloadFile(file, file->Stream(), AFileMonitor);
  return true;
}

bool TKofClient::DownloadFile(TKofFile* KofObj, TBytes* Stream, const THookMonitor& AFileMonitor) {
  CheckObjectId(KofObj);
  TBytes* target = Stream ? Stream : KofObj->Stream();
  if (target == nullptr) throw EKofError("Stream not assigned");
  const std::size_t start = target->size();
  const TDownloadSink sink{[&] {
                             target->resize(start);
                             return true;
                           },
                           [&](const char* AData, std::size_t ALen) {
                             target->insert(target->end(), AData, AData + ALen);
                             return true;
                           }};
  return DownloadFileTo(KofObj, sink, AFileMonitor);
}

bool TKofClient::DownloadFileTo(TKofFile* KofObj, const TDownloadSink& Sink, const THookMonitor& AFileMonitor) {
  CheckObjectId(KofObj);
  TMonitorScope monitor(*this, AFileMonitor);
  try {
    ClearError(true);
    TAnswer answer;
    const std::string url = URL(api::DownloadFile(KofObj->Id()));
    std::int64_t received = 0;
    const TDownloadSink counted{[&] {
                                  received = 0;
                                  return !Sink.Begin || Sink.Begin();
                                },
                                [&](const char* AData, std::size_t ALen) {
                                  received += static_cast<std::int64_t>(ALen);
                                  return Sink.Write(AData, ALen);
                                }};
    // The access code travels in the form: built per attempt, so a code entered on a repeat is used.
    const auto send = [&](TRESTsend& http) {
      TBodyStringList form;
      if (NaCLEncryption())
        SetNaCLProperties(form, FAccessCode);
      else
        form.Add("KOF-Access-Code", FAccessCode.View());
      monitor.InstallOn(http);
      return http.GetFileTo(url, form, counted, &answer.Text);
    };
    if (!RunRequest(send, answer.Text)) return false;
    SetResponseSize(static_cast<std::size_t>(received));
    return true;
  } catch (...) {
    SetError(500, "Data error", kKeyDataError);
    return false;
  }
}

bool TKofClient::Add(int BoxId, TKofObject* KofObj, std::int32_t& Id, bool ForceAdd,
                     const THookMonitor& AFileMonitor, bool ForceCreateTag) {
  if (KofObj == nullptr) throw EKofError("Object is nil");
  bool updated = false;
  return AddObject(BoxId, *KofObj, Id, ForceAdd, AFileMonitor, ForceCreateTag, updated);
}

bool TKofClient::Add(int BoxId, std::unique_ptr<TKofObject>& KofObj, std::int32_t& Id, bool ForceAdd, bool FreeObj,
                     const THookMonitor& AFileMonitor, bool ForceCreateTag) {
  if (!KofObj) throw EKofError("Object is nil");
  bool updated = false;
  const bool ok = AddObject(BoxId, *KofObj, Id, ForceAdd, AFileMonitor, ForceCreateTag, updated);
  if (ok && FreeObj && !updated) KofObj.reset();
  return ok;
}

bool TKofClient::AddObject(int BoxId, TKofObject& KofObj, std::int32_t& Id, bool ForceAdd,
                           const THookMonitor& AFileMonitor, bool ForceCreateTag, bool& AUpdated) {
  Id = KofObj.Id();
  AUpdated = !ForceAdd && KofObj.Id() >= 1;
  if (AUpdated) return Update(&KofObj, false);
  KofObj.SetId(0);
  BoxId = std::max(BoxId, 0);
  return Guarded([&] {
    ClearError(true);
    std::string path;
    if (kofBoxKinds.Contains(KofObj.ObjType())) {
      path = api::Box(BoxId);
    } else {
      const auto* record = dynamic_cast<const TKofRecord*>(&KofObj);
      path = api::AddRecord(BoxId, ForceCreateTag && record && !record->Tags().empty());
    }
    const std::string url = URL(path);
    TAnswer answer;
    const auto post = [&](TRESTsend& http, const std::string& body) { return http.Post(url, &body, &answer.Text); };
    if (!SendObject(KofObj, false, post, answer.Text)) return false;
    SetResponseSize(answer.Text.size());
    const TJSONObject doc = ParseKofJSON(answer.Text);
    if (doc.is_object()) {
      if (const auto id = Int32Member(doc, "id")) {
        KofObj.SetId(*id);
        Id = *id;
      }
    }
    const TBytes* content = ContentToUpload(KofObj);
    if (content == nullptr) return true;
    // Without the new record's id the file would go to a record that does not exist.
    if (KofObj.Id() <= 0) {
      SetError(500, "The server created the record without a numeric id, so its file was not uploaded", kKeyDataError);
      return false;
    }
    return SendFile(*StoredFileOf(KofObj), *content, AFileMonitor);
  });
}

bool TKofClient::Update(TKofObject* KofObj, bool AUploadFileOrChangePasswords) {
  CheckObjectId(KofObj);
  return Guarded([&] {
    ClearError(true);
    const TKofObjectType kind = KofObj->ObjType();
    if (kind == kofStation || kind == kofConfiguration) return false;
    const std::string url = URL(kofBoxKinds.Contains(kind) ? api::Box(KofObj->Id()) : api::Record(KofObj->Id()));
    const bool withAccessCode = KofObj->SecureFieldsUsed();
    TAnswer answer;
    const auto put = [&](TRESTsend& http, const std::string& body) {
      return http.Put(url, &body, &answer.Text, withAccessCode);
    };
    if (!SendObject(*KofObj, true, put, answer.Text)) return false;
    SetResponseSize(answer.Text.size());
    if (!AUploadFileOrChangePasswords) return true;
    if (kPasswordKinds.Contains(kind)) return UpdatePassword(KofObj);
    if (const TBytes* content = ContentToUpload(*KofObj)) return SendFile(*StoredFileOf(*KofObj), *content, {});
    return true;
  });
}

bool TKofClient::UpdatePassword(TKofObject* Acc) {
  CheckObjectId(Acc);
  if (!kPasswordKinds.Contains(Acc->ObjType())) throw EKofError("Object must be Account or Secret Account");
  const auto& account = dynamic_cast<const TKofAccountCommon&>(*Acc);
  return Guarded([&] {
    if (RefuseUndecrypted(*Acc)) return false;
    TSaltyClientEncryption* engine = NaCLEncryption();
    TJSONObject passwords =
        engine ? account.SaveAndEncryptPasswords(*engine, KOFServerPublicKeyBytes()) : account.SavePasswords();
    const TJSONWiper wiper(passwords);
    TAnswer body;
    body.Text = passwords.dump();
    ClearError(true);
    const std::string url = URL(api::RecordPasswords(Acc->Id()));
    TAnswer answer;
    return RunRequest([&](TRESTsend& http) { return http.Post(url, &body.Text, &answer.Text); }, answer.Text);
  });
}

bool TKofClient::UploadFile(TKofFile* KofObj, const TBytes* Stream) {
  CheckObjectId(KofObj);
  const TBytes* data = KofObj->Stream() ? KofObj->Stream() : Stream;
  if (data == nullptr) throw EKofError("Stream not assigned");
  return Guarded([&] {
    ClearError(true);
    return SendFile(*KofObj, *data, {});
  });
}

bool TKofClient::UploadFileFrom(TKofFile* KofObj, const TUploadSource& Source, const THookMonitor& AFileMonitor) {
  CheckObjectId(KofObj);
  return Guarded([&] {
    ClearError(true);
    return SendFileFrom(*KofObj, Source, AFileMonitor);
  });
}

bool TKofClient::SendFile(const TKofFile& AFile, const TBytes& AData, const THookMonitor& AFileMonitor) {
  const TUploadSource source{static_cast<std::int64_t>(AData.size()),
                             [&](std::int64_t AOffset, char* ABuffer, std::size_t ALen) {
                               const std::size_t n =
                                   std::min(ALen, AData.size() - static_cast<std::size_t>(AOffset));
                               std::copy_n(AData.data() + AOffset, n, ABuffer);
                               return static_cast<std::int64_t>(n);
                             }};
  return SendFileFrom(AFile, source, AFileMonitor);
}

bool TKofClient::SendFileFrom(const TKofFile& AFile, const TUploadSource& ASource, const THookMonitor& AFileMonitor) {
  TMonitorScope monitor(*this, AFileMonitor);
  const std::string url = URL(api::UploadFile(AFile.Id()));
  const std::string name = AFile.Filename();
  TAnswer answer;
  // Each attempt reads the source from its start again.
  const auto send = [&](TRESTsend& http) {
    monitor.InstallOn(http);
    return http.PostFileFrom(url, "file", name, ASource, &answer.Text);
  };
  return RunRequest(send, answer.Text);
}

bool TKofClient::Delete(TKofObject* Obj) {
  CheckObjectId(Obj);
  return Guarded([&] {
    ClearError(true);
    const std::string url = URL(kofBoxKinds.Contains(Obj->ObjType()) ? api::Box(Obj->Id()) : api::Record(Obj->Id()));
    TAnswer answer;
    return RunRequest([&](TRESTsend& http) { return http.Delete(url, &answer.Text); }, answer.Text);
  });
}

// --- tags and search ---

bool TKofClient::ReadTags(const std::string& APath, TDomainTagsList* List) {
  if (List == nullptr) return false;
  List->Clear();
  return Guarded([&] {
    ClearError(true);
    TAnswer answer;
    if (!Read(APath, answer.Text)) return false;
    ForEachObject(ParseAnswerObject(answer.Text), "tags",
                  [&](const TJSONObject& tag) { List->Add(std::make_unique<TDomainTag>(tag)); });
    return true;
  });
}

bool TKofClient::GetRecordTags(int BoxId, TDomainTagsList* List) {
  return ReadTags(api::TagsByBox(std::max(BoxId, 0)), List);
}

bool TKofClient::GetRecordTags(TDomainTagsList* List, std::string_view ADomain) {
  return ReadTags(api::TagsByDomain(ADomain), List);
}

bool TKofClient::GetRecordTags(int BoxId, std::vector<std::string>* List) {
  return TagNames(List, [&](TDomainTagsList* tags) { return GetRecordTags(BoxId, tags); });
}

bool TKofClient::GetRecordTags(std::vector<std::string>* List, std::string_view ADomain) {
  return TagNames(List, [&](TDomainTagsList* tags) { return GetRecordTags(tags, ADomain); });
}

bool TKofClient::Search(std::string_view AExpression, TSearchResultList* List, TSearchQueryType AQueryType) {
  if (List == nullptr) return false;
  return Guarded([&] {
    ClearError(true);
    List->Clear();
    if (Trim(AExpression).empty()) return true;
    TAnswer answer;
    if (!Read(api::Search(AExpression, QueryTypeText(AQueryType)), answer.Text)) return false;
    ForEachObject(ParseAnswerObject(answer.Text), "result",
                  [&](const TJSONObject& hit) { List->Add(std::make_unique<TSearchResult>(hit)); });
    return true;
  });
}

bool TKofClient::SearchByNote(std::string_view APattern, TIntegerList* List) {
  if (List == nullptr) return false;
  return Guarded([&] {
    ClearError(true);
    List->Clear();
    if (APattern.empty()) return true;
    TAnswer answer;
    if (!Read(api::SearchByNote(APattern), answer.Text)) return false;
    const TJSONObject doc = ParseAnswerObject(answer.Text);
    const auto ids = doc.find("recordIds");
    if (ids == doc.end() || !ids->is_array()) return true;
    for (const TJSONObject& element : *ids) {
      if (element.is_object()) {
        const std::int32_t id = Int32Member(element, "id").value_or(-1);
        const std::int32_t parentId = Int32Member(element, "parentId").value_or(-1);
        if (id > 0) List->AddDWord(id, static_cast<std::uint32_t>(parentId));
      } else if (element.is_number()) {
        const std::int32_t id = Int32Of(element).value_or(-1);
        if (id > 0) List->Add(id);
      }
    }
    return true;
  });
}

// --- the bin ---

bool TKofClient::GetDeletedRecords(TDeletedItemList* List) {
  if (List == nullptr) return false;
  return Guarded([&] {
    ClearError(true);
    List->Clear();
    TAnswer answer;
    if (!Read(api::Deleted(), answer.Text)) return false;
    ForEachObject(ParseAnswerObject(answer.Text), "items",
                  [&](const TJSONObject& item) { List->Add(std::make_unique<TDeletedItem>(item)); });
    return true;
  });
}

bool TKofClient::ChangeDeletedRecords(const TIntegerList* List, bool ARestore) {
  if (List == nullptr) return false;
  return Guarded([&] {
    ClearError(true);
    // Records and boxes alike go under "boxes".
    nlohmann::json ids = nlohmann::json::array();
    for (int i = 0; i < List->Count(); ++i) ids.push_back(List->Get(i));
    const std::string body = nlohmann::json{{"boxes", ids}}.dump();
    const std::string url = URL(api::Deleted());
    TAnswer answer;
    const auto send = [&](TRESTsend& http) {
      return ARestore ? http.OpenPut(url, &body, &answer.Text, true) : http.OpenDelete(url, body, &answer.Text);
    };
    return RunRequest(send, answer.Text);
  });
}

bool TKofClient::RestoreDeletedRecords(const TIntegerList* List) { return ChangeDeletedRecords(List, true); }

bool TKofClient::RemoveDeletedRecords(const TIntegerList* List) { return ChangeDeletedRecords(List, false); }

bool TKofClient::RestoreDeletedRecord(std::int32_t Id) {
  TIntegerList list;
  list.Add(Id);
  return RestoreDeletedRecords(&list);
}

bool TKofClient::RemoveDeletedRecord(std::int32_t Id) {
  TIntegerList list;
  list.Add(Id);
  return RemoveDeletedRecords(&list);
}

// --- watch flags, limits, external files ---

bool TKofClient::SendWatched(int ABoxId, TWatchedType AKind, bool AOn, bool WithRecords) {
  const std::string url = URL(api::Watch(ABoxId, AKind, AOn, WithRecords));
  const std::string empty;
  TAnswer answer;
  return RunRequest([&](TRESTsend& http) { return http.OpenPost(url, &empty, &answer.Text); }, answer.Text);
}

bool TKofClient::SetWatched(TKofSafeBox* ABox, bool WithRecords) {
  if (ABox == nullptr || !ABox->WatchedModified()) return true;
  return Guarded([&] {
    ClearError(true);
    if (ABox->WatchedChangesModified()) {
      if (!SendWatched(ABox->Id(), wtChanges, ABox->WatchedChanges(), WithRecords)) return false;
      ABox->ClearWatched({wtChanges});
    }
    if (ABox->WatchedAccessesModified()) {
      if (!SendWatched(ABox->Id(), wtAccesses, ABox->WatchedAccesses(), WithRecords)) return false;
      ABox->ClearWatched({wtAccesses});
    }
    return true;
  });
}

std::int64_t TKofClient::GetFileSizeLimit() {
  if (FBaseURL.empty()) return -1;
  TAnswer answer;
  if (!Read(api::FileSizeLimit(), answer.Text)) return -1;
  const TJSONObject doc = ParseAnswerObject(answer.Text);
  std::int64_t limit = -1;
  TakeNumber(doc, "fileSizeLimit", limit);  // a number out of range stays unknown
  return limit;
}

bool TKofClient::ReadExternalFileParam(const TJSONObject& ADoc, const char* AName, SecureString& AValue) {
  const auto it = ADoc.find(AName);
  if (it == ADoc.end()) {
    SetError(500, std::string("The server's answer lacks \"") + AName + "\"", kKeyDataError);
    return false;
  }
  // Every copy of the value is wiped: it is a file's key material.
  std::string raw = it->is_string() ? it->get<std::string>() : it->is_null() ? std::string() : it->dump();
  std::string text = TKofObject::JSToStr(raw);
  WipeString(raw);
  TSaltyClientEncryption* engine = NaCLEncryption();
  if (engine == nullptr) {
    AValue.Assign(text);
    WipeString(text);
    return true;
  }
  AValue = engine->Decrypt(KOFServerPublicKeyBytes(), text);
  WipeString(text);
  if (!engine->CryptError()) return true;
  AValue.Clear();
  SetDecryptError();
  return false;
}

bool TKofClient::GetExternalFileParams(int ABoxId, SecureString& AKey, SecureString& AIv, SecureString& AAad,
                                       std::string& AFilePath) {
  AKey.Clear();
  AIv.Clear();
  AAad.Clear();
  AFilePath.clear();
  return Guarded([&] {
    ClearError(true);
    TAnswer answer;
    if (!Read(api::ExternalFileParams(ABoxId), answer.Text, false, true)) return false;
    TJSONObject doc = ParseAnswerObject(answer.Text);
    const TJSONWiper wiper(doc);  // key, iv and aad
    SecureString path;
    if (!ReadExternalFileParam(doc, "filePath", path)) return false;
    AFilePath = ReplaceAll(path.View(), "/", "\\");
    return ReadExternalFileParam(doc, "key", AKey) && ReadExternalFileParam(doc, "iv", AIv) &&
           ReadExternalFileParam(doc, "aad", AAad);
  });
}

}  // namespace kof
