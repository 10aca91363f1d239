// Changing a vault's tree through the exports, as a file manager does: new
// safe boxes, removing boxes, deleting records and bin items, renames, and
// copies and moves within a session and between two sessions.
#include <map>
#include <string>

#include "crypto/KofNaCL.h"
#include "tests/flows/VaultFixture.h"

namespace kof::test {
namespace {

// A record as stored, with the members that only say "nothing" (an empty
// text or object, which a client may send or leave out alike) dropped.
json Meaningful(json record) {
  for (auto it = record.begin(); it != record.end();) {
    if (it->is_object()) *it = Meaningful(*it);
    const bool empty = (it->is_string() && it->get<std::string>().empty()) || (it->is_object() && it->empty());
    it = empty ? record.erase(it) : std::next(it);
  }
  return record;
}

class TreeFlow : public VaultFlow {
 protected:
  void SetUp() override {
    VaultFlow::SetUp();
    // Yes/no questions the test decides, by a part of their text; the rest are the login's.
    FPlugin.GetAnswers().SetFallback([this](const Request& r) -> std::optional<std::string> {
      if (r.Type == wfx::RT_MsgYesNo)
        for (const auto& [text, yes] : FYesNo)
          if (r.Text.find(text) != std::string::npos) return yes ? "yes" : "no";
      return Answer(r);
    });
  }

  void Open(const json& seed) {
    StartVaultWith(seed);
    ASSERT_TRUE(Enter()) << AskedSoFar();
    FPlugin.List("/Demo");
    FPlugin.GetAnswers().ClearAsked();
  }
  void Open() { Open(Seed(false)); }

  json State() { return Control("GET", "/__control/state"); }

  // The live box or record of that name (null when there is none).
  json Live(const char* kind, const std::string& name) {
    const json state = State();
    for (const auto& item : state[kind])
      if (item.value("name", "") == name && !item.value("deleted", false)) return item;
    return nullptr;
  }
  json Box(const std::string& name) { return Live("boxes", name); }
  json Record(const std::string& name) { return Live("records", name); }
  json RecordById(int id) {
    const json state = State();
    for (const auto& item : state["records"])
      if (item.value("id", 0) == id) return item;
    return nullptr;
  }

  // "METHOD /path" of every request the vault answered since the log was last cleared.
  std::vector<std::string> Sent() {
    std::vector<std::string> lines;
    for (const auto& entry : Control("GET", "/__control/requests"))
      lines.push_back(entry["method"].get<std::string>() + " " + entry["path"].get<std::string>());
    return lines;
  }

  bool Asked(const std::string& text) {
    for (const auto& r : FPlugin.GetAnswers().Asked())
      if (r.Text.find(text) != std::string::npos) return true;
    return false;
  }

  std::map<std::string, bool> FYesNo;
};

const std::string kGroupQuestion = "Create Safe Box Group?";
const std::string kPrivateQuestion = "Create Private Safe Box?";
const std::string kNotThisType = "It is not possible to create Safe Box of this type in the parent Safe Box.";

// --- new safe boxes

TEST_F(TreeFlow, MakeDirectoryCreatesTheKindTheParentAllows) {
  struct Case {
    std::string Path;
    bool Group, Private;  // the answers at the session root
    bool Ok;
    int LastError;
    std::optional<std::string> Type;  // of the box created, none when nothing is
    int ParentId;
    bool Questions;
  };
  const Case cases[] = {
      {"/Demo/Team", true, true, true, 0, "SAFEBOX_GROUP", 0, true},
      {"/Demo/Shared", false, false, true, 0, "SAFEBOX", 0, true},
      {"/Demo/Company/Web", true, true, true, 0, "SAFEBOX", 1, false},
      {"/Demo/Company/Servers/Inner", true, true, false, wfx::ERROR_WRITE_FAULT, std::nullopt, 0, false},
      {"/Demo/Personal/Inner", true, true, false, wfx::ERROR_WRITE_FAULT, std::nullopt, 0, false},
      {"/Demo/Company/Servers/Missing/Deeper", true, true, false, wfx::ERROR_INVALID_LEVEL, std::nullopt, 0, false},
  };
  Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Path);
    FYesNo = {{kGroupQuestion, c.Group}, {kPrivateQuestion, c.Private}};
    FPlugin.GetAnswers().ClearAsked();
    const auto r = FPlugin.MkDir(c.Path);
    EXPECT_EQ(r.Code != 0, c.Ok);
    if (!c.Ok) {
      EXPECT_EQ(r.LastError, c.LastError);
    }
    EXPECT_EQ(Asked(kGroupQuestion), c.Questions);
    EXPECT_EQ(Asked(kPrivateQuestion), c.Questions);
    const std::string name = c.Path.substr(c.Path.rfind('/') + 1);
    const json box = Box(name);
    if (!c.Type) {
      EXPECT_TRUE(box.is_null()) << box.dump();
      if (c.LastError == wfx::ERROR_WRITE_FAULT) {
        EXPECT_TRUE(NoticeShown("", kNotThisType)) << AskedSoFar();
      }
      continue;
    }
    ASSERT_FALSE(box.is_null());
    EXPECT_EQ(box["type"], *c.Type);
    EXPECT_EQ(box["parentId"], c.ParentId);
    EXPECT_EQ(box["privateBox"], c.Questions && c.Private);
  }
  // A new box is listed at once, a private one under its owner's name.
  EXPECT_EQ(Names("/Demo/Company"), (NameList{"Finance", "Servers", "Web", kAccessories}));
  const NameList root = Names("/Demo");
  EXPECT_NE(std::find(root.begin(), root.end(), "Shared"), root.end()) << ::testing::PrintToString(root);
}

