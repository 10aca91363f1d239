// External files through the exports: files over the server's limit go
// encrypted to the storage share (the server's \\storage\vault, mapped to a
// temporary folder by the test's own Koffra.subst.cfg), come back byte for
// byte, are re-keyed when they move to another box, and go with their record.
#include <openssl/evp.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/flows/VaultFixture.h"

namespace kof::test {
namespace {

namespace fs = std::filesystem;

std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// The plain content of a stored file, opened without the plugin: signature,
// AES-256-GCM over the rest but the last 16 bytes, which are the tag.
std::optional<std::string> OpenStored(const std::string& stored, const json& attributes) {
  if (stored.size() < 20 || stored.compare(0, 4, "\xFA\xBD\xEC\x13") != 0) return std::nullopt;
  const auto key = FromHex(attributes["efKey"]), iv = FromHex(attributes["efIV"]), aad = FromHex(attributes["efAAD"]);
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  const auto* data = reinterpret_cast<const unsigned char*>(stored.data());
  const int n = static_cast<int>(stored.size() - 20);
  std::string plain(static_cast<std::size_t>(n) + 16, '\0');
  auto* out = reinterpret_cast<unsigned char*>(plain.data());
  std::vector<unsigned char> tag(data + 4 + n, data + 4 + n + 16);
  int length = 0;
  EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr);
  EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(iv.size()), nullptr);
  EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), iv.data());
  if (!aad.empty()) EVP_DecryptUpdate(ctx.get(), nullptr, &length, aad.data(), static_cast<int>(aad.size()));
  if (n > 0) EVP_DecryptUpdate(ctx.get(), out, &length, data + 4, n);
  EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, 16, tag.data());
  if (EVP_DecryptFinal_ex(ctx.get(), out + n, &length) != 1) return std::nullopt;
  plain.resize(static_cast<std::size_t>(n));
  return plain;
}

std::string Pattern(std::size_t size, char seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 7 + i / 251);
  return bytes;
}

constexpr std::int64_t kLimit = 4096;

class ExtFileFlow : public VaultFlow {
 protected:
  void SetUp() override {
    VaultFlow::SetUp();
    fs::create_directories(Storage());
    // The plugin reaches the server's share where the server itself keeps it.
    WriteFile((FDir / "user" / "Koffra.subst.cfg").string(),
              "# the test's storage\nsubst \\\\storage\\vault " + Storage().string() + "\n");
  }

  fs::path Storage() const { return FDir / "storage"; }

