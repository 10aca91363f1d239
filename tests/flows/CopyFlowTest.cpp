// Copying records out of a vault and files into it through the exports, as a
// file manager does, against a kof-test-server child process.
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>

#include "crypto/KofNaCL.h"
#include "tests/flows/VaultFixture.h"

namespace kof::test {
namespace {

namespace fs = std::filesystem;

const std::string kServersPath = "/Demo/Company/Servers";

class CopyFlow : public VaultFlow {
 protected:
  // Enter on the entry with the host's round trip, "the editor" writing
  // CONTENT into the host's copy; the host's result of the upload.
  int Edit(const std::string& entry, const std::string& content) {
    const auto trip = FPlugin.OpenAndEdit(Remote(entry), [&](const std::string& local) { WriteFile(local, content); });
    EXPECT_EQ(trip.Exec.Code, wfx::FS_EXEC_YOURSELF);
    EXPECT_TRUE(trip.Get && trip.Get->Code == wfx::FS_FILE_OK) << AskedSoFar();
    FLastEdited = trip.Local;
    return trip.Put ? trip.Put->Code : -1;
  }
  // The host's copy of the last edit.
  std::string FLastEdited;

  void Open(const json& seed, const std::string& sessionLines = "") {
    StartVaultWith(seed, sessionLines);
    ASSERT_TRUE(Enter()) << AskedSoFar();
    FPlugin.List(kServersPath);
  }
  void Open() { Open(Seed(false)); }

  std::string Remote(const std::string& name) const { return kServersPath + "/" + name; }
  std::string Temp(const std::string& name) const { return (FDir / "tmp" / name).string(); }

  json StoredRecord(int id) {
    const json state = Control("GET", "/__control/state");
    for (const auto& record : state["records"])
      if (record.value("id", 0) == id) return record;
    return {};
  }

  // Files in the folder besides the expected ones: a transfer leaves nothing half-written behind.
  std::vector<std::string> FilesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // The record stored under NAME that is not in the bin.
  json StoredByName(const std::string& name) {
    const json state = Control("GET", "/__control/state");
    for (const auto& record : state["records"])
      if (record.value("name", "") == name && !record.value("deleted", false)) return record;
    return {};
  }

  int CountByName(const std::string& name) {
    const json state = Control("GET", "/__control/state");
    int n = 0;
    for (const auto& record : state["records"])
      n += record.value("name", "") == name && !record.value("deleted", false) ? 1 : 0;
    return n;
  }

  // The texts of the reports the operations ended with.
  std::vector<std::string> Reports() {
    std::vector<std::string> texts;
    for (const auto& r : FPlugin.GetAnswers().Asked())
      if (r.Title == "Copy/Move Result") texts.push_back(r.Text);
    return texts;
  }

  void FailNext(const std::string& path, const std::string& method = "") {
    json fault = {{"path", path}, {"kind", "fail"}, {"status", 500}, {"times", 1}};
    if (!method.empty()) fault["method"] = method;
    Control("POST", "/__control/faults", fault);
  }

  // Answers to the questions with these titles; the rest as the vault fixture answers them.