TEST_F(TreeFlow, MakeDirectoryOfAnExistingBoxReusesIt) {
  Open();
  const std::size_t before = State()["boxes"].size();
  EXPECT_NE(FPlugin.MkDir("/Demo/Company/Finance").Code, 0);
  EXPECT_NE(FPlugin.MkDir("/Demo/Company/finance").Code, 0);
  EXPECT_EQ(State()["boxes"].size(), before);
  EXPECT_FALSE(NoticeShown("", kNotThisType)) << AskedSoFar();
}

// --- deleting

TEST_F(TreeFlow, DeleteRemovesARecordAndRefusesWhatItCannotDelete) {
  Open();
  EXPECT_NE(FPlugin.Delete("/Demo/Personal/Mail.account").Code, 0);
  EXPECT_TRUE(Record("Mail").is_null());
  EXPECT_EQ(Names("/Demo/Personal"), NameList{kAccessories});

  const auto missing = FPlugin.Delete("/Demo/Personal/Nothing.account");
  EXPECT_EQ(missing.Code, 0);
  EXPECT_EQ(missing.LastError, wfx::ERROR_NO_MORE_FILES);

  // Without the storage layer its stored file would be left behind for good.
  const auto external = FPlugin.Delete("/Demo/Company/Servers/holiday.mp4");
  EXPECT_EQ(external.Code, 0);
  EXPECT_FALSE(Record("holiday.mp4").is_null());
}

TEST_F(TreeFlow, DeletingRecordsOneByOneSendsOnlyTheDeletesAndKeepsTheListedNames) {
  json seed = Seed(false);
  seed["boxes"][1]["records"].push_back(
      {{"id", 112}, {"template", "account"}, {"name", "Mail"}, {"loginName", "other"}, {"password", "x"}});
  Open(seed);
  const NameList listed = Names("/Demo/Personal");
  ASSERT_EQ(listed, (NameList{"Mail [112].account", "Mail.account", kAccessories}));
  Control("DELETE", "/__control/requests");
  // As a file manager deletes a selection: each entry by the name it was listed under.
  EXPECT_NE(FPlugin.Delete("/Demo/Personal/Mail.account").Code, 0) << AskedSoFar();
  EXPECT_NE(FPlugin.Delete("/Demo/Personal/Mail [112].account").Code, 0) << AskedSoFar();
  EXPECT_EQ(Sent(), (std::vector<std::string>{"DELETE /safe/records/111", "DELETE /safe/records/112"}));
  EXPECT_TRUE(Record("Mail").is_null());
}

TEST_F(TreeFlow, DeleteInTheBinRemovesTheItemForGood) {
  Open();
  const NameList bin = Names("/Demo/" + kBin);
  ASSERT_EQ(bin.size(), 2u) << ::testing::PrintToString(bin);
  FPlugin.GetAnswers().ClearAsked();
  const std::string entry = bin[0];
  EXPECT_NE(FPlugin.Delete("/Demo/" + kBin + "/" + entry).Code, 0);
  EXPECT_TRUE(FPlugin.GetAnswers().Asked().empty()) << AskedSoFar();
  const NameList after = Names("/Demo/" + kBin);
  EXPECT_EQ(after.size(), 1u);
  EXPECT_EQ(std::find(after.begin(), after.end(), entry), after.end());
}