  json VaultSeed() const {
    json seed = json::parse(R"({
      "server": {"fileSizeLimit": 4096},
      "users": [{"login": "demo", "password": "demo", "accessCode": "1234"}],
      "boxes": [{"id": 2, "name": "Media"}, {"id": 3, "name": "Backup"},
                {"id": 4, "name": "Group", "type": "SAFEBOX_GROUP", "boxes": [{"id": 5, "name": "Inner"}]}]
    })");
    seed["server"]["storageDir"] = Storage().string();
    return seed;
  }

  void Open(const std::string& sessionLines = "") { OpenWith(VaultSeed(), sessionLines); }
  void OpenWith(const json& seed, const std::string& sessionLines = "") {
    StartVaultWith(seed, sessionLines);
    ASSERT_TRUE(Enter()) << AskedSoFar();
  }

  // The live record named NAME as the server stores it, or null.
  json Stored(const std::string& name) {
    const json state = Control("GET", "/__control/state");
    for (const auto& record : state["records"])
      if (record.value("name", "") == name && !record.value("deleted", false)) return record;
    return {};
  }
  // Whether the server still holds the record, in the bin or not.
  bool Kept(int id) {
    const json state = Control("GET", "/__control/state");
    for (const auto& record : state["records"])
      if (record.value("id", 0) == id) return true;
    return false;
  }

  // Where the stored file of a record lies in the test's storage folder.
  fs::path LocalOf(const json& record) {
    std::string path = record["attributes"]["efFilePath"];
    const std::string root = "\\\\storage\\vault";
    EXPECT_EQ(path.rfind(root, 0), 0u) << path;
    path = path.substr(root.size());
    std::replace(path.begin(), path.end(), '\\', '/');
    return Storage().string() + path;
  }

  std::vector<std::string> FilesIn(const fs::path& dir) {
    std::vector<std::string> names;
    if (!fs::exists(dir)) return names;
    for (const auto& e : fs::recursive_directory_iterator(dir))
      if (e.is_regular_file()) names.push_back(fs::relative(e.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // A local file of SIZE bytes put into a box; the host's result.
  int PutNew(const std::string& name, const std::string& bytes, const std::string& box = "Media") {
    WriteFile(Local(name), bytes);
    return FPlugin.Put(Local(name), "/Demo/" + box + "/" + name, 0).Code;
  }

};

TEST_F(ExtFileFlow, AFileOverTheLimitIsStoredEncryptedAndComesBackByteForByte) {
  Open();
  const std::string bytes = Pattern(3 * kLimit + 17, 'a');
  ASSERT_EQ(PutNew("video.bin", bytes), wfx::FS_FILE_OK) << AskedSoFar();
  ASSERT_EQ(PutNew("small.txt", "below the limit"), wfx::FS_FILE_OK) << AskedSoFar();

  const json record = Stored("video.bin");
  ASSERT_EQ(record.value("template", ""), "external-file") << record.dump();
  EXPECT_EQ(Stored("small.txt").value("template", ""), "file");
  const json& attributes = record["attributes"];
  EXPECT_EQ(attributes["efFilePath"].get<std::string>().rfind("\\\\storage\\vault\\box2\\", 0), 0u);
  EXPECT_EQ(attributes["efFileName"], "video.bin");
  EXPECT_EQ(attributes["fileSize"], bytes.size());
  // The stored layout, opened by an independent path; nothing else was left in the storage.
  const std::string stored = ReadFile(LocalOf(record).string());
  EXPECT_EQ(stored.size(), bytes.size() + 20);
  EXPECT_EQ(stored.find(bytes.substr(0, 64)), std::string::npos);
  EXPECT_EQ(OpenStored(stored, attributes), bytes);
  EXPECT_EQ(FilesIn(Storage()), std::vector<std::string>{fs::relative(LocalOf(record), Storage()).string()});

  ExpectListing("/Demo/Media", {{"small.txt", kRecord, 15},
                                {"video.bin", kRecord, bytes.size()},
                                {kAccessories, kFolder, 0}});
  ASSERT_EQ(FPlugin.Get("/Demo/Media/video.bin", Local("back.bin"), 0).Code, wfx::FS_FILE_OK) << AskedSoFar();
  EXPECT_EQ(ReadFile(Local("back.bin")), bytes);
  // An existing local file is the host's to decide about.
  EXPECT_EQ(FPlugin.Get("/Demo/Media/video.bin", Local("back.bin"), 0).Code, wfx::FS_FILE_EXISTS);
}

TEST_F(ExtFileFlow, AFileTheServerStoredOpensHere) {
  json seed = VaultSeed();
  seed["boxes"][1]["records"] = json::parse(R"([{"id": 30, "template": "external-file", "name": "seeded.txt",
                                                 "contentText": "sealed by the server\n"}])");
  OpenWith(seed);
  ExpectListing("/Demo/Backup", {{"seeded.txt", kRecord, 21}, {kAccessories, kFolder, 0}});
  ASSERT_EQ(FPlugin.Get("/Demo/Backup/seeded.txt", Local("seeded.txt"), 0).Code, wfx::FS_FILE_OK) << AskedSoFar();
  EXPECT_EQ(ReadFile(Local("seeded.txt")), "sealed by the server\n");
}

// A server whose listings lack the sizes costs one record read per external
// file, up to a bound per listing; the rest show 0 rather than stall the listing.
TEST_F(ExtFileFlow, SizesMissingFromTheListingAreReadForABoundedNumberOfRecords) {
  json seed = VaultSeed();
  seed["server"]["listingFileSizes"] = false;
  json records = json::array();
  for (int i = 0; i < 40; ++i)
    records.push_back({{"id", 1000 + i}, {"template", "external-file"}, {"name", "f" + std::to_string(100 + i)},
                       {"attributes", {{"efFileName", "f.bin"}, {"efFilePath", "\\\\storage\\vault\\box3\\f.kofx"},
                                       {"fileSize", 5000 + i}}}});
  seed["boxes"][1]["records"] = records;
  OpenWith(seed);
  Control("DELETE", "/__control/requests");
  const std::vector<Entry> entries = FPlugin.List("/Demo/Backup");
  int reads = 0;
  const json log = Control("GET", "/__control/requests");
  for (const auto& request : log)
    reads += request.value("path", "").rfind("/safe/records/", 0) == 0 ? 1 : 0;
  EXPECT_EQ(reads, 32);
  int sized = 0;
  for (const auto& e : entries) sized += e.Size > 0 && e.Name != kAccessories ? 1 : 0;
  EXPECT_EQ(sized, 32);
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries[0].Size, 5000u);
}