  bool Asked(const std::string& text) {
    for (const auto& r : FPlugin.GetAnswers().Asked())
      if (r.Text.find(text) != std::string::npos) return true;
    return false;
  }
};

// A vault whose "Servers" box also holds a file of SIZE bytes (id 120).
json SeedWithLargeFile(std::size_t size) {
  json seed = Seed(false);
  seed["server"]["fileSizeLimit"] = -1;
  std::string content(size, '\0');
  for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>('a' + i % 23);
  seed["boxes"][0]["boxes"][0]["records"].push_back({{"id", 120},
                                                      {"template", "file"},
                                                      {"name", "image.bin"},
                                                      {"fileName", "image.bin"},
                                                      {"contentText", content},
                                                      {"attributes", {{"file", "image.bin"}}}});
  return seed;
}

TEST_F(CopyFlow, FileAndCertificateRecordsCopyOutAsTheirExactFiles) {
  Open();
  struct Case {
    std::string Entry;
    std::string Bytes;
  };
  for (const Case& c : {Case{"Release notes.txt", "Koffra 5.0\n"}, Case{"VPN certificate.pfx", "certificate bytes"}}) {
    SCOPED_TRACE(c.Entry);
    const auto r = FPlugin.Get(Remote(c.Entry), Local(c.Entry), 0);
    EXPECT_EQ(r.Code, wfx::FS_FILE_OK) << AskedSoFar();
    EXPECT_EQ(ReadFile(Local(c.Entry)), c.Bytes);
  }
  EXPECT_EQ(FilesIn(FDir / "local"), (NameList{"Demo.KOF", "Release notes.txt", "VPN certificate.pfx"}));
  // The host's progress saw the start and the end.
  ASSERT_FALSE(FPlugin.ProgressLog().empty());
  EXPECT_NE(FPlugin.ProgressLog().back().find(" 100%"), std::string::npos);
}

TEST_F(CopyFlow, AnExistingTargetIsReplacedOnlyWithTheOverwriteFlag) {
  Open();
  const std::string local = Local("notes.txt");
  WriteFile(local, "mine");
  EXPECT_EQ(FPlugin.Get(Remote("Release notes.txt"), local, 0).Code, wfx::FS_FILE_EXISTS);
  EXPECT_EQ(ReadFile(local), "mine");
  EXPECT_EQ(FPlugin.Get(Remote("Release notes.txt"), local, wfx::FS_COPYFLAGS_OVERWRITE).Code, wfx::FS_FILE_OK);
  EXPECT_EQ(ReadFile(local), "Koffra 5.0\n");
}

TEST_F(CopyFlow, PasswordRecordsAreViewedAsJSONTextButNeverCopiedToAFolder) {
  Open();
  struct Case {
    std::string Entry;
    std::string Clipboard;  // a single account copied leaves its password there
  };
  for (const Case& c : {Case{"db01 root.account", "Tr0ub4dor&3"}, Case{"Visa.creditcard", ""},
                        Case{"Domain admin.secretaccount", "staple"}}) {
    SCOPED_TRACE(c.Entry);
    fs::remove(Clipboard());
    const auto r = FPlugin.Get(Remote(c.Entry), Local(c.Entry), 0);
    EXPECT_EQ(r.Code, wfx::FS_FILE_READERROR);
    EXPECT_EQ(r.LastError, wfx::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(fs::exists(Local(c.Entry)));
    EXPECT_EQ(fs::exists(Clipboard()) ? ReadFile(Clipboard()) : "", c.Clipboard);
  }
  // Among several files an account is only refused.
  fs::remove(Clipboard());
  FPlugin.GetMany(kServersPath, {"db01 root.account", "Release notes.txt"}, Local(""), 0);
  EXPECT_FALSE(fs::exists(Clipboard()));
  EXPECT_FALSE(fs::exists(Local("db01 root.account")));
  // The host's viewer copies into a folder of its own below the temporary folder.
  fs::create_directories(FDir / "tmp" / "_dc~~~" / "1");
  const std::string view = Temp("_dc~~~/1/db01 root.account");
  ASSERT_EQ(FPlugin.Get(Remote("db01 root.account"), view, 0).Code, wfx::FS_FILE_OK) << AskedSoFar();
  const json text = json::parse(ReadFile(view));
  EXPECT_EQ(text.value("name", ""), "db01 root");
  EXPECT_EQ(text.value("password", ""), "Tr0ub4dor&3");
  EXPECT_EQ(fs::status(view).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  // A file record viewed gives the file itself.
  const std::string fileView = Temp("_dc~~~/1/Release notes.txt");
  ASSERT_EQ(FPlugin.Get(Remote("Release notes.txt"), fileView, 0).Code, wfx::FS_FILE_OK);
  EXPECT_EQ(ReadFile(fileView), "Koffra 5.0\n");
}

TEST_F(CopyFlow, MovingAFileRecordOutDeletesTheRecordAfterTheCopy) {
  Open();
  ASSERT_EQ(FPlugin.Get(Remote("Release notes.txt"), Local("notes.txt"), wfx::FS_COPYFLAGS_MOVE).Code,
            wfx::FS_FILE_OK);
  EXPECT_EQ(ReadFile(Local("notes.txt")), "Koffra 5.0\n");
  EXPECT_TRUE(StoredRecord(104).value("deleted", false));
}

TEST_F(CopyFlow, AServerFailureLeavesNoFileAndAsksWhetherToGoOn) {
  Open();
  Control("POST", "/__control/faults",
          {{"path", "/safe/records/104/download/file"}, {"kind", "fail"}, {"status", 500}, {"times", 1}});
  const std::string local = Local("notes.txt");
  WriteFile(local, "mine");
  const auto r = FPlugin.Get(Remote("Release notes.txt"), local, wfx::FS_COPYFLAGS_OVERWRITE);
  EXPECT_EQ(r.Code, wfx::FS_FILE_READERROR);
  EXPECT_EQ(r.LastError, wfx::ERROR_READ_FAULT);
  EXPECT_TRUE(Asked(". Continue?")) << AskedSoFar();
  EXPECT_EQ(ReadFile(local), "mine");
  EXPECT_EQ(FilesIn(FDir / "local"), (NameList{"Demo.KOF", "notes.txt"}));
}

TEST_F(CopyFlow, ACancelHalfWayLeavesNoFileAndTheOldTargetUnchanged) {
  constexpr std::size_t kSize = 8u << 20;
  Open(SeedWithLargeFile(kSize));
  const std::string local = Local("image.bin");
  WriteFile(local, "old");
  FPlugin.SetAbortAt(30);
  const auto r = FPlugin.Get(Remote("image.bin"), local, wfx::FS_COPYFLAGS_OVERWRITE);
  FPlugin.SetAbortAt(std::nullopt);
  EXPECT_EQ(r.Code, wfx::FS_FILE_USERABORT);
  EXPECT_EQ(ReadFile(local), "old");
  EXPECT_EQ(FilesIn(FDir / "local"), (NameList{"Demo.KOF", "image.bin"}));
  EXPECT_TRUE(Asked("Do you really want to cancel it?"));
  // Reports came in between: at least one for every MiB.
  int between = 0;
  for (const std::string& line : FPlugin.ProgressLog())
    between += line.find(" 0%") == std::string::npos && line.find(" 100%") == std::string::npos ? 1 : 0;
  EXPECT_GE(between, 2);

  ASSERT_EQ(FPlugin.Get(Remote("image.bin"), local, wfx::FS_COPYFLAGS_OVERWRITE).Code, wfx::FS_FILE_OK);
  EXPECT_EQ(fs::file_size(local), kSize);
}

// --- copying in

TEST_F(CopyFlow, LocalFilesBecomeCertificateOrFileRecordsByTheirExtension) {
  Open();
  struct Case {
    std::string Name;
    std::string Template;
  };
  for (const Case& c : {Case{"cert.pem", "cert"}, Case{"cert.pem.txt", "file"}, Case{"id.P12", "cert"},
                        Case{"notes.txt", "file"}}) {
    SCOPED_TRACE(c.Name);
    WriteFile(Local(c.Name), "bytes of " + c.Name);
    ASSERT_EQ(FPlugin.Put(Local(c.Name), Remote(c.Name), 0).Code, wfx::FS_FILE_OK) << AskedSoFar();
    const json stored = StoredByName(c.Name);
    EXPECT_EQ(stored.value("template", ""), c.Template);
    EXPECT_EQ(stored.value("contentBase64", ""), Base64Encode("bytes of " + c.Name));
    EXPECT_TRUE(fs::exists(Local(c.Name)));
  }
  // The new records are listed, and copy out again as the same bytes.
  FPlugin.List(kServersPath);
  ASSERT_EQ(FPlugin.Get(Remote("cert.pem"), Local("again.pem"), 0).Code, wfx::FS_FILE_OK);
  EXPECT_EQ(ReadFile(Local("again.pem")), "bytes of cert.pem");
}

TEST_F(CopyFlow, AFileCopiedInFromATemporaryFolderStaysTheUsers) {
  Open();
  struct Case {
    int Flags;
    bool Kept;
  };
  for (const Case& c : {Case{0, true}, Case{wfx::FS_COPYFLAGS_MOVE, false}}) {
    SCOPED_TRACE(c.Flags);
    const std::string name = "draft" + std::to_string(c.Flags) + ".txt";
    WriteFile(Temp(name), "mine");
    ASSERT_EQ(FPlugin.Put(Temp(name), Remote(name), c.Flags).Code, wfx::FS_FILE_OK) << AskedSoFar();
    EXPECT_EQ(StoredByName(name).value("contentBase64", ""), Base64Encode("mine"));
    // Not wiped: only the copy an open left there is the plugin's.
    EXPECT_EQ(fs::exists(Temp(name)) ? ReadFile(Temp(name)) : "", c.Kept ? "mine" : "");
  }
}

TEST_F(CopyFlow, ANameThatExistsIsReplacedOnlyWithTheOverwriteFlag) {
  Open();
  WriteFile(Local("Release notes.txt"), "Koffra 5.1\n");
  // Listed: the host's name stands for the record it lists, whatever its stored name.
  EXPECT_EQ(FPlugin.Put(Local("Release notes.txt"), Remote("Release notes.txt"), 0).Code, wfx::FS_FILE_EXISTS);
  EXPECT_EQ(FPlugin.Put(Local("Release notes.txt"), Remote("Release notes.txt"), wfx::FS_COPYFLAGS_OVERWRITE).Code,
            wfx::FS_FILE_OK) << AskedSoFar();
  EXPECT_EQ(StoredRecord(104).value("contentBase64", ""), Base64Encode("Koffra 5.1\n"));
  // Not yet listed: the server's duplicate answer names the record to replace.
  WriteFile(Local("new.txt"), "one");
  ASSERT_EQ(FPlugin.Put(Local("new.txt"), Remote("new.txt"), 0).Code, wfx::FS_FILE_OK);
  WriteFile(Local("new.txt"), "two");
  EXPECT_EQ(FPlugin.Put(Local("new.txt"), Remote("new.txt"), 0).Code, wfx::FS_FILE_EXISTS) << AskedSoFar();
  EXPECT_EQ(StoredByName("new.txt").value("contentBase64", ""), Base64Encode("one"));
  FPlugin.List(kServersPath);
  ASSERT_EQ(FPlugin.Put(Local("new.txt"), Remote("new.txt"), wfx::FS_COPYFLAGS_OVERWRITE).Code, wfx::FS_FILE_OK);
  EXPECT_EQ(StoredByName("new.txt").value("contentBase64", ""), Base64Encode("two"));
  EXPECT_EQ(CountByName("new.txt"), 1);
}

// A file manager's "overwrite older": after FS_FILE_EXISTS it compares the
// time the plugin lists for the record with the local file's, and puts the
// file again with the overwrite flag only when the local one is newer.
TEST_F(CopyFlow, OnlyANewerLocalFileReplacesTheRecordWhenTheHostOverwritesOlderOnes) {
  constexpr std::int64_t kStored = 1700000000;  // the record's time, seconds since 1970 UTC
  json seed = Seed(false);
  seed["boxes"][0]["boxes"][0]["records"][3]["modified"] = kStored * 1000;
  Open(seed);
  const auto listedTime = [&] {
    for (const Entry& e : FPlugin.List(kServersPath))
      if (e.Name == "Release notes.txt") {
        const std::uint64_t ticks = (std::uint64_t{e.WriteTime.dwHighDateTime} << 32) | e.WriteTime.dwLowDateTime;
        return static_cast<std::int64_t>((ticks - 116444736000000000ULL) / 10000000ULL);
      }
    return std::int64_t{-1};
  };
  const auto putOnlyNewer = [&](const std::string& local) {
    const int first = FPlugin.Put(local, Remote("Release notes.txt"), 0).Code;
    if (first != wfx::FS_FILE_EXISTS) return first;
    const auto localTime = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::file_clock::to_sys(fs::last_write_time(local)).time_since_epoch());
    if (localTime.count() <= listedTime()) return -1;  // skipped by the host
    return FPlugin.Put(local, Remote("Release notes.txt"), wfx::FS_COPYFLAGS_OVERWRITE).Code;
  };
  // The listed time is the record's own, as the host compares it with local files.
  EXPECT_EQ(listedTime(), kStored);

  struct Case {
    const char* Name;
    std::int64_t LocalTime;
    int Result;
    std::string Stored;
  };
  const Case cases[] = {
      {"older", kStored - 3600, -1, "Koffra 5.0\n"},
      {"same", kStored, -1, "Koffra 5.0\n"},
      {"newer", kStored + 3600, wfx::FS_FILE_OK, "newer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string local = Local(std::string(c.Name) + ".txt");
    WriteFile(local, c.Name);
    fs::last_write_time(local, std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(c.LocalTime))));
    EXPECT_EQ(putOnlyNewer(local), c.Result) << AskedSoFar();
    // Written over in place: the record keeps its id, and no second one appears.
    EXPECT_EQ(StoredRecord(104).value("contentBase64", ""), Base64Encode(c.Stored));
    EXPECT_EQ(CountByName("Release notes"), 1);
  }
}

TEST_F(CopyFlow, AMoveDeletesTheLocalFileOnlyOnceTheRecordIsStored) {
  Open();
  WriteFile(Local("a.txt"), "alpha");
  Control("POST", "/__control/faults", {{"path", "/safe/records/*"}, {"method", "POST"}, {"kind", "fail"},
                                        {"status", 500}, {"times", 1}});
  const auto failed = FPlugin.Put(Local("a.txt"), Remote("a.txt"), wfx::FS_COPYFLAGS_MOVE);
  EXPECT_EQ(failed.Code, wfx::FS_FILE_WRITEERROR);
  EXPECT_EQ(failed.LastError, wfx::ERROR_WRITE_FAULT);
  EXPECT_EQ(ReadFile(Local("a.txt")), "alpha");
  // The record the server had created for the file is gone again.
  EXPECT_EQ(CountByName("a.txt"), 0);

  ASSERT_EQ(FPlugin.Put(Local("a.txt"), Remote("a.txt"), wfx::FS_COPYFLAGS_MOVE).Code, wfx::FS_FILE_OK);
  EXPECT_FALSE(fs::exists(Local("a.txt")));
  EXPECT_EQ(StoredByName("a.txt").value("contentBase64", ""), Base64Encode("alpha"));
}

TEST_F(CopyFlow, AFileThatCannotBeReadCreatesOrChangesNoRecord) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
  Open();
  const json before = StoredRecord(104);
  WriteFile(Local("locked.txt"), "secret");
  fs::permissions(Local("locked.txt"), fs::perms::none);
  for (const std::string target : {"locked.txt", "Release notes.txt"}) {
    SCOPED_TRACE(target);
    const auto r = FPlugin.Put(Local("locked.txt"), Remote(target), wfx::FS_COPYFLAGS_OVERWRITE);
    EXPECT_EQ(r.Code, wfx::FS_FILE_READERROR);
    EXPECT_TRUE(NoticeShown("Error", "Cannot open file")) << AskedSoFar();
  }
  EXPECT_EQ(CountByName("locked.txt"), 0);
  EXPECT_EQ(StoredRecord(104), before);
}

TEST_F(CopyFlow, AFileTooLargeForTheServerIsReportedAndLeavesNoRecord) {
  Open();
  WriteFile(Local("big.bin"), std::string(1536 * 1024, 'x'));
  // A server before version 5 keeps every file in its record and refuses it.
  Control("POST", "/__control/settings", {{"version", "4.8.0"}});
  RestartHost();
  ASSERT_TRUE(Enter());
  FPlugin.List(kServersPath);
  const auto r = FPlugin.Put(Local("big.bin"), Remote("big.bin"), 0);
  EXPECT_EQ(r.Code, wfx::FS_FILE_WRITEERROR);
  EXPECT_TRUE(Asked("File is too big. Continue?")) << AskedSoFar();
  EXPECT_EQ(CountByName("big.bin"), 0);
  EXPECT_TRUE(fs::exists(Local("big.bin")));
}

// Without a mapping to the storage share the file cannot go there: told, and nothing is stored.
TEST_F(CopyFlow, AFileForTheExternalStorageIsRefusedClearly) {
  Open();
  WriteFile(Local("big.bin"), std::string(1536 * 1024, 'x'));
  const auto r = FPlugin.Put(Local("big.bin"), Remote("big.bin"), 0);
  EXPECT_EQ(r.Code, wfx::FS_FILE_WRITEERROR);
  EXPECT_TRUE(NoticeShown("External File Error", "not exists")) << AskedSoFar();
  EXPECT_EQ(CountByName("big.bin"), 0);
}

TEST_F(CopyFlow, CopiesIntoTheSessionRootOrAGroupAreRefusedInTheUsersLanguage) {
  struct Case {
    std::string Language;
    std::string Remote;
    std::string Text;
  };
  const Case cases[] = {
      {"en", "/Demo/a.txt", "Cannot copy files to Root"},
      {"en", "/Demo/Company/a.txt", "Cannot copy files to Safe Box Group"},
      {"cs", "/Demo/a.txt",
       "Nelze kop\u00EDrovat soubory nebo z\u00E1znamy do Z\u00E1kladn\u00ED \u00FArovn\u011B "
       "bezpe\u010Dnostn\u00EDch schr\u00E1nek"},
      {"cs", "/Demo/Company/a.txt",
       "Nelze kop\u00EDrovat soubory nebo z\u00E1znamy do Skupiny bezpe\u010Dnostn\u00EDch schr\u00E1nek"},
  };
  std::string language;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Language + " " + c.Remote);
    if (c.Language != language) {
      language = c.Language;
      json seed = Seed(false);
      seed["users"][0]["lang"] = language;
      RestartHost();
      Open(seed);
      WriteFile(Local("a.txt"), "alpha");
    }
    FPlugin.List(wfxhost::Plugin::ParentOf(c.Remote));
    EXPECT_EQ(FPlugin.Put(Local("a.txt"), c.Remote, 0).Code, wfx::FS_FILE_WRITEERROR);
    EXPECT_TRUE(NoticeShown("Error", c.Text)) << AskedSoFar();
    EXPECT_EQ(CountByName("a.txt"), 0);
  }
}