TEST_F(TreeFlow, RemoveDirRemovesEmptyBoxesOnly) {
  json seed = Seed(false);
  seed["boxes"][1]["records"].push_back({{"id", 112},
                                         {"template", "external-file"},
                                         {"name", "scan.pdf"},
                                         {"attributes", {{"efFileName", "scan.pdf"}, {"fileSize", 10}}}});
  Open(seed);
  EXPECT_NE(FPlugin.RmDir("/Demo/Company/Finance").Code, 0);
  EXPECT_TRUE(Box("Finance").is_null());

  // A group that holds boxes stays.
  EXPECT_EQ(FPlugin.RmDir("/Demo/Company").Code, 0);
  EXPECT_FALSE(Box("Company").is_null());

  // A box with external files: the question, and "No" keeps it.
  FYesNo = {{"It contains external files stored in the Storage", false}};
  EXPECT_EQ(FPlugin.RmDir("/Demo/Personal").Code, 0);
  EXPECT_TRUE(Asked("Cannot delete safe box \"Personal\". It contains external files stored in the Storage. "
                    "Delete these external files?"))
      << AskedSoFar();
  EXPECT_FALSE(Box("Personal").is_null());
  EXPECT_FALSE(Record("Mail").is_null());
}

// --- renames

TEST_F(TreeFlow, RenameChangesTheNameAndNothingElse) {
  struct Case {
    std::string From, To;
    int RecordId;
    std::string NewName;
  };
  const Case cases[] = {
      {"db01 root.account", "db02 root.account", 101, "db02 root"},
      {"Domain admin.secretaccount", "Admin.secretaccount", 102, "Admin"},
      {"Visa.creditcard", "Visa gold.creditcard", 103, "Visa gold"},
      {"Release notes.txt", "Notes 5.0.txt", 104, "Notes 5.0.txt"},
      {"VPN certificate.pfx", "VPN.pfx", 105, "VPN.pfx"},
      {"holiday.mp4", "trip.mp4", 106, "trip.mp4"},
  };
  Open();
  FPlugin.List("/Demo/Company/Servers");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.From);
    json before = RecordById(c.RecordId);
    const auto r = FPlugin.RenMov("/Demo/Company/Servers/" + c.From, "/Demo/Company/Servers/" + c.To, true, false);
    EXPECT_EQ(r.Code, wfx::FS_FILE_OK);
    json after = RecordById(c.RecordId);
    EXPECT_EQ(after["name"], c.NewName);
    for (json* record : {&before, &after})
      for (const char* key : {"name", "modified"}) record->erase(key);
    EXPECT_EQ(Meaningful(after), Meaningful(before));
  }
  const NameList names = Names("/Demo/Company/Servers");
  EXPECT_NE(std::find(names.begin(), names.end(), "Admin.secretaccount"), names.end()) << ::testing::PrintToString(names);
}

TEST_F(TreeFlow, RenameOfABoxAndTheRenamesThatDoNothing) {
  Open();
  json before = Box("Finance");
  EXPECT_EQ(FPlugin.RenMov("/Demo/Company/Finance", "/Demo/Company/Accounts", true, false).Code, wfx::FS_FILE_OK);
  json after = Box("Accounts");
  ASSERT_FALSE(after.is_null());
  EXPECT_EQ(after["id"], before["id"]);
  EXPECT_EQ(after["parentId"], before["parentId"]);

  struct Case {
    std::string From, To;
    bool Overwrite;
    int Code;
  };
  const Case cases[] = {
      {"/Demo/Personal/Mail.account", "/Demo/Personal/Mail2.txt", false, wfx::FS_FILE_OK},
      {"/Demo/Personal/Mail.account", "/Demo/Personal/Mail.account", false, wfx::FS_FILE_EXISTS},
      {"/Demo/Company/Accounts", "/Demo/Company/Servers", false, wfx::FS_FILE_EXISTS},
      {"/Demo/Personal/Nothing.account", "/Demo/Personal/Other.account", false, wfx::FS_FILE_NOTFOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.From + " -> " + c.To);
    EXPECT_EQ(FPlugin.RenMov(c.From, c.To, true, c.Overwrite).Code, c.Code);
  }
  EXPECT_FALSE(Record("Mail").is_null());
  EXPECT_FALSE(Box("Servers").is_null());
}