TEST_F(ExtFileFlow, ASessionThatStoresAllFilesSendsEvenSmallOnesToTheStorage) {
  Open("Store All Files=ON\r\n");
  ASSERT_EQ(PutNew("note.txt", "tiny"), wfx::FS_FILE_OK) << AskedSoFar();
  const json record = Stored("note.txt");
  EXPECT_EQ(record.value("template", ""), "external-file");
  EXPECT_EQ(OpenStored(ReadFile(LocalOf(record).string()), record["attributes"]), "tiny");
}

TEST_F(ExtFileFlow, OverwritingAnExternalFileReplacesItsStoredFileOnlyOnceTheRecordPointsAtTheNewOne) {
  Open();
  ASSERT_EQ(PutNew("video.bin", Pattern(2 * kLimit, 'x')), wfx::FS_FILE_OK);
  const json before = Stored("video.bin");
  const std::string fresh = Pattern(2 * kLimit + 5, 'y');
  WriteFile(Local("video.bin"), fresh);
  ASSERT_EQ(FPlugin.Put(Local("video.bin"), "/Demo/Media/video.bin", wfx::FS_COPYFLAGS_OVERWRITE).Code,
            wfx::FS_FILE_OK)
      << AskedSoFar();
  const json after = Stored("video.bin");
  EXPECT_EQ(after.value("id", 0), before.value("id", 0));
  EXPECT_NE(after["attributes"]["efFilePath"], before["attributes"]["efFilePath"]);
  EXPECT_FALSE(fs::exists(LocalOf(before)));
  EXPECT_EQ(OpenStored(ReadFile(LocalOf(after).string()), after["attributes"]), fresh);
}

TEST_F(ExtFileFlow, AMoveToAnotherBoxReKeysTheStoredFile) {
  Open();
  const std::string bytes = Pattern(2 * kLimit + 3, 'm');
  ASSERT_EQ(PutNew("video.bin", bytes), wfx::FS_FILE_OK);
  const json before = Stored("video.bin");
  const auto moved = FPlugin.RenMov("/Demo/Media/video.bin", "/Demo/Backup/video.bin", true, false);
  ASSERT_EQ(moved.Code, wfx::FS_FILE_OK) << AskedSoFar();

  const json after = Stored("video.bin");
  ASSERT_FALSE(after.is_null());
  EXPECT_EQ(after.value("boxId", 0), 3);
  EXPECT_EQ(after["attributes"]["efFilePath"].get<std::string>().rfind("\\\\storage\\vault\\box3\\", 0), 0u);
  EXPECT_NE(after["attributes"]["efKey"], before["attributes"]["efKey"]);
  const std::string stored = ReadFile(LocalOf(after).string());
  EXPECT_EQ(OpenStored(stored, after["attributes"]), bytes);
  EXPECT_EQ(OpenStored(stored, before["attributes"]), std::nullopt) << "the old key still opens the new file";
  // The source went with its stored file, and is not restorable from the bin.
  EXPECT_FALSE(fs::exists(LocalOf(before)));
  EXPECT_FALSE(Kept(before.value("id", 0)));
  EXPECT_EQ(FilesIn(Storage()).size(), 1u);
  ASSERT_EQ(FPlugin.Get("/Demo/Backup/video.bin", Local("back.bin"), 0).Code, wfx::FS_FILE_OK);
  EXPECT_EQ(ReadFile(Local("back.bin")), bytes);
}

