// The vault operations of the client against the demo vault: boxes, records
// of every kind with their secrets (in clear and client-encrypted), files,
// adding and changing, tags, search, the bin, watch flags and external files.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "model/KofFilesys.h"
#include "tests/clientflow/ClientFlowFixture.h"

namespace kof::clientflow {
namespace {

using nlohmann::json;

const TLoginData kDemo{"demo", "demo", "SYSTEM", ""};
constexpr const char* kReleaseNotes = "Koffra 5.0\n- browse safe boxes\n- copy records out and in\n";

json DemoSeed() {
  const char* dir = std::getenv("KOF_SOURCE_DIR");
  std::ifstream in(std::string(dir ? dir : ".") + "/tests/server/demo-vault.json");
  std::stringstream text;
  text << in.rdbuf();
  return json::parse(text.str());
}

std::string BytesText(const TBytes* ABytes) {
  return ABytes ? std::string(ABytes->begin(), ABytes->end()) : std::string();
}

std::vector<int> Ids(const TKofList& AList) {
  std::vector<int> ids;
  for (const auto& item : AList) ids.push_back(item->Id());
  return ids;
}

template <class T>
const T& As(const TKofObject& AObj) {
  return dynamic_cast<const T&>(AObj);
}

class VaultFlow : public ClientFlowTest {
 protected:
  static void SetUpTestSuite() { StartServer(DemoSeed()); }
  static void TearDownTestSuite() { StopServer(); }

  // Logged in as demo; with AEncrypted the server turns client encryption on
  // and the login status switches the client to it, as the panel does.
  std::unique_ptr<TFlowClient> Client(bool AEncrypted, std::string_view AAccessCode = "1234") {
    if (AEncrypted) Control("POST", "/__control/settings", {{"clientEncryption", true}});
    auto client = LoggedIn(kDemo);
    bool authenticated = false;
    EXPECT_TRUE(client->LoginStatus(authenticated, true)) << client->ErrorMsg();
    EXPECT_EQ(client->DecryptNaCL(), AEncrypted);
    client->SetAccessCode(AAccessCode);
    Control("DELETE", "/__control/requests");
    return client;
  }

  // "METHOD /path" of every request since the client was made.
  std::vector<std::string> Sent() const {
    std::vector<std::string> lines;
    for (const auto& entry : Control("GET", "/__control/requests"))
      lines.push_back(entry["method"].get<std::string>() + " " + entry["path"].get<std::string>());
    return lines;
  }