TEST_F(TreeFlow, MoveWithinASessionStoresTheCopyAndThenDeletesTheSource) {
  Open();
  const json source = Record("Mail");
  EXPECT_EQ(FPlugin.RenMov("/Demo/Personal/Mail.account", "/Demo/Company/Finance/Mail.account", true, false).Code,
            wfx::FS_FILE_OK);
  const json moved = Record("Mail");
  ASSERT_FALSE(moved.is_null());
  EXPECT_EQ(moved["boxId"], 3);
  EXPECT_EQ(moved["password"], source["password"]);
  EXPECT_EQ(moved["loginName"], source["loginName"]);
  EXPECT_TRUE(RecordById(source["id"].get<int>())["deleted"].get<bool>());

  // A copy, or a move over an existing record, has no place within one session.
  FPlugin.GetAnswers().ClearAsked();
  EXPECT_EQ(FPlugin.RenMov("/Demo/Company/Finance/Mail.account", "/Demo/Personal/Mail.account", false, false).Code,
            wfx::FS_FILE_USERABORT);
  EXPECT_TRUE(NoticeShown("", "Cannot copy/move files in the same session. Use a different session that has the same URL."));
  EXPECT_TRUE(Record("Mail")["boxId"] == 3);
}

// --- between two sessions

// The second vault: the same user, a box and a group, nothing else.
json OtherSeed() {
  return json::parse(R"({
    "users": [{"login": "demo", "password": "demo", "accessCode": "1234"}],
    "boxes": [{"id": 1, "name": "Inbox"}, {"id": 2, "name": "Teams", "type": "SAFEBOX_GROUP"}]
  })");
}

// A top-level box with four records of three kinds.
json SeedWithFullBox() {
  json seed = Seed(false);
  json& records = seed["boxes"][1]["records"];
  records.push_back({{"id", 112}, {"template", "account"}, {"name", "Bank"}, {"loginName", "me"}, {"password", "b4nk"}});
  records.push_back({{"id", 113},
                     {"template", "file"},
                     {"name", "Contract"},
                     {"fileName", "contract.txt"},
                     {"contentText", "signed on the dotted line\n"},
                     {"attributes", {{"file", "contract.txt"}}}});
  records.push_back({{"id", 114}, {"template", "ccard"}, {"name", "Debit"}, {"attributes", {{"number", "5500"}}}});
  return seed;
}

// The fields that must arrive unchanged (what the server adds on its own is left out).
json Content(json record) {
  for (const char* key : {"id", "boxId", "modified", "created", "deleted", "watched"}) record.erase(key);
  return Meaningful(record);
}

class TwoSessionFlow : public TreeFlow {
 protected:
  void TearDown() override {
    UnloadPlugin();
    FOtherApi.reset();
    FOther.reset();
    TreeFlow::TearDown();
  }

  // Demo on the first vault and Other on a second one (or on the same one), both entered.
  void OpenBoth(const json& seed, bool sameServer = false) {
    Open(seed);
    if (!sameServer) {
      FOther = std::make_unique<TServerProcess>(OtherSeed());
      FOtherApi = std::make_unique<TApi>(*FOther);
    }
    const int port = sameServer ? FServer->Port() : FOther->Port();
    WriteFile(Local("Other.KOF"), SessionFileText("https://127.0.0.1:" + std::to_string(port) + "/", FLogin, ""));
    ASSERT_EQ(FPlugin.Put(Local("Other.KOF"), "/Other.KOF", wfx::FS_COPYFLAGS_OVERWRITE).Code, wfx::FS_FILE_OK);
    std::string newPath;
    ASSERT_EQ(FPlugin.Exec("open", "/Other.<KOF>", &newPath).Code, wfx::FS_EXEC_SYMLINK) << AskedSoFar();
    FPlugin.List("/Other");
    FPlugin.List("/Demo");
    FPlugin.GetAnswers().ClearAsked();
  }

  json OtherState() { return testserver::flow::Control(*FOtherApi, "GET", "/__control/state"); }
  json OtherLive(const char* kind, const std::string& name) {
    const json state = OtherState();
    for (const auto& item : state[kind])
      if (item.value("name", "") == name && !item.value("deleted", false)) return item;
    return nullptr;
  }