TEST_F(CopyFlow, ACancelledUploadLeavesNoRecord) {
  json seed = Seed(false);
  seed["server"]["fileSizeLimit"] = -1;
  Open(seed);
  WriteFile(Local("image.bin"), std::string(8u << 20, 'y'));
  FPlugin.SetAbortAt(30);
  const auto r = FPlugin.Put(Local("image.bin"), Remote("image.bin"), wfx::FS_COPYFLAGS_MOVE);
  FPlugin.SetAbortAt(std::nullopt);
  EXPECT_EQ(r.Code, wfx::FS_FILE_USERABORT);
  EXPECT_EQ(CountByName("image.bin"), 0);
  EXPECT_EQ(fs::file_size(Local("image.bin")), 8u << 20);
}

TEST_F(CopyFlow, EnterOnAFileRecordLetsTheHostOpenItAndStoreTheChangedFile) {
  Open();
  // Without versioning the edit goes back into its record once the user agrees.
  FReplies["File exists"] = "yes";
  std::string opened;
  const auto trip = FPlugin.OpenAndEdit(Remote("Release notes.txt"), [&](const std::string& local) {
    opened = ReadFile(local);
    WriteFile(local, "Koffra 5.2\n");
  });
  EXPECT_EQ(opened, "Koffra 5.0\n");
  ASSERT_TRUE(trip.Put) << AskedSoFar();
  EXPECT_EQ(trip.Put->Code, wfx::FS_FILE_OK);
  EXPECT_EQ(StoredRecord(104).value("contentBase64", ""), Base64Encode("Koffra 5.2\n"));
  // No plaintext stays in the temporary copy.
  EXPECT_EQ(ReadFile(trip.Local), std::string(11, '\x55'));
  // An open whose file did not change stores nothing.
  const json before = StoredRecord(104);
  EXPECT_FALSE(FPlugin.OpenAndEdit(Remote("Release notes.txt"), [](const std::string&) {}).Put);
  EXPECT_EQ(StoredRecord(104), before);
}