  // A record (AList "records") or box ("boxes") as the server holds it.
  json Stored(const char* AList, int AId) const {
    const json state = Control("GET", "/__control/state");
    for (const auto& item : state[AList])
      if (item["id"] == AId) return item;
    return nullptr;
  }
};

// Tests that run once in clear and once with client encryption.
class VaultFlowBothWays : public VaultFlow, public ::testing::WithParamInterface<bool> {};

std::string EncryptionName(const ::testing::TestParamInfo<bool>& AInfo) {
  return AInfo.param ? "Encrypted" : "Clear";
}

INSTANTIATE_TEST_SUITE_P(Encryption, VaultFlowBothWays, ::testing::Bool(), EncryptionName);

// ------------------------------------------------------------------ boxes

TEST_F(VaultFlow, SafeBoxesOfTheTreeByExpansionAndGroupRule) {
  struct TCase {
    const char* Name;
    int Parent;
    bool ExpandAll;
    bool IncludeGroups;
    std::vector<int> Expected;
  };
  const TCase cases[] = {
      {"whole tree, parents before children", 0, true, false, {1, 4, 6, 2, 3, 5}},
      {"top level with groups", 0, false, true, {1, 4, 6}},
      {"top level without groups", 0, false, false, {6}},
      {"a group's subtree", 1, true, false, {2, 3}},
      {"a group's boxes without groups", 1, false, false, {2, 3}},
  };
  auto client = Client(false);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TKofList boxes;
    ASSERT_TRUE(client->GetSafeBoxes(c.Parent, &boxes, c.ExpandAll, c.IncludeGroups, false)) << client->ErrorMsg();
    EXPECT_EQ(Ids(boxes), c.Expected);
  }
  EXPECT_FALSE(client->GetSafeBoxes(0, nullptr, true, true, false));
}

TEST_F(VaultFlow, SafeBoxesCountRecordsWhenAsked) {
  auto client = Client(false);
  TKofList boxes;
  ASSERT_TRUE(client->GetSafeBoxes(1, &boxes, false, false, true)) << client->ErrorMsg();
  ASSERT_EQ(Ids(boxes), std::vector<int>({2, 3}));
  EXPECT_EQ(As<TKofSafeBox>(*boxes[0]).RecordsCount(), 2);  // the deleted record does not count
}

TEST_F(VaultFlow, SafeBoxesLeaveOutTheAskedBoxAndSurviveAGroupListedBelowItself) {
  const json answer = {{"safeboxes",
                        {{{"id", 4}, {"name", "Projects"}, {"type", "SAFEBOX_GROUP"}},
                         {{"id", 1}, {"name", "Company"}, {"type", "SAFEBOX_GROUP"}},
                         {{"id", 5}, {"name", "Koffra"}, {"type", "SAFEBOX"}}}}};
  AddFault({{"path", "/safe/boxes/4/boxes"}, {"kind", "fail"}, {"status", 200}, {"body", answer.dump()},
            {"contentType", "application/json"}});
  auto client = Client(false);
  TKofList boxes;
  ASSERT_TRUE(client->GetSafeBoxes(4, &boxes, false, true, false)) << client->ErrorMsg();
  EXPECT_EQ(Ids(boxes), std::vector<int>({1, 5}));
  // Expanding 4 and 1 again would never end; their second listings stay as the server sent them.
  ASSERT_TRUE(client->GetSafeBoxes(0, &boxes, true, false, false)) << client->ErrorMsg();
  EXPECT_EQ(Ids(boxes), std::vector<int>({1, 4, 6, 2, 3, 4, 1, 5}));
}

TEST_F(VaultFlow, SafeBoxWithItsExternalFilesPath) {
  auto client = Client(false);
  auto box = client->GetSafeBox(6);
  ASSERT_TRUE(box) << client->ErrorMsg();
  EXPECT_EQ(box->Name(), "Personal");
  EXPECT_EQ(box->ExternalFilesPath(), "%TEMP%\\koffra-ext");
  EXPECT_FALSE(client->GetSafeBox(999));
  EXPECT_EQ(client->ErrorCode(), 404);
}

// ------------------------------------------------------------------ records

TEST_P(VaultFlowBothWays, RecordsOfEveryKindAreListedInClear) {
  struct TCase {
    int Box;
    std::vector<std::pair<TKofObjectType, std::string>> Expected;
  };
  const TCase cases[] = {
      {2, {{kofAccount, "db01 root"}, {kofAccountSec, "Domain admin"}}},
      {3, {{kofCreditCard, "Company Visa"}}},
      {5, {{kofFile, "Release notes"}, {kofCertificate, "VPN certificate"}, {kofExternalFile, "Design notes.txt"}}},
      {6, {{kofAccount, "Mail"}, {kofExternalFile, "Holiday video"}}},
  };
  auto client = Client(GetParam());
  for (const auto& c : cases) {
    SCOPED_TRACE("box " + std::to_string(c.Box));
    TKofList records;
    ASSERT_TRUE(client->GetRecords(c.Box, &records, true, false, false)) << client->ErrorMsg();
    EXPECT_EQ(client->ErrorCode(), 0) << client->ErrorMsg();
    std::vector<std::pair<TKofObjectType, std::string>> listed;
    for (const auto& record : records) {
      listed.emplace_back(record->ObjType(), record->Name());
      EXPECT_FALSE(record->NeedsToBeDecrypted());
    }
    EXPECT_EQ(listed, c.Expected);
  }
}

TEST_P(VaultFlowBothWays, ExternalFileSizesComeWithTheListingOnlyWhenAsked) {
  auto client = Client(GetParam());
  for (const bool sizes : {false, true}) {
    SCOPED_TRACE(sizes ? "with file sizes" : "without file sizes");
    TKofList records;
    ASSERT_TRUE(client->GetRecords(6, &records, false, false, sizes)) << client->ErrorMsg();
    ASSERT_EQ(records.Count(), 2);
    const auto& external = As<TKofExternalFile>(*records[1]);
    EXPECT_EQ(external.FileSize(), sizes ? 73400320 : 0);
    EXPECT_TRUE(external.efKey().Empty());  // a listing carries no secrets
  }
  EXPECT_EQ(Sent(), std::vector<std::string>({"GET /safe/boxes/6/records", "GET /safe/boxes/6/records"}));
}

struct TSecretCase {
  int Id;
  bool Download;
  std::function<void(const TKofRecord&)> Check;
};

const std::vector<TSecretCase>& SecretCases() {
  static const std::vector<TSecretCase> cases = {
      {101, false, [](const TKofRecord& r) { EXPECT_EQ(As<TKofAccount>(r).Password().View(), "Tr0ub4dor&3"); }},
      {102, false,
       [](const TKofRecord& r) {
         EXPECT_EQ(As<TKofSecAccount>(r).Password().View(), "correct horse battery staple");
         EXPECT_EQ(As<TKofSecAccount>(r).SecLoginName().View(), "CORP\\administrator");
         EXPECT_EQ(r.SecNote().View(), "Sealed envelope copy in the safe.");
       }},
      {111, false,
       [](const TKofRecord& r) {
         EXPECT_EQ(As<TKofCreditCard>(r).Number().View(), "4111111111111111");
         EXPECT_EQ(As<TKofCreditCard>(r).Pin().View(), "2580");
       }},
      {121, true, [](const TKofRecord& r) { EXPECT_EQ(BytesText(As<TKofFile>(r).Stream()), kReleaseNotes); }},
      {122, true,
       [](const TKofRecord& r) {
         EXPECT_EQ(As<TKofCertificate>(r).FilePassword().View(), "pfx-pass");
         EXPECT_NE(BytesText(As<TKofFile>(r).Stream()).find("demo certificate bytes"), std::string::npos);
       }},
      {132, false,
       [](const TKofRecord& r) {
         EXPECT_EQ(As<TKofExternalFile>(r).efIV().View(), "A0A1A2A3A4A5A6A7A8A9AAAB");
         EXPECT_EQ(As<TKofExternalFile>(r).efOrigFilename(), "holiday.mp4");
       }},
  };
  return cases;
}

TEST_P(VaultFlowBothWays, RecordWithSecretsAsksForTheAccessCodeOnce) {
  for (const auto& c : SecretCases()) {
    SCOPED_TRACE("record " + std::to_string(c.Id));
    auto client = Client(GetParam(), "");
    int asked = 0;
    client->SetOnGetAccessCode([&](SecureString& ACode, bool AInvalid) {
      EXPECT_FALSE(AInvalid);
      ++asked;
      ACode.Assign("1234");
      return true;
    });
    auto record = client->GetRecord(c.Id, true, c.Download);
    ASSERT_TRUE(record) << client->ErrorCode() << " " << client->ErrorMsg();
    EXPECT_EQ(client->ErrorCode(), 0) << client->ErrorMsg();
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(record->NeedsToBeDecrypted());
    c.Check(*record);
  }
}

TEST_F(VaultFlow, SecretsWithoutAccessCodeOrCallbackGiveNothingAndCode500) {
  auto client = Client(false, "");
  EXPECT_FALSE(client->GetRecord(101, true, false));
  EXPECT_EQ(client->ErrorCode(), 500);
  EXPECT_EQ(client->ErrorKey(), "AccessCodeValidator.invalid.password");
  EXPECT_FALSE(client->ErrorMsg().empty());
  EXPECT_EQ(Sent(), std::vector<std::string>({"GET /safe/records/101"}));
}

TEST_F(VaultFlow, CancelledAccessCodeGivesNothing) {
  auto client = Client(false, "");
  client->SetOnGetAccessCode([](SecureString&, bool) { return false; });
  EXPECT_FALSE(client->GetRecord(102, true, false));
  EXPECT_EQ(Sent(), std::vector<std::string>({"GET /safe/records/102"}));
}

TEST_P(VaultFlowBothWays, FileContentRoundTrip) {
  auto client = Client(GetParam());
  auto record = client->GetRecord(121, false, false);
  ASSERT_TRUE(record) << client->ErrorMsg();
  auto& file = dynamic_cast<TKofFile&>(*record);
  const std::string content("new\0content \xC3\xA9", 14);
  file.Stream()->assign(content.begin(), content.end());
  ASSERT_TRUE(client->UploadFile(&file, nullptr)) << client->ErrorCode() << " " << client->ErrorMsg();

  TBytes downloaded{'>'};
  std::size_t monitored = 0;
  const THookMonitor monitor = [&](TRESTsend&, bool AWriting, const char*, std::size_t ALen) {
    if (!AWriting) monitored += ALen;
  };
  ASSERT_TRUE(client->DownloadFile(&file, &downloaded, monitor)) << client->ErrorCode() << " " << client->ErrorMsg();
  EXPECT_EQ(BytesText(&downloaded), ">" + content);  // appended to what the stream held
  EXPECT_EQ(client->ResponseSize(), static_cast<int>(content.size()));
  EXPECT_GE(monitored, content.size());
}

TEST_F(VaultFlow, DownloadWithAWrongCodeFails) {
  auto client = Client(false, "0000");
  TKofFile file("Release notes", "", "", "", "", "release-notes.txt", TByteSpan());
  file.SetId(121);
  TBytes content;
  EXPECT_FALSE(client->DownloadFile(&file, &content));
  EXPECT_EQ(client->ErrorCode(), 403);
  EXPECT_TRUE(content.empty());
}

// ------------------------------------------------------------------ changes

TEST_P(VaultFlowBothWays, AddedRecordsReadBackWithTheirSecretsAndContent) {
  auto client = Client(GetParam());
  TKofAccount account("Backup", "nightly", "", "", "", "s3cr3t", "backup", "nas.example.test", "");
  std::int32_t id = -1;
  ASSERT_TRUE(client->Add(2, &account, id)) << client->ErrorCode() << " " << client->ErrorMsg();
  EXPECT_GT(id, 0);
  EXPECT_EQ(account.Id(), id);

  TKofFile file("Plan", "", "", "", "", "plan.txt", TByteSpan(reinterpret_cast<const std::uint8_t*>("step 1"), 6));
  std::int32_t fileId = -1;
  ASSERT_TRUE(client->Add(5, &file, fileId)) << client->ErrorCode() << " " << client->ErrorMsg();

  auto readAccount = client->GetRecord(id, true, false);
  ASSERT_TRUE(readAccount) << client->ErrorMsg();
  EXPECT_EQ(readAccount->Name(), "Backup");
  EXPECT_EQ(As<TKofAccount>(*readAccount).Password().View(), "s3cr3t");
  auto readFile = client->GetRecord(fileId, true, true);
  ASSERT_TRUE(readFile) << client->ErrorMsg();
  EXPECT_EQ(BytesText(As<TKofFile>(*readFile).Stream()), "step 1");
}

// Without the new record's id its file has nowhere to go: nothing is uploaded.
TEST_F(VaultFlow, AddAnsweredWithoutANumericIdUploadsNothing) {
  struct TCase {
    const char* Name;
    const char* Answer;
  };
  const TCase cases[] = {
      {"no id", R"({"created":true})"},
      {"id as text", R"({"id":"77"})"},
      {"id 0", R"({"id":0})"},
  };
  auto client = Client(false);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    AddFault({{"path", "/safe/boxes/5/records"},
              {"method", "POST"},
              {"kind", "fail"},
              {"status", 200},
              {"body", c.Answer},
              {"contentType", "application/json"},
              {"times", 1}});
    Control("DELETE", "/__control/requests");
    TKofFile file("Plan", "", "", "", "", "plan.txt", TByteSpan(reinterpret_cast<const std::uint8_t*>("step 1"), 6));
    std::int32_t id = -1;
    EXPECT_FALSE(client->Add(5, &file, id));
    const std::vector<std::string> sent = Sent();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "POST /safe/boxes/5/records"), 1);
    for (const auto& line : sent) EXPECT_EQ(line.find("/upload/file"), std::string::npos) << line;
    EXPECT_EQ(client->ErrorKey(), "data.error");
    EXPECT_NE(client->ErrorMsg().find("numeric id"), std::string::npos) << client->ErrorMsg();
  }
}