  std::unique_ptr<TServerProcess> FOther;
  std::unique_ptr<TApi> FOtherApi;
};

TEST_F(TwoSessionFlow, EveryKindIsCopiedWholeAndAMoveDeletesTheSourceAfterwards) {
  struct Case {
    std::string Entry;
    int Id;
    bool Move;
  };
  const Case cases[] = {
      {"db01 root.account", 101, true},     {"Domain admin.secretaccount", 102, true},
      {"Visa.creditcard", 103, false},      {"Release notes.txt", 104, true},
      {"VPN certificate.pfx", 105, false},
  };
  OpenBoth(Seed(false));
  FPlugin.List("/Demo/Company/Servers");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Entry);
    const json source = RecordById(c.Id);
    const auto r = FPlugin.RenMov("/Demo/Company/Servers/" + c.Entry, "/Other/Inbox/" + c.Entry, c.Move, false);
    EXPECT_EQ(r.Code, wfx::FS_FILE_OK) << AskedSoFar();
    const json copy = OtherLive("records", source["name"].get<std::string>());
    ASSERT_FALSE(copy.is_null());
    EXPECT_EQ(copy["boxId"], 1);
    EXPECT_EQ(Content(copy), Content(source));
    EXPECT_EQ(RecordById(c.Id)["deleted"].get<bool>(), c.Move);
  }
  // A second copy of a name the target holds asks the host to decide.
  EXPECT_EQ(FPlugin.RenMov("/Demo/Company/Servers/Visa.creditcard", "/Other/Inbox/Visa.creditcard", false, false).Code,
            wfx::FS_FILE_EXISTS);
}

TEST_F(TwoSessionFlow, ATreeMoveRebuildsTheBoxInTheTargetAndRemovesTheSource) {
  OpenBoth(SeedWithFullBox());
  const json mail = Record("Mail");
  const json contract = Record("Contract");
  FPlugin.RenMovTree("/Demo/Personal", "/Other/Teams/Personal", true, false);
  const json box = OtherLive("boxes", "Personal");
  ASSERT_FALSE(box.is_null());
  EXPECT_EQ(box["parentId"], 2);
  for (const json& source : {mail, contract}) {
    const json copy = OtherLive("records", source["name"].get<std::string>());
    ASSERT_FALSE(copy.is_null()) << source.dump();
    EXPECT_EQ(copy["boxId"], box["id"]);
    EXPECT_EQ(Content(copy), Content(source));
  }
  EXPECT_TRUE(Box("Personal").is_null());
  EXPECT_TRUE(Record("Mail").is_null());
}

TEST_F(TwoSessionFlow, ATreeCopyIntoAnExistingBoxFillsIt) {
  OpenBoth(SeedWithFullBox());
  ASSERT_NE(FPlugin.MkDir("/Other/Teams/Personal").Code, 0);
  const std::size_t boxes = OtherState()["boxes"].size();
  FPlugin.RenMovTree("/Demo/Personal", "/Other/Teams/Personal", false, false);
  EXPECT_EQ(OtherState()["boxes"].size(), boxes);
  EXPECT_FALSE(OtherLive("records", "Bank").is_null());
  EXPECT_FALSE(Record("Bank").is_null());
  EXPECT_FALSE(Box("Personal").is_null());
}