TEST_F(CopyFlow, AnEditThatCannotBeStoredIsKeptUntilItIs) {
  Open();
  FReplies["File exists"] = "yes";
  ASSERT_EQ(FPlugin.Exec("open", Remote("Release notes.txt")).Code, wfx::FS_EXEC_YOURSELF);
  const std::string copy = Temp("Release notes.txt");
  ASSERT_EQ(FPlugin.Get(Remote("Release notes.txt"), copy, 0).Code, wfx::FS_FILE_OK) << AskedSoFar();
  WriteFile(copy, "Koffra 5.2\n");
  Control("POST", "/__control/faults", {{"path", "/safe/records/*"}, {"method", "POST"}, {"kind", "fail"},
                                        {"status", 500}, {"times", 1}});
  EXPECT_NE(FPlugin.Put(copy, Remote("Release notes.txt"), wfx::FS_COPYFLAGS_OVERWRITE).Code, wfx::FS_FILE_OK);
  EXPECT_EQ(ReadFile(copy), "Koffra 5.2\n");
  ASSERT_EQ(FPlugin.Put(copy, Remote("Release notes.txt"), wfx::FS_COPYFLAGS_OVERWRITE).Code, wfx::FS_FILE_OK);
  EXPECT_EQ(StoredRecord(104).value("contentBase64", ""), Base64Encode("Koffra 5.2\n"));
  EXPECT_EQ(ReadFile(copy), std::string(11, '\x55'));
}