TEST_P(VaultFlowBothWays, AddIsRepeatedWithTheCodeTheUserGaveAfterAWrongOne) {
  auto client = Client(GetParam(), "0000");
  std::vector<bool> asked;
  client->SetOnGetAccessCode([&](SecureString& ACode, bool AInvalid) {
    asked.push_back(AInvalid);
    ACode.Assign("1234");
    return true;
  });
  TKofCreditCard card("Spare card", "", "", "", "", "5500000000000004", "", "123", "");
  std::int32_t id = 0;
  ASSERT_TRUE(client->Add(6, &card, id, true)) << client->ErrorCode() << " " << client->ErrorMsg();
  EXPECT_EQ(asked, std::vector<bool>({true}));
  EXPECT_EQ(Sent(), std::vector<std::string>({"POST /safe/boxes/6/records", "POST /safe/boxes/6/records"}));
  EXPECT_EQ(Stored("records", id)["attributes"]["number"], "5500000000000004");
}

TEST_F(VaultFlow, AddOfAnObjectWithAnIdUpdatesIt) {
  auto client = Client(false);
  TKofAccount account("db01 root renamed", "", "", "", "", "", "root", "db01.example.test", "");
  account.SetId(101);
  std::int32_t id = 0;
  ASSERT_TRUE(client->Add(2, &account, id)) << client->ErrorMsg();
  EXPECT_EQ(id, 101);
  EXPECT_EQ(Sent(), std::vector<std::string>({"PUT /safe/records/101"}));
  EXPECT_EQ(Stored("records", 101)["name"], "db01 root renamed");
}