TEST_F(TwoSessionFlow, AnOverwriteWhoseUploadFailsLeavesTheTargetRecordAsItWas) {
  json seed = Seed(false);
  seed["boxes"][1]["records"].push_back({{"id", 112},
                                         {"template", "file"},
                                         {"name", "Notes"},
                                         {"fileName", "notes.txt"},
                                         {"contentText", "a longer text than the release notes hold\n"},
                                         {"attributes", {{"file", "notes.txt"}}}});
  OpenBoth(seed);
  ASSERT_EQ(FPlugin.RenMov("/Demo/Company/Servers/Release notes.txt", "/Other/Inbox/Release notes.txt", false, false).Code,
            wfx::FS_FILE_OK);
  const json before = OtherLive("records", "Release notes");
  ASSERT_FALSE(before.is_null());
  const std::string upload = "/safe/records/" + std::to_string(before["id"].get<int>()) + "/upload/file";
  testserver::flow::Control(*FOtherApi, "POST", "/__control/faults",
                            {{"path", upload}, {"method", "POST"}, {"times", 1}, {"status", 500}});
  FPlugin.List("/Demo/Personal");
  EXPECT_NE(FPlugin.RenMov("/Demo/Personal/Notes.txt", "/Other/Inbox/Release notes.txt", true, true).Code,
            wfx::FS_FILE_OK);
  EXPECT_EQ(OtherLive("records", "Release notes"), before);
  EXPECT_FALSE(Record("Notes").is_null());
  // Once the target takes the content, the fields follow it.
  ASSERT_EQ(FPlugin.RenMov("/Demo/Personal/Notes.txt", "/Other/Inbox/Release notes.txt", true, true).Code,
            wfx::FS_FILE_OK)
      << AskedSoFar();
  const json after = OtherLive("records", "Release notes");
  ASSERT_FALSE(after.is_null()) << "the overwrite renamed the target";
  EXPECT_EQ(after["id"], before["id"]);
  EXPECT_EQ(after["fileName"], "notes.txt");
  EXPECT_EQ(after.value("contentBase64", ""), Base64Encode("a longer text than the release notes hold\n"));
  EXPECT_TRUE(Record("Notes").is_null());
}

TEST_F(TwoSessionFlow, AMoveThatFailsOnItsThirdItemLeavesTheRestInTheSource) {
  OpenBoth(SeedWithFullBox());
  testserver::flow::Control(*FOtherApi, "POST", "/__control/faults",
                            {{"path", "/safe/boxes/*"}, {"method", "POST"}, {"after", 3}, {"times", 1},
                             {"status", 500},
                             {"body", R"({"msg":[{"severity":"ERROR","message":"Storage full","translationKey":"storage.full"}]})"}});
  FPlugin.RenMovTree("/Demo/Personal", "/Other/Teams/Personal", true, false);
  // The box was the first POST; the third record is the one the target refused.
  const json box = OtherLive("boxes", "Personal");
  ASSERT_FALSE(box.is_null());
  int moved = 0, kept = 0;
  std::string keptName;
  for (const std::string name : {"Bank", "Contract", "Debit", "Mail"}) {
    const bool there = !OtherLive("records", name).is_null();
    const bool here = !Record(name).is_null();
    EXPECT_NE(there, here) << name;
    moved += there;
    if (here) {
      ++kept;
      keptName = name;
    }
  }
  EXPECT_EQ(moved, 3);
  EXPECT_EQ(kept, 1);
  // The source box holds what did not go over.
  EXPECT_FALSE(Box("Personal").is_null());
  EXPECT_TRUE(NoticeShown("Copy/Move Result", keptName)) << AskedSoFar();
  EXPECT_TRUE(NoticeShown("Copy/Move Result", "[WRITE] ")) << AskedSoFar();
  EXPECT_TRUE(NoticeShown("Copy/Move Result", "Storage full")) << AskedSoFar();
}

TEST_F(TwoSessionFlow, AMoveThatStoresNothingTakesBackTheBoxItCreated) {
  OpenBoth(SeedWithFullBox());
  testserver::flow::Control(*FOtherApi, "POST", "/__control/faults",
                            {{"path", "/safe/boxes/*"}, {"method", "POST"}, {"after", 1}, {"status", 500}});
  FPlugin.RenMovTree("/Demo/Personal", "/Other/Teams/Personal", true, false);
  EXPECT_TRUE(OtherLive("boxes", "Personal").is_null());
  EXPECT_FALSE(Box("Personal").is_null());
  EXPECT_FALSE(Record("Bank").is_null());
  EXPECT_FALSE(Record("Mail").is_null());
}

TEST_F(TwoSessionFlow, ASourceThatCannotBeDeletedStaysBesideItsCopyAndIsReported) {
  OpenBoth(Seed(false));
  Control("POST", "/__control/faults",
          {{"path", "/safe/records/111"}, {"method", "DELETE"}, {"status", 500},
           {"body", R"({"msg":[{"severity":"ERROR","message":"Locked","translationKey":"record.locked"}]})"}});
  FPlugin.RenMov("/Demo/Personal/Mail.account", "/Other/Inbox/Mail.account", true, false);
  EXPECT_FALSE(Record("Mail").is_null());
  EXPECT_FALSE(OtherLive("records", "Mail").is_null());
  EXPECT_TRUE(NoticeShown("Copy/Move Result", "[DELETE] ")) << AskedSoFar();
  EXPECT_TRUE(NoticeShown("Copy/Move Result", "Locked")) << AskedSoFar();
}