TEST_F(ExtFileFlow, ACopyIntoAnotherSessionReKeysAndKeepsTheSource) {
  Open();
  const std::string bytes = Pattern(2 * kLimit, 'c');
  ASSERT_EQ(PutNew("video.bin", bytes), wfx::FS_FILE_OK);
  const json source = Stored("video.bin");
  WriteFile(Local("Other.KOF"), SessionFileText(VaultURL(), FLogin, ""));
  ASSERT_EQ(FPlugin.Put(Local("Other.KOF"), "/Other.KOF", 0).Code, wfx::FS_FILE_OK);
  std::string newPath;
  ASSERT_EQ(FPlugin.Exec("open", "/Other.<KOF>", &newPath).Code, wfx::FS_EXEC_SYMLINK) << AskedSoFar();
  FPlugin.List("/Other/Backup");
  const auto copied = FPlugin.RenMov("/Demo/Media/video.bin", "/Other/Backup/video.bin", false, false);
  ASSERT_EQ(copied.Code, wfx::FS_FILE_OK) << AskedSoFar();

  json copy;
  const json state = Control("GET", "/__control/state");
  for (const auto& record : state["records"])
    if (record.value("boxId", 0) == 3) copy = record;
  ASSERT_FALSE(copy.is_null());
  const std::string stored = ReadFile(LocalOf(copy).string());
  EXPECT_EQ(OpenStored(stored, copy["attributes"]), bytes);
  EXPECT_EQ(OpenStored(stored, source["attributes"]), std::nullopt);
  EXPECT_EQ(OpenStored(ReadFile(LocalOf(source).string()), source["attributes"]), bytes);
  // Once more without overwrite: the name exists, and no stored file is left without a record.
  EXPECT_EQ(FPlugin.RenMov("/Demo/Media/video.bin", "/Other/Backup/video.bin", false, false).Code,
            wfx::FS_FILE_EXISTS);
  EXPECT_EQ(FilesIn(Storage()).size(), 2u);
}

TEST_F(ExtFileFlow, DeletingTheRecordDeletesItsStoredFile) {
  Open();
  ASSERT_EQ(PutNew("video.bin", Pattern(2 * kLimit, 'd')), wfx::FS_FILE_OK);
  const json record = Stored("video.bin");
  ASSERT_TRUE(fs::exists(LocalOf(record)));
  ASSERT_NE(FPlugin.Delete("/Demo/Media/video.bin").Code, 0) << AskedSoFar();
  EXPECT_FALSE(fs::exists(LocalOf(record)));
  EXPECT_FALSE(Kept(record.value("id", 0))) << "a record without its file stayed restorable";
}

TEST_F(ExtFileFlow, AMissingStoredFileKeepsTheRecordUnlessTheUserAgreesTwice) {
  Open();
  ASSERT_EQ(PutNew("video.bin", Pattern(2 * kLimit, 'g')), wfx::FS_FILE_OK);
  fs::remove(LocalOf(Stored("video.bin")));
  FReplies["Error deleting external file"] = "no";
  EXPECT_EQ(FPlugin.Delete("/Demo/Media/video.bin").Code, 0);
  EXPECT_FALSE(Stored("video.bin").is_null());
  FReplies["Error deleting external file"] = "yes";
  FReplies["Delete external file record"] = "yes";
  EXPECT_NE(FPlugin.Delete("/Demo/Media/video.bin").Code, 0) << AskedSoFar();
  EXPECT_TRUE(Stored("video.bin").is_null());
}

// The record goes before its stored file: one the server would not delete,
// or would not let go from the bin (where it can be restored), keeps its file.
TEST_F(ExtFileFlow, ARecordThatStaysKeepsItsStoredFile) {
  Open();
  const struct {
    const char* Name;
    const char* Refused;
    bool InBin;
  } cases[] = {{"kept.bin", "/safe/records/*", false}, {"binned.bin", "/safe/deleted", true}};
  std::size_t stored = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string bytes = Pattern(2 * kLimit, c.Name[0]);
    ASSERT_EQ(PutNew(c.Name, bytes), wfx::FS_FILE_OK) << AskedSoFar();
    ++stored;
    const json record = Stored(c.Name);
    Control("POST", "/__control/faults",
            {{"path", c.Refused}, {"method", "DELETE"}, {"kind", "fail"}, {"status", 500}, {"times", 1}});
    EXPECT_EQ(FPlugin.Delete("/Demo/Media/" + std::string(c.Name)).Code, 0);
    Control("DELETE", "/__control/faults");
    EXPECT_TRUE(Kept(record.value("id", 0)));
    EXPECT_EQ(Stored(c.Name).is_null(), c.InBin);
    EXPECT_EQ(OpenStored(ReadFile(LocalOf(record).string()), record["attributes"]), bytes);
    // Nothing set aside on the way stays behind.
    EXPECT_EQ(FilesIn(Storage()).size(), stored);
  }
}

TEST_F(ExtFileFlow, RemovingABoxWithExternalFilesDeletesThemWhenTheUserAgrees) {
  Open();
  ASSERT_EQ(PutNew("video.bin", Pattern(2 * kLimit, 'r'), "Group/Inner"), wfx::FS_FILE_OK) << AskedSoFar();
  const json record = Stored("video.bin");
  FReplies["Remove Safe Box"] = "no";
  EXPECT_EQ(FPlugin.RmDir("/Demo/Group/Inner").Code, 0);
  EXPECT_TRUE(fs::exists(LocalOf(record)));
  FReplies["Remove Safe Box"] = "yes";
  EXPECT_NE(FPlugin.RmDir("/Demo/Group/Inner").Code, 0) << AskedSoFar();
  EXPECT_FALSE(fs::exists(LocalOf(record)));
  EXPECT_EQ(Names("/Demo/Group"), NameList{kAccessories});
}