TEST_F(VaultFlow, AddWhoseAnswerHasNoIdLeavesTheIdAtZero) {
  AddFault({{"path", "/safe/boxes/2/records"}, {"method", "POST"}, {"kind", "fail"}, {"status", 200},
            {"body", "{}"}, {"contentType", "application/json"}});
  auto client = Client(false);
  TKofAccount account("Ghost", "", "", "", "", "pw", "", "", "");
  account.SetId(-3);
  std::int32_t id = -1;
  EXPECT_TRUE(client->Add(2, &account, id, true)) << client->ErrorMsg();
  EXPECT_EQ(account.Id(), 0);
  EXPECT_EQ(id, -3);  // the id the object came with
}

TEST_F(VaultFlow, AddWithFreeObjFreesOnlyAnAddedObject) {
  auto client = Client(false);
  std::unique_ptr<TKofObject> box = std::make_unique<TKofSafeBox>("Lab", "", false, 4);
  std::int32_t id = 0;
  ASSERT_TRUE(client->Add(4, box, id, false, true)) << client->ErrorMsg();
  EXPECT_FALSE(box);
  TKofList boxes;
  ASSERT_TRUE(client->GetSafeBoxes(4, &boxes, false, true, false));
  EXPECT_EQ(Ids(boxes), std::vector<int>({5, id}));

  std::unique_ptr<TKofObject> existing = std::make_unique<TKofSafeBox>("Lab 2", "", false, 4);
  existing->SetId(id);
  ASSERT_TRUE(client->Add(4, existing, id, false, true)) << client->ErrorMsg();
  EXPECT_TRUE(existing);  // an update keeps the caller's object
}