TEST_F(TwoSessionFlow, AMoveBetweenSessionsOfOneServerKeepsTheSourceWhenTheTargetFails) {
  OpenBoth(Seed(false), true);
  Control("POST", "/__control/faults", {{"path", "/safe/boxes/3/records"}, {"method", "POST"}, {"status", 500}});
  const json before = Record("Mail");
  EXPECT_EQ(FPlugin.RenMov("/Demo/Personal/Mail.account", "/Other/Company/Finance/Mail.account", true, false).Code,
            wfx::FS_FILE_WRITEERROR);
  EXPECT_EQ(Record("Mail"), before);
  Control("DELETE", "/__control/faults");
  EXPECT_EQ(FPlugin.RenMov("/Demo/Personal/Mail.account", "/Other/Company/Finance/Mail.account", true, false).Code,
            wfx::FS_FILE_OK);
  const json moved = Record("Mail");
  ASSERT_FALSE(moved.is_null());
  EXPECT_EQ(moved["boxId"], 3);
  EXPECT_EQ(moved["password"], before["password"]);
}

TEST_F(TwoSessionFlow, AFileRecordOfSomeMebibytesMovesWholeWithoutPassingThroughMemory) {
  constexpr std::size_t kSize = 6u << 20;
  std::string content(kSize, '\0');
  for (std::size_t i = 0; i < kSize; ++i) content[i] = static_cast<char>('a' + (i * 7) % 23);
  json seed = Seed(false);
  seed["server"]["fileSizeLimit"] = -1;
  seed["boxes"][1]["records"].push_back({{"id", 112},
                                         {"template", "file"},
                                         {"name", "big.bin"},
                                         {"fileName", "big.bin"},
                                         {"contentText", content},
                                         {"attributes", {{"file", "big.bin"}}}});
  OpenBoth(seed);
  FPlugin.List("/Demo/Personal");
  int moved = -1;
  const long growth = PeakHeapGrowthKiB(
      [&] { moved = FPlugin.RenMov("/Demo/Personal/big.bin", "/Other/Inbox/big.bin", true, false).Code; });
  ASSERT_EQ(moved, wfx::FS_FILE_OK) << AskedSoFar();
  const json copy = OtherLive("records", "big.bin");
  ASSERT_FALSE(copy.is_null());
  EXPECT_TRUE(copy.value("contentBase64", "") == Base64Encode(content)) << "the copy's content differs";
  EXPECT_TRUE(Record("big.bin").is_null());
  // The file went through a temporary file, not through the plugin's memory.
  EXPECT_LT(growth, static_cast<long>(kSize / 1024 / 2));
}

TEST_F(TwoSessionFlow, ACopyToAnotherSessionListsTheTargetBoxOnce) {
  OpenBoth(Seed(false));
  FPlugin.List("/Other/Inbox");
  testserver::flow::Control(*FOtherApi, "DELETE", "/__control/requests");
  ASSERT_EQ(FPlugin.RenMov("/Demo/Personal/Mail.account", "/Other/Inbox/Mail.account", false, false).Code,
            wfx::FS_FILE_OK)
      << AskedSoFar();
  int listings = 0;
  for (const auto& entry : testserver::flow::Control(*FOtherApi, "GET", "/__control/requests"))
    listings += entry["method"] == "GET" && entry["path"] == "/safe/boxes/1/records";
  EXPECT_EQ(listings, 1);
  EXPECT_EQ(Names("/Other/Inbox"), (NameList{"Mail.account", kAccessories}));
}

// --- sessions and records