TEST_F(CopyFlow, AnOpenServesOnlyTheCopiesOfTheRecordOpened) {
  Open();
  ASSERT_EQ(FPlugin.Exec("open", Remote("Release notes.txt")).Code, wfx::FS_EXEC_YOURSELF);
  // An ordinary copy while the opened file is still out keeps an existing target.
  WriteFile(Local("cert.pfx"), "mine");
  EXPECT_EQ(FPlugin.Get(Remote("VPN certificate.pfx"), Local("cert.pfx"), 0).Code, wfx::FS_FILE_EXISTS);
  EXPECT_EQ(ReadFile(Local("cert.pfx")), "mine");
  // The open's own download still replaces the copy it left earlier.
  const std::string copy = Temp("Release notes.txt");
  WriteFile(copy, "stale");
  ASSERT_EQ(FPlugin.Get(Remote("Release notes.txt"), copy, 0).Code, wfx::FS_FILE_OK) << AskedSoFar();
  EXPECT_EQ(ReadFile(copy), "Koffra 5.0\n");
}

// "yymmdd" of the local calendar, as versioned names carry it.
std::string TodayMark() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  char text[16];
  std::strftime(text, sizeof text, "%y%m%d", &parts);
  return text;
}

TEST_F(CopyFlow, AnEditIsStoredAsANewRecordUnderTheNextFreeVersionedName) {
  struct Case {
    std::string Mode;
    std::string First;
    std::string Second;
  };
  const std::string dated = "Release notes_ver_" + TodayMark() + "_demo";
  const Case cases[] = {{"Filename_ver_(Number)", "Release notes_ver_1", "Release notes_ver_2"},
                        {"Filename_ver_(Date)_(User)~(Index)", dated + "~1", dated + "~2"}};
  Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Mode);
    AddSession(VaultURL(), "File Versioning Mode=" + c.Mode + "\r\n");
    RestartHost();
    ASSERT_TRUE(Enter());
    FPlugin.List(kServersPath);
    ASSERT_EQ(Edit("Release notes.txt", "edit one"), wfx::FS_FILE_OK) << AskedSoFar();
    ASSERT_EQ(Edit("Release notes.txt", "edit two"), wfx::FS_FILE_OK) << AskedSoFar();
    EXPECT_EQ(StoredByName(c.First).value("contentBase64", ""), Base64Encode("edit one"));
    EXPECT_EQ(StoredByName(c.Second).value("contentBase64", ""), Base64Encode("edit two"));
    EXPECT_EQ(StoredRecord(104).value("contentBase64", ""), Base64Encode("Koffra 5.0\n"));
    EXPECT_FALSE(Asked("already exists"));
  }
}