TEST_F(ExtFileFlow, ATamperedStoredFileIsRefusedAndLeavesNoPlaintext) {
  Open();
  ASSERT_EQ(PutNew("video.bin", Pattern(2 * kLimit, 't')), wfx::FS_FILE_OK);
  const fs::path stored = LocalOf(Stored("video.bin"));
  std::string bytes = ReadFile(stored.string());
  bytes[100] = static_cast<char>(bytes[100] ^ 0x01);
  WriteFile(stored.string(), bytes);
  fs::remove(Local("video.bin"));
  FPlugin.List("/Demo/Media");
  const std::vector<std::string> before = FilesIn(FDir / "local");
  EXPECT_EQ(FPlugin.Get("/Demo/Media/video.bin", Local("back.bin"), 0).Code, wfx::FS_FILE_READERROR);
  EXPECT_TRUE(NoticeShown("External File Error", "#5014: Tag verify failed")) << AskedSoFar();
  EXPECT_EQ(FilesIn(FDir / "local"), before);
}

TEST_F(ExtFileFlow, AStoredFileThatIsNotThereIsToldAsSuchEvenAfterACipherFailure) {
  Open();
  ASSERT_EQ(PutNew("tampered.bin", Pattern(2 * kLimit, 'p')), wfx::FS_FILE_OK);
  ASSERT_EQ(PutNew("gone.bin", Pattern(2 * kLimit, 'q')), wfx::FS_FILE_OK);
  const fs::path tampered = LocalOf(Stored("tampered.bin"));
  std::string bytes = ReadFile(tampered.string());
  bytes[50] = static_cast<char>(bytes[50] ^ 0x10);
  WriteFile(tampered.string(), bytes);
  fs::remove(LocalOf(Stored("gone.bin")));
  FPlugin.List("/Demo/Media");
  EXPECT_EQ(FPlugin.Get("/Demo/Media/tampered.bin", Local("t.bin"), 0).Code, wfx::FS_FILE_READERROR);
  ASSERT_TRUE(NoticeShown("External File Error", "#5014")) << AskedSoFar();
  FPlugin.GetAnswers().ClearAsked();
  EXPECT_EQ(FPlugin.Get("/Demo/Media/gone.bin", Local("g.bin"), 0).Code, wfx::FS_FILE_READERROR);
  EXPECT_TRUE(NoticeShown("External File Error", "not exists.")) << AskedSoFar();
  EXPECT_FALSE(NoticeShown("External File Error", "#5014")) << AskedSoFar();
}

// Enter on an external file: the host opens a private plain copy, and a
// changed copy goes back sealed into a new stored file, which the record
// points at before the old one goes.
TEST_F(ExtFileFlow, AnOpenedExternalFileGoesBackSealedOnceEdited) {
  Open();
  const std::string bytes = Pattern(2 * kLimit, 'e');
  ASSERT_EQ(PutNew("video.bin", bytes), wfx::FS_FILE_OK);
  const json before = Stored("video.bin");
  FPlugin.List("/Demo/Media");
  // Declined, the record stays as it was and the edit stays in its file.
  for (const std::string answer : {"no", "yes"}) {
    SCOPED_TRACE(answer);
    FReplies["File exists"] = answer;
    const std::string edit = Pattern(kLimit / 2, answer[0]);
    std::string opened;
    fs::perms perms{};
    const auto trip = FPlugin.OpenAndEdit("/Demo/Media/video.bin", [&](const std::string& local) {
      opened = ReadFile(local);
      perms = fs::status(local).permissions();
      WriteFile(local, edit);
    });
    EXPECT_EQ(trip.Exec.Code, wfx::FS_EXEC_YOURSELF);
    ASSERT_TRUE(trip.Get && trip.Get->Code == wfx::FS_FILE_OK) << AskedSoFar();
    ASSERT_TRUE(trip.Put);
    EXPECT_EQ(trip.Put->Code, wfx::FS_FILE_OK) << AskedSoFar();
    EXPECT_EQ(opened, bytes);
    EXPECT_EQ(perms, fs::perms::owner_read | fs::perms::owner_write);
    const json after = Stored("video.bin");
    if (answer == "no") {
      EXPECT_EQ(after, before);
      EXPECT_EQ(ReadFile(trip.Local), edit);
    } else {
      EXPECT_EQ(after.value("id", 0), before.value("id", 0));
      EXPECT_NE(after["attributes"]["efFilePath"], before["attributes"]["efFilePath"]);
      EXPECT_EQ(after["attributes"]["fileSize"], edit.size());
      EXPECT_EQ(OpenStored(ReadFile(LocalOf(after).string()), after["attributes"]), edit);
      EXPECT_FALSE(fs::exists(LocalOf(before)));
      EXPECT_EQ(ReadFile(trip.Local), std::string(edit.size(), '\x55'));
    }
    // Every stored file has its record.
    EXPECT_EQ(FilesIn(Storage()).size(), 1u);
    fs::remove_all(trip.Folder);
  }
}