TEST_F(TreeFlow, ACopyOfSeveralRecordsIntoTheSessionsFolderReportsEveryFailure) {
  Open();
  ASSERT_EQ(FPlugin.RenMov("/Demo.<KOF>", "/Demo/Personal/Spare.<KOF>", false, false).Code, wfx::FS_FILE_OK)
      << AskedSoFar();
  WriteFile(Local("Broken.KOF"), "not a session file\n");
  ASSERT_EQ(FPlugin.Put(Local("Broken.KOF"), "/Demo/Personal/Broken.KOF", 0).Code, wfx::FS_FILE_OK) << AskedSoFar();
  FPlugin.GetAnswers().ClearAsked();
  const std::vector<wfxhost::Result> results =
      FPlugin.RenMovMany("/Demo/Personal", {"Broken.KOF", "Spare.KOF"}, "/", false, false);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_NE(results[0].Code, wfx::FS_FILE_OK);
  EXPECT_EQ(results[1].Code, wfx::FS_FILE_OK) << AskedSoFar();
  const NameList sessions = Names("/");
  EXPECT_NE(std::find(sessions.begin(), sessions.end(), "Spare.<KOF>"), sessions.end());
  // The stored session does not wipe what failed before it.
  EXPECT_TRUE(NoticeShown("Copy/Move Result", "Broken.KOF")) << AskedSoFar();
  EXPECT_TRUE(NoticeShown("Copy/Move Result", "Copied Files/Records:  1\r\nFile/Record Errors:  1")) << AskedSoFar();
}

TEST_F(TreeFlow, ACopyRefusedWithinOneSessionStillReportsWhatFailedBeforeIt) {
  Open();
  // The box cannot be made inside a box; the record then meets the refusal.
  FPlugin.RenMovTree("/Demo/Personal", "/Demo/Company/Servers/Personal", false, false);
  EXPECT_TRUE(NoticeShown("", "Cannot copy/move files in the same session.")) << AskedSoFar();
  EXPECT_TRUE(NoticeShown("Copy/Move Result", "[CREATE] " + kNotThisType)) << AskedSoFar();
  int boxes = 0;
  const json state = State();
  for (const auto& box : state["boxes"]) boxes += box["name"] == "Personal";
  EXPECT_EQ(boxes, 1);
}

TEST_F(TreeFlow, ASessionBecomesAFileRecordAndBack) {
  Open();
  // The session's own file, kept in a box.
  EXPECT_EQ(FPlugin.RenMov("/Demo.<KOF>", "/Demo/Personal/Demo.<KOF>", false, false).Code, wfx::FS_FILE_OK)
      << AskedSoFar();
  const json stored = Record("Demo.KOF");
  ASSERT_FALSE(stored.is_null());
  EXPECT_EQ(stored["template"], "file");
  ASSERT_EQ(FPlugin.Get("/Demo/Personal/Demo.KOF", Local("stored.KOF"), 0).Code, wfx::FS_FILE_OK);
  EXPECT_EQ(ReadFile(Local("stored.KOF")).find("URL=" + VaultURL()) != std::string::npos, true)
      << ReadFile(Local("stored.KOF"));

  // Into the sessions folder under another name: a copy stays, a move takes the record.
  EXPECT_EQ(FPlugin.RenMov("/Demo/Personal/Demo.KOF", "/Spare.KOF", false, false).Code, wfx::FS_FILE_OK)
      << AskedSoFar();
  EXPECT_EQ(FPlugin.RenMov("/Demo/Personal/Demo.KOF", "/Spare.KOF", true, false).Code, wfx::FS_FILE_EXISTS);
  EXPECT_EQ(FPlugin.RenMov("/Demo/Personal/Demo.KOF", "/Copy.KOF", true, false).Code, wfx::FS_FILE_OK);
  const NameList sessions = Names("/");
  for (const char* name : {"Copy.<KOF>", "Spare.<KOF>", "Demo.<KOF>"})
    EXPECT_NE(std::find(sessions.begin(), sessions.end(), name), sessions.end())
        << name << " in " << ::testing::PrintToString(sessions);
  EXPECT_TRUE(Record("Demo.KOF").is_null());

  struct Case {
    std::string From, To;
    int Code;
  };
  const Case refused[] = {
      {"/Demo/Personal/Mail.account", "/Mail.KOF", wfx::FS_FILE_READERROR},               // not a file
      {"/Demo/Company/Servers/Release notes.txt", "/Notes.KOF", wfx::FS_FILE_READERROR},  // not a session file
      {"/Demo/Company/Servers/Release notes.txt", "/Notes.txt", wfx::FS_FILE_NOTFOUND},   // no session extension
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.From + " -> " + c.To);
    EXPECT_EQ(FPlugin.RenMov(c.From, c.To, true, false).Code, c.Code);
  }
  EXPECT_FALSE(Record("Mail").is_null());
  EXPECT_FALSE(Record("Release notes").is_null());
}

}  // namespace
}  // namespace kof::test