TEST_F(VaultFlow, AddCreatesUnknownTagsOnlyWhenForced) {
  auto client = Client(false);
  for (const bool force : {false, true}) {
    const std::string tag = force ? "forced" : "unforced";
    TKofAccount account("Tagged " + tag, "", tag, "", "", "pw", "", "", "");
    std::int32_t id = 0;
    ASSERT_TRUE(client->Add(2, &account, id, false, {}, force)) << client->ErrorMsg();
    std::vector<std::string> names;
    ASSERT_TRUE(client->GetRecordTags(2, &names));
    EXPECT_EQ(std::find(names.begin(), names.end(), tag) != names.end(), force) << tag;
  }
}

TEST_F(VaultFlow, UpdateOfAStationSendsNothing) {
  auto client = Client(false);
  TKofStation station(TJSONObject{{"id", 5}, {"name", "ws01"}});
  EXPECT_FALSE(client->Update(&station, false));
  EXPECT_TRUE(Sent().empty());
}

TEST_P(VaultFlowBothWays, RenamingAListedExternalFileKeepsItsKeyMaterial) {
  const json before = Stored("records", 132);
  auto client = Client(GetParam());
  TKofList records;
  ASSERT_TRUE(client->GetRecords(6, &records, false, false, true)) << client->ErrorMsg();
  auto* file = dynamic_cast<TKofExternalFile*>(records.FindBy(132));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->FileSize(), 73400320);
  EXPECT_FALSE(file->SecureFieldsUsed());
  file->SetName("Holiday video renamed");
  ASSERT_TRUE(client->Update(file, false)) << client->ErrorCode() << " " << client->ErrorMsg();
  const json after = Stored("records", 132);
  EXPECT_EQ(after["name"], "Holiday video renamed");
  EXPECT_EQ(after["attributes"], before["attributes"]);
  auto reread = client->GetRecord(132, true, false);
  ASSERT_TRUE(reread) << client->ErrorMsg();
  EXPECT_EQ(As<TKofExternalFile>(*reread).efKey().View(), before["attributes"]["efKey"].get<std::string>());
  EXPECT_EQ(As<TKofExternalFile>(*reread).efOrigFilename(), "holiday.mp4");
}

