// Copying records out of a vault and files into it through the exports, as a
// file manager does, against a kof-test-server child process.
#include <filesystem>
#include <string>

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

}  // namespace
}  // namespace kof::test
