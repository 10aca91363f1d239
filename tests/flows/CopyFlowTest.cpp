// Copying records out of a vault and files into it through the exports, as a
// file manager does, against a kof-test-server child process.
#include <unistd.h>

#include <filesystem>
#include <string>

#include "crypto/KofNaCL.h"
#include "tests/flows/VaultFixture.h"

namespace kof::test {
namespace {

namespace fs = std::filesystem;

const std::string kServersPath = "/Demo/Company/Servers";

class CopyFlow : public VaultFlow {
 protected:
  void Open(const json& seed) {
    StartVaultWith(seed);
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
  for (const std::string entry : {"db01 root.account", "Visa.creditcard", "Domain admin.secretaccount"}) {
    SCOPED_TRACE(entry);
    const auto r = FPlugin.Get(Remote(entry), Local(entry), 0);
    EXPECT_EQ(r.Code, wfx::FS_FILE_READERROR);
    EXPECT_EQ(r.LastError, wfx::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(fs::exists(Local(entry)));
  }
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

TEST_F(CopyFlow, AFileForTheExternalStorageIsRefusedClearly) {
  Open();
  WriteFile(Local("big.bin"), std::string(1536 * 1024, 'x'));
  const auto r = FPlugin.Put(Local("big.bin"), Remote("big.bin"), 0);
  EXPECT_EQ(r.Code, wfx::FS_FILE_WRITEERROR);
  EXPECT_TRUE(NoticeShown("External File Error", "not available")) << AskedSoFar();
  EXPECT_EQ(CountByName("big.bin"), 0);
}

TEST_F(CopyFlow, CopiesIntoTheSessionRootOrAGroupAreRefused) {
  Open();
  WriteFile(Local("a.txt"), "alpha");
  struct Case {
    std::string Remote;
    std::string Text;
  };
  for (const Case& c : {Case{"/Demo/a.txt", "Cannot copy files to Root"},
                        Case{"/Demo/Company/a.txt", "Cannot copy files to Safe Box Group"}}) {
    SCOPED_TRACE(c.Remote);
    FPlugin.List(wfxhost::Plugin::ParentOf(c.Remote));
    EXPECT_EQ(FPlugin.Put(Local("a.txt"), c.Remote, 0).Code, wfx::FS_FILE_WRITEERROR);
    EXPECT_TRUE(NoticeShown("Error", c.Text)) << AskedSoFar();
  }
  EXPECT_EQ(CountByName("a.txt"), 0);
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
  EXPECT_EQ(FPlugin.Exec("open", Remote("Release notes.txt")).Code, wfx::FS_EXEC_YOURSELF);
  const std::string copy = Temp("Release notes.txt");
  ASSERT_EQ(FPlugin.Get(Remote("Release notes.txt"), copy, 0).Code, wfx::FS_FILE_OK) << AskedSoFar();
  EXPECT_EQ(ReadFile(copy), "Koffra 5.0\n");
  WriteFile(copy, "Koffra 5.2\n");
  ASSERT_EQ(FPlugin.Put(copy, Remote("Release notes.txt"), wfx::FS_COPYFLAGS_OVERWRITE).Code, wfx::FS_FILE_OK);
  EXPECT_EQ(StoredRecord(104).value("contentBase64", ""), Base64Encode("Koffra 5.2\n"));
  // No plaintext stays in the temporary copy.
  EXPECT_EQ(ReadFile(copy), std::string(11, '\x55'));
}

TEST_F(CopyFlow, AnEditThatCannotBeStoredIsKeptUntilItIs) {
  Open();
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

}  // namespace
}  // namespace kof::test