// A level lists its members twice, the second time in file-system form; an
// update of a member listed so must still store the record's real name.
TEST_P(VaultFlowBothWays, UpdateOfAListedMemberSendsItsRealNameNotItsFileSystemForm) {
  const json before = Stored("records", 121);
  const std::string realName = "notes/2025: draft\\v2";
  auto client = Client(GetParam());
  const auto listedMember = [&](TKofFileSysList& AList) -> TKofRecord* {
    EXPECT_TRUE(client->GetRecords(5, &AList, false, false, false)) << client->ErrorMsg();
    TKofNameList plain, escaped;
    AList.Populate(plain, kofRecordKinds, false, false);
    AList.Populate(escaped, kofRecordKinds, true, false);
    return dynamic_cast<TKofRecord*>(AList.FindBy(121));
  };
  TKofFileSysList first;
  TKofRecord* notes = listedMember(first);
  ASSERT_NE(notes, nullptr);
  notes->SetName(realName);
  ASSERT_TRUE(client->Update(notes, false)) << client->ErrorMsg();

  TKofFileSysList second;
  notes = listedMember(second);
  ASSERT_NE(notes, nullptr);
  notes->SetDescription("changed");
  ASSERT_TRUE(client->Update(notes, false)) << client->ErrorMsg();
  EXPECT_EQ(Stored("records", 121)["name"], realName);
  EXPECT_EQ(Stored("records", 121)["description"], "changed");

  notes->SetName(before["name"].get<std::string>());
  notes->SetDescription(before.value("description", ""));
  ASSERT_TRUE(client->Update(notes, false)) << client->ErrorMsg();
}

TEST_P(VaultFlowBothWays, UpdateChangesThePasswordWhenAsked) {
  auto client = Client(GetParam());
  auto record = client->GetRecord(131, true, false);
  ASSERT_TRUE(record) << client->ErrorMsg();
  auto& account = dynamic_cast<TKofAccount&>(*record);
  account.SetDescription("changed");
  account.SetPassword("n3w-pass");
  ASSERT_TRUE(client->Update(&account, true)) << client->ErrorCode() << " " << client->ErrorMsg();
  EXPECT_EQ(Sent().back(), "POST /safe/records/131/passwords");
  EXPECT_EQ(Stored("records", 131)["description"], "changed");
  auto reread = client->GetRecord(131, true, false);
  ASSERT_TRUE(reread) << client->ErrorMsg();
  EXPECT_EQ(As<TKofAccount>(*reread).Password().View(), "n3w-pass");
}

TEST_F(VaultFlow, DeletedRecordGoesToTheBin) {
  auto client = Client(false);
  TKofAccount mail("Mail", "", "", "", "", "", "", "", "");
  mail.SetId(131);
  ASSERT_TRUE(client->Delete(&mail)) << client->ErrorMsg();
  EXPECT_EQ(Sent(), std::vector<std::string>({"DELETE /safe/records/131"}));
  TKofList records;
  ASSERT_TRUE(client->GetRecords(6, &records, false, false, false));
  EXPECT_EQ(Ids(records), std::vector<int>({132}));
  TDeletedItemList bin;
  ASSERT_TRUE(client->GetDeletedRecords(&bin));
  std::vector<int> binIds;
  for (int i = 0; i < bin.Count(); ++i) binIds.push_back(bin.GetResultItem(i)->Id());
  EXPECT_NE(std::find(binIds.begin(), binIds.end(), 131), binIds.end());
}