TEST_F(ExtFileFlow, AnEditedExternalFileIsStoredUnderTheNextVersionedName) {
  Open("File Versioning Mode=Filename_ver_(Number)\r\n");
  const std::string bytes = Pattern(2 * kLimit, 'v');
  ASSERT_EQ(PutNew("video.bin", bytes), wfx::FS_FILE_OK);
  const json original = Stored("video.bin");
  FPlugin.List("/Demo/Media");
  const auto trip = FPlugin.OpenAndEdit("/Demo/Media/video.bin",
                                        [&](const std::string& local) { WriteFile(local, "edited"); });
  ASSERT_TRUE(trip.Put) << AskedSoFar();
  EXPECT_EQ(trip.Put->Code, wfx::FS_FILE_OK) << AskedSoFar();
  fs::remove_all(trip.Folder);
  EXPECT_EQ(Stored("video.bin"), original);
  json version;
  const json state = Control("GET", "/__control/state");
  for (const auto& record : state["records"])
    if (record.value("name", "") != "video.bin" && record.value("boxId", 0) == 2) version = record;
  ASSERT_FALSE(version.is_null());
  EXPECT_EQ(version.value("template", ""), "external-file");
  EXPECT_NE(version.value("name", "").find("_ver_1"), std::string::npos) << version.dump();
  EXPECT_EQ(OpenStored(ReadFile(LocalOf(version).string()), version["attributes"]), "edited");
  EXPECT_EQ(OpenStored(ReadFile(LocalOf(original).string()), original["attributes"]), bytes);
  EXPECT_EQ(FilesIn(Storage()).size(), 2u);
}

TEST_F(ExtFileFlow, AnAbortedStoreLeavesNothingHalfWritten) {
  Open();
  FPlugin.SetAbortAt(30);
  EXPECT_EQ(PutNew("video.bin", Pattern(3 << 20, 'z')), wfx::FS_FILE_USERABORT) << AskedSoFar();
  FPlugin.SetAbortAt(std::nullopt);
  EXPECT_TRUE(Stored("video.bin").is_null());
  EXPECT_EQ(FilesIn(Storage()), std::vector<std::string>{});
}

TEST_F(ExtFileFlow, TheMappingEntryShowsTheRulesAndSaysEnabled) {
  Open();
  const std::string entry = "__ Mapping paths to external files is ENABLED __";
  const NameList names = Names("/Demo/" + kAccessories);
  EXPECT_NE(std::find(names.begin(), names.end(), entry), names.end()) << ::testing::PrintToString(names);
  std::string newPath;
  EXPECT_EQ(FPlugin.Exec("open", "/Demo/" + kAccessories + "/" + entry, &newPath).Code, wfx::FS_EXEC_SYMLINK);
  EXPECT_TRUE(NoticeShown("Mapping paths", "\\\\storage\\vault   ->   " + Storage().string())) << AskedSoFar();
  // Without rules the entry says so at the next look.
  fs::remove(FDir / "user" / "Koffra.subst.cfg");
  EXPECT_EQ(FPlugin.Exec("open", "/Demo/" + kAccessories + "/" + entry, &newPath).Code, wfx::FS_EXEC_OK);
  EXPECT_TRUE(NoticeShown("Mapping paths", "Mapping paths to external files is not set"));
  const NameList after = Names("/Demo/" + kAccessories);
  EXPECT_NE(std::find(after.begin(), after.end(), "__ Mapping paths to external files is DISABLED __"), after.end());
}

}  // namespace
}  // namespace kof::test