TEST_F(CopyFlow, AnEditWhoseNameExistsIsStoredOverItOnlyWhenTheUserAgrees) {
  Open();
  FReplies["File exists"] = "no";
  EXPECT_EQ(Edit("Release notes.txt", "edit"), wfx::FS_FILE_OK);
  EXPECT_TRUE(Asked("File \"Release notes\" already exists. Overwrite it?")) << AskedSoFar();
  EXPECT_EQ(StoredRecord(104).value("contentBase64", ""), Base64Encode("Koffra 5.0\n"));
  EXPECT_EQ(CountByName("Release notes"), 1);
  // Nothing was stored, so the edit stays where the editor left it.
  EXPECT_EQ(ReadFile(FLastEdited), "edit");
}

TEST_F(CopyFlow, AMoveOntoAnOpenedRecordThatTheUserDeclinesKeepsTheLocalFile) {
  Open();
  FReplies["File exists"] = "no";
  ASSERT_EQ(Edit("Release notes.txt", "edit"), wfx::FS_FILE_OK);
  WriteFile(Local("mine.txt"), "mine");
  EXPECT_EQ(FPlugin.Put(Local("mine.txt"), Remote("Release notes.txt"),
                        wfx::FS_COPYFLAGS_MOVE | wfx::FS_COPYFLAGS_OVERWRITE)
                .Code,
            wfx::FS_FILE_OK);
  EXPECT_EQ(StoredRecord(104).value("contentBase64", ""), Base64Encode("Koffra 5.0\n"));
  // Nothing was stored, so the move must not take the user's file.
  EXPECT_EQ(ReadFile(Local("mine.txt")), "mine");
}