// ------------------------------------------------------------------ tags and search

TEST_F(VaultFlow, TagsByBoxAndByDomain) {
  auto client = Client(false);
  const std::vector<std::string> expected = {"server", "mail", "finance"};
  std::vector<std::string> byBox, byDomain, byDefaultDomain;
  ASSERT_TRUE(client->GetRecordTags(2, &byBox)) << client->ErrorMsg();
  ASSERT_TRUE(client->GetRecordTags(&byDomain, "SYSTEM")) << client->ErrorMsg();
  ASSERT_TRUE(client->GetRecordTags(&byDefaultDomain, "")) << client->ErrorMsg();
  EXPECT_EQ(byBox, expected);
  EXPECT_EQ(byDomain, expected);
  EXPECT_EQ(byDefaultDomain, expected);
  TDomainTagsList tags;
  ASSERT_TRUE(client->GetRecordTags(2, &tags));
  ASSERT_EQ(tags.Count(), 3);
  EXPECT_EQ(tags.GetResultItem(0)->Description(), "Machines in the server room");
  EXPECT_FALSE(client->GetRecordTags(999, &tags));
  EXPECT_EQ(client->ErrorCode(), 404);
}

TEST_F(VaultFlow, SearchFindsRecordsAndABlankOneSendsNothing) {
  auto client = Client(false);
  TSearchResultList hits;
  ASSERT_TRUE(client->Search(" \t ", &hits));
  EXPECT_EQ(hits.Count(), 0);
  EXPECT_TRUE(Sent().empty());

  ASSERT_TRUE(client->Search("db01", &hits, TSearchQueryType::qtStandard)) << client->ErrorMsg();
  ASSERT_EQ(hits.Count(), 1);
  EXPECT_EQ(hits.GetResultItem(0)->Id(), 101);
  EXPECT_EQ(hits.GetResultItem(0)->ParentId(), 2);

  TIntegerList ids;
  ASSERT_TRUE(client->SearchByNote("quarter", &ids)) << client->ErrorMsg();
  ASSERT_EQ(ids.Count(), 1);
  EXPECT_EQ(ids.Get(0), 101);
  EXPECT_EQ(ids.GetDWord(0), 2u);
}

// ------------------------------------------------------------------ bin

TEST_F(VaultFlow, BinListRestoreAndRemove) {
  auto client = Client(false);
  TDeletedItemList bin;
  ASSERT_TRUE(client->GetDeletedRecords(&bin)) << client->ErrorMsg();
  ASSERT_EQ(bin.Count(), 2);
  EXPECT_EQ(bin.GetResultItem(0)->Id(), 7);
  EXPECT_EQ(bin.GetResultItem(0)->ObjType(), kofSafeBox);
  EXPECT_EQ(bin.GetResultItem(1)->Id(), 103);
  EXPECT_EQ(bin.GetResultItem(1)->ObjType(), kofAccount);

  Control("DELETE", "/__control/requests");
  ASSERT_TRUE(client->RestoreDeletedRecord(103)) << client->ErrorMsg();
  ASSERT_TRUE(client->RemoveDeletedRecord(7)) << client->ErrorMsg();
  const json log = Control("GET", "/__control/requests");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0]["method"], "PUT");
  EXPECT_EQ(log[1]["method"], "DELETE");
  EXPECT_EQ(log[1]["path"], "/safe/deleted");
  EXPECT_EQ(log[1]["bodySize"], std::string(R"({"boxes":[7]})").size());

  ASSERT_TRUE(client->GetDeletedRecords(&bin));
  EXPECT_EQ(bin.Count(), 0);
  TKofList records;
  ASSERT_TRUE(client->GetRecords(2, &records, false, false, false));
  EXPECT_EQ(Ids(records), std::vector<int>({101, 102, 103}));
  EXPECT_FALSE(client->RemoveDeletedRecord(7));  // gone for good
  EXPECT_EQ(client->ErrorCode(), 404);
}

// ------------------------------------------------------------------ watch flags, limits, external files