TEST_F(CopyFlow, TheVersioningModeIsAskedWhenTheSessionAllowsAChange) {
  struct Case {
    std::string Answer;
    std::string StoredAs;  // empty: stored over the record edited
  };
  const Case cases[] = {{"2", "Release notes_ver_1"},
                        {"7", "Release notes_ver_" + TodayMark() + "_demo~1"},
                        {"-2", ""},
                        {"x", ""}};
  Open();
  AddSession(VaultURL(), "Allow Change File Versioning=ON\r\n");
  RestartHost();
  ASSERT_TRUE(Enter());
  FPlugin.List(kServersPath);
  FReplies["File exists"] = "yes";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Answer);
    FReplies["Change version mode"] = c.Answer;
    ASSERT_EQ(Edit("Release notes.txt", "edit " + c.Answer), wfx::FS_FILE_OK) << AskedSoFar();
    const json stored = c.StoredAs.empty() ? StoredRecord(104) : StoredByName(c.StoredAs);
    EXPECT_EQ(stored.value("contentBase64", ""), Base64Encode("edit " + c.Answer));
  }
}

TEST_F(CopyFlow, AnEditedFileKeepsThePasswordOfTheRecordItCameFrom) {
  Open();
  AddSession(VaultURL(), "File Versioning Mode=Filename_ver_(Number)\r\nSave File Password=ON\r\n");
  RestartHost();
  ASSERT_TRUE(Enter());
  FPlugin.List(kServersPath);
  // A certificate's password goes to the clipboard on the open and into the new version.
  ASSERT_EQ(Edit("VPN certificate.pfx", "new certificate"), wfx::FS_FILE_OK) << AskedSoFar();
  EXPECT_EQ(ReadFile(Clipboard()), "pfx");
  EXPECT_EQ(StoredByName("VPN certificate_ver_1")["attributes"].value("filePassword", ""), "pfx");
  // A file without a secret note asks for one.
  FReplies["Release notes.txt"] = "n0te";
  ASSERT_EQ(Edit("Release notes.txt", "edit"), wfx::FS_FILE_OK) << AskedSoFar();
  EXPECT_EQ(StoredByName("Release notes_ver_1")["attributes"].value("sec-note", ""), "n0te")
      << StoredByName("Release notes_ver_1").dump() << AskedSoFar();
}

// --- the report at the end of a multi-file transfer

// The error the report quotes for an item, taken from its detail line.
std::string QuotedError(const std::string& report, const std::string& operation) {
  const auto at = report.find(operation);
  if (at == std::string::npos) return {};
  const auto from = at + operation.size();
  return report.substr(from, report.find("\r\n", from) - from);
}

TEST_F(CopyFlow, AMultiFileCopyOutReportsWhatFailedGroupedWhenTheSessionAsks) {
  Open(SeedWithLargeFile(1000));
  struct Case {
    bool Grouping;
  };
  for (const Case c : {Case{false}, Case{true}}) {
    SCOPED_TRACE(c.Grouping ? "grouped" : "one pair of lines per item");
    AddSession(VaultURL(), c.Grouping ? "Error Print Grouping=ON\r\n" : "");
    RestartHost();
    ASSERT_TRUE(Enter());
    FPlugin.List(kServersPath);
    FailNext("/safe/records/104/download/file");
    FailNext("/safe/records/105/download/file");
    FPlugin.GetMany(kServersPath, {"Release notes.txt", "image.bin", "VPN certificate.pfx"}, Local(""),
                    wfx::FS_COPYFLAGS_OVERWRITE);
    EXPECT_EQ(ReadFile(Local("image.bin")).size(), 1000u);
    const std::vector<std::string> reports = Reports();
    ASSERT_EQ(reports.size(), 1u) << AskedSoFar();
    const std::string error = QuotedError(reports[0], "[READ] ");
    ASSERT_FALSE(error.empty()) << reports[0];
    const std::string details =
        c.Grouping ? "[READ] " + error + "\r\n\tRelease notes.txt\r\n\tVPN certificate.pfx\r\n"
                   : "Release notes.txt\r\n\t[READ] " + error + "\r\n\r\nVPN certificate.pfx\r\n\t[READ] " + error +
                         "\r\n\r\n";
    EXPECT_EQ(reports[0], "Copied Files/Records:  1\r\nFile/Record Errors:  2\r\n\r\nDetails:\r\n" + details);

    // The next operation starts counting afresh, and one without failures ends silently.
    FPlugin.GetAnswers().ClearAsked();
    FPlugin.GetMany(kServersPath, {"Release notes.txt", "image.bin"}, Local(""), wfx::FS_COPYFLAGS_OVERWRITE);
    EXPECT_TRUE(Reports().empty()) << AskedSoFar();
  }
}

TEST_F(CopyFlow, AMultiFileCopyIntoATemporaryFolderEndsWithoutAReport) {
  Open();
  FailNext("/safe/records/104/download/file");
  fs::create_directories(FDir / "tmp" / "view");
  FPlugin.GetMany(kServersPath, {"VPN certificate.pfx", "Release notes.txt"}, Temp("view"), 0);
  EXPECT_TRUE(Reports().empty()) << AskedSoFar();
}

TEST_F(CopyFlow, AMultiFileCopyInReportsTheFilesThatWereNotStored) {
  Open();
  for (const std::string name : {"a.txt", "b.txt", "Release notes.txt"}) WriteFile(Local(name), "bytes of " + name);
  FailNext("/safe/records/*", "POST");
  // An existing name is the host's to settle, not a failure of the copy.
  const auto results = FPlugin.PutMany(Local(""), {"a.txt", "b.txt", "Release notes.txt"}, kServersPath, 0);
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0].Code, wfx::FS_FILE_WRITEERROR);
  EXPECT_EQ(results[1].Code, wfx::FS_FILE_OK);
  EXPECT_EQ(results[2].Code, wfx::FS_FILE_EXISTS);
  const std::vector<std::string> reports = Reports();
  ASSERT_EQ(reports.size(), 1u) << AskedSoFar();
  const std::string error = QuotedError(reports[0], "[WRITE] ");
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(reports[0],
            "Created Safe Boxes:  0\r\nSafe Box Errors:  0\r\n\r\nCopied Files/Records:  1\r\nFile/Record Errors:  1\r\n"
            "\r\nDetails:\r\na.txt\r\n\t[WRITE] " + error + "\r\n\r\n");
}

}  // namespace
}  // namespace kof::test