TEST_F(VaultFlow, WatchFlagsSendOnlyWhatChanged) {
  auto client = Client(false);
  TKofSafeBox box("Personal", "", true, 0);
  box.SetId(6);
  EXPECT_TRUE(client->SetWatched(&box, true));
  EXPECT_TRUE(client->SetWatched(nullptr, true));
  EXPECT_TRUE(Sent().empty());

  box.SetWatchedAccesses(true);
  ASSERT_TRUE(client->SetWatched(&box, false)) << client->ErrorMsg();
  EXPECT_FALSE(box.WatchedModified());
  box.SetWatchedChanges(true);
  box.SetWatchedAccesses(false);
  ASSERT_TRUE(client->SetWatched(&box, true)) << client->ErrorMsg();
  EXPECT_EQ(Sent(), std::vector<std::string>({"POST /safe/watch/6/enableAccesses",
                                              "POST /safe/watch/6/enableChangesAll",
                                              "POST /safe/watch/6/disableAccessesAll"}));
  EXPECT_EQ(Stored("boxes", 6)["watched"], true);
  EXPECT_EQ(Stored("boxes", 6)["watchedAccesses"], false);
}

TEST_F(VaultFlow, WatchFlagStaysModifiedWhenTheServerRefuses) {
  AddFault({{"path", "/safe/watch/*"}, {"kind", "fail"}, {"status", 503}, {"body", "err,maintenance"}});
  auto client = Client(false);
  TKofSafeBox box("Personal", "", true, 0);
  box.SetId(6);
  box.SetWatchedChanges(true);
  box.SetWatchedAccesses(true);
  EXPECT_FALSE(client->SetWatched(&box, false));
  EXPECT_EQ(client->ErrorCode(), 503);
  EXPECT_TRUE(box.WatchedChangesModified());
  EXPECT_EQ(Sent().size(), 1u);  // accesses are not tried after a failure
}

TEST_F(VaultFlow, FileSizeLimitAsAnnounced) {
  auto client = Client(false);
  EXPECT_EQ(client->GetFileSizeLimit(), 1048576);
  Control("POST", "/__control/settings", {{"fileSizeLimit", -1}});
  EXPECT_EQ(client->GetFileSizeLimit(), -1);
  EXPECT_EQ(TKofClient().GetFileSizeLimit(), -1);  // no server to ask
}

TEST_P(VaultFlowBothWays, ExternalFileParamsInClear) {
  auto client = Client(GetParam());
  SecureString key, iv, aad;
  std::string path;
  ASSERT_TRUE(client->GetExternalFileParams(6, key, iv, aad, path)) << client->ErrorCode() << " " << client->ErrorMsg();
  // Below the box's own storage root.
  EXPECT_EQ(path.rfind("%TEMP%\\koffra-ext\\", 0), 0u) << path;
  EXPECT_EQ(key.View().size(), 64u);
  EXPECT_EQ(iv.View().size(), 24u);
  EXPECT_EQ(aad.View().size(), 32u);
}

TEST_F(VaultFlow, ExternalFileParamsWithoutIvKeepWhatCameBeforeAndSayWhatIsMissing) {
  AddFault({{"path", "/safe/boxes/6/generateExternalFileParams"}, {"kind", "fail"}, {"status", 200},
            {"body", R"({"filePath":"ext/6/a.kofx","key":"K1","aad":"A1"})"}, {"contentType", "application/json"}});
  auto client = Client(false);
  SecureString key, iv("old"), aad("old");
  std::string path;
  EXPECT_FALSE(client->GetExternalFileParams(6, key, iv, aad, path));
  EXPECT_EQ(path, "ext\\6\\a.kofx");
  EXPECT_EQ(key.View(), "K1");
  EXPECT_TRUE(iv.Empty());
  EXPECT_TRUE(aad.Empty());
  EXPECT_EQ(client->ErrorKey(), "data.error");
  EXPECT_NE(client->ErrorMsg().find("\"iv\""), std::string::npos) << client->ErrorMsg();
}

TEST_F(VaultFlow, ExternalFileParamsNeedTheAccessCode) {
  auto client = Client(false, "");
  SecureString key, iv, aad;
  std::string path;
  EXPECT_FALSE(client->GetExternalFileParams(6, key, iv, aad, path));
  EXPECT_EQ(client->ErrorKey(), "AccessCodeValidator.missing");
  EXPECT_TRUE(key.Empty());
}

}  // namespace
}  // namespace kof::clientflow
