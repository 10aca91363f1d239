#include "sessions/PluginKofSessions5.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "sessions/PluginKofConfiguration5.h"
#include "tests/platform/KofTestConfigHome.h"

namespace kof {
namespace {

using test::ReadBytes;
using test::WriteBytes;

const std::string kFullSessionFile =
    "[Koffra Session]\r\n"
    "URL=https://vault.example/\r\n"
    "Domain=DOM\r\n"
    "Username=Ádám\r\n"
    "Access Code Timeout [sec]=300\r\n"
    "File Versioning Mode=Filename_ver_(Number)\r\n"
    "Allow Change File Versioning=ON\r\n"
    "Allow Records Modification=ON\r\n"
    "Save File Password=OFF\r\n"
    "Error Print Grouping=OFF\r\n"
    "Allow Copy Password Msg=ON\r\n"
    "Display Help Folder=ON\r\n"
    "Encrypting Files=OFF\r\n"
    "Store All Files=ON\r\n"
    "Buffer Size [MB]=32\r\n"
    "\r\n";

std::unique_ptr<TKofSession> SampleSession(std::string_view name = "Work") {
  return std::make_unique<TKofSession>(nullptr, name, "", TSessionAddress{"  https://vault.example/ ", "DOM ", "Ádám"},
                                       TSessionSettings{.VersionType = verNumber,
                                                        .AllowedVersionTypeChange = true,
                                                        .EncryptingFiles = false,
                                                        .StoreAllFiles = true,
                                                        .BufferSize = 32});
}

std::string SessionKey(const std::string& name) { return std::string(kSessionsKey) + "\\" + name; }

// --- names ---------------------------------------------------------------------

TEST(SessionNames, ThreeSpellingsOfAName) {
  struct Case {
    const char* Input;
    const char* Pure;
    const char* Panel;
    const char* File;
    const char* Display;
  };
  const Case cases[] = {
      {"abc.kof", "abc", "abc.<KOF>", "abc.kof", "abc.KOF"},
      {"abc.cfg", "abc", "abc.cfg", "abc.cfg", "abc.KOF"},
      {"abc.INI", "abc", "abc.INI", "abc.INI", "abc.KOF"},
      {"abc.txt", "abc.txt", "abc.txt", "abc.txt", "abc.txt.KOF"},
      {"abc.<KOF>", "abc.<KOF>", "abc.<KOF>", "abc.KOF", "abc.<KOF>.KOF"},
      {"abc._KOF_", "abc._KOF_", "abc._KOF_", "abc.KOF", "abc._KOF_.KOF"},
      {"dir.kof\\abc", "dir.kof\\abc", "dir.kof\\abc", "dir.kof\\abc", "dir.kof\\abc.KOF"},
      {"Účty.Kof", "Účty", "Účty.<KOF>", "Účty.Kof", "Účty.KOF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Input);
    EXPECT_EQ(TKofSession::ExtractPureFileName(c.Input), c.Pure);
    EXPECT_EQ(TKofSession::FileNameToPanelName(c.Input), c.Panel);
    EXPECT_EQ(TKofSession::PanelNameToFileName(c.Input), c.File);
    TKofSession s(nullptr, c.Input, "", "", "", "", 0, false, false, verNone, false, false, false, false, false,
                  false, 16);
    EXPECT_EQ(s.DisplayName(), c.Display);
  }
}

TEST(SessionNames, NamesTheStoreCannotHoldAreRefused) {
  struct Case {
    std::string Name;
    bool Accepted;
  };
  const Case cases[] = {
      {"Work", true},
      {"Účty klienta", true},
      {std::string(253, 'x'), true},
      {"a.b", true},
      {"...x", true},
      {"", false},
      {".", false},
      {"..", false},
      {"...", false},
      {std::string(254, 'x'), false},
      {"  ", false},
      {"a\\b", false},
      {"a/b", false},
      {"tab\there", false},
      {std::string(256, 'x'), false},
      {"bad\xC3", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string problem = TKofSession::CheckName(c.Name);
    EXPECT_EQ(problem.empty(), c.Accepted) << problem;
  }
}

TEST(SessionNames, EnrichedAppendix) {
  struct Case {
    int Timeout;
    bool Editable, Passwords;
    TVersionType Mode;
    const char* Expected;
  };
  const Case cases[] = {
      {300, true, false, verNumber, "_AC5-NOPWD-EDIT-NUMVER"},
      {59, false, true, verNone, "_AC0-PWD-RECRO-NOVER"},
      {3600, true, true, verUserDomainDailyIndex, "_AC60-PWD-EDIT-DAYDOMIDX"},
      {120, true, true, verUserDailyIndex, "_AC2-PWD-EDIT-DAYUSRIDX"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TKofSession::EnrichedAppendix("ignored", c.Timeout, c.Editable, c.Passwords, c.Mode), c.Expected);
}

// --- session files --------------------------------------------------------------

class SessionFileTest : public test::TConfigHomeTest {};

TEST_F(SessionFileTest, ExportWritesTheExactLayout) {
  std::unique_ptr<TKofSession> s = SampleSession();
  EXPECT_EQ(s->FileText(), kFullSessionFile);
  EXPECT_EQ(s->FileSize(), kFullSessionFile.size());
  const std::string path = Root() + "/Work.KOF";
  WriteBytes(path, std::string(4000, 'x'));  // a longer old file must not leave a tail
  ASSERT_TRUE(s->SaveTo(path));
  EXPECT_EQ(ReadBytes(path), kFullSessionFile);
  EXPECT_FALSE(s->SaveTo(Root() + "/no/such/folder/x.KOF"));
}

TEST_F(SessionFileTest, ImportReadsBackWhatWasExported) {
  const std::string path = Root() + "/Exported.kof";
  WriteBytes(path, kFullSessionFile);
  TSessionFileCheck check;
  std::unique_ptr<TKofSession> s = TKofSession::LoadFromFile(path, {}, &check);
  ASSERT_TRUE(s) << check.Message;
  EXPECT_EQ(s->Name(), "Exported");
  EXPECT_EQ(s->URL(), "https://vault.example/");
  EXPECT_EQ(s->Username(), "Ádám");
  EXPECT_EQ(s->VersionType(), verNumber);
  EXPECT_TRUE(s->StoreAllFiles());
  EXPECT_FALSE(s->EncryptingFiles());
  EXPECT_EQ(s->BufferSize(), 32);
  EXPECT_FALSE(s->Modified());
  EXPECT_EQ(s->FileText(), kFullSessionFile);
}

TEST_F(SessionFileTest, MissingAndOddKeysTakeTheirDefaults) {
  struct Case {
    const char* Name;
    std::string Lines;
    std::function<void(const TKofSession&)> Check;
  };
  const Case cases[] = {
      {"only a URL", "URL=u\n",
       [](const TKofSession& s) {
         EXPECT_EQ(s.Domain(), "SYSTEM");
         EXPECT_EQ(s.Username(), "Admin");
         EXPECT_EQ(s.AccessCodeTimeout(), 300);
         EXPECT_TRUE(s.EditableRecords());
         EXPECT_FALSE(s.EncryptingFiles());
         EXPECT_FALSE(s.ClipCopyMessage());
         EXPECT_FALSE(s.DisplayHelpFolders());
         EXPECT_EQ(s.VersionType(), verNone);
         EXPECT_EQ(s.BufferSize(), 16);
       }},
      {"mode name in lower case", "URL=u\nfile versioning mode=filename_ver_(number)\n",
       [](const TKofSession& s) { EXPECT_EQ(s.VersionType(), verNumber); }},
      {"unknown mode", "URL=u\nFile Versioning Mode=Weekly\n",
       [](const TKofSession& s) { EXPECT_EQ(s.VersionType(), verNone); }},
      {"switch spellings", "URL=u\nStore All Files=on\nSave File Password=yes\nAllow Records Modification=\n",
       [](const TKofSession& s) {
         EXPECT_TRUE(s.StoreAllFiles());
         EXPECT_FALSE(s.FilesWithPasswords());
         EXPECT_FALSE(s.EditableRecords());
       }},
      {"numbers that are not integers", "URL=u\nAccess Code Timeout [sec]=5min\nBuffer Size [MB]=1e3\n",
       [](const TKofSession& s) {
         EXPECT_EQ(s.AccessCodeTimeout(), 300);
         EXPECT_EQ(s.BufferSize(), 16);
       }},
      {"blanks around names and values", "  URL =  https://x  \nDomain= D\n",
       [](const TKofSession& s) {
         EXPECT_EQ(s.URL(), "https://x");
         EXPECT_EQ(s.Domain(), "D");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TKofIniFile ini("[koffra session]\n" + c.Lines);
    ASSERT_TRUE(TKofSession::Valid(ini));
    c.Check(*TKofSession::Load(nullptr, "S", ini));
  }
}

// A negative timeout once became 4294967291 in the store: numbers outside
// their range take the default.
TEST_F(SessionFileTest, NumbersOutOfRangeTakeTheirDefaults) {
  struct Case {
    const char* Timeout;
    const char* Buffer;
    int ExpectedTimeout;
    int ExpectedBuffer;
  };
  const Case cases[] = {
      {"-5", "0", 300, 16},
      {"99999999", "65", 300, 16},
      {"0", "64", 0, 64},
      {"604800", "1", 604800, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Timeout) + " / " + c.Buffer);
    const TKofIniFile ini(std::string("[Koffra Session]\nURL=u\nAccess Code Timeout [sec]=") + c.Timeout +
                          "\nBuffer Size [MB]=" + c.Buffer + "\n");
    const std::unique_ptr<TKofSession> s = TKofSession::Load(nullptr, "S", ini);
    EXPECT_EQ(s->AccessCodeTimeout(), c.ExpectedTimeout);
    EXPECT_EQ(s->BufferSize(), c.ExpectedBuffer);
  }
}

TEST_F(SessionFileTest, InvalidContentIsRefusedWithItsReason) {
  struct Case {
    const char* Name;
    std::string Bytes;
    TSessionFileResult Expected;
  };
  const Case cases[] = {
      {"valid, with byte-order mark", "\xEF\xBB\xBF[Koffra Session]\r\nURL=u\r\n", TSessionFileResult::Ok},
      {"URL with nothing after =", "[Koffra Session]\r\nURL=\r\nDomain=D\r\n", TSessionFileResult::NoURL},
      {"no URL key", "[Koffra Session]\r\nDomain=D\r\n", TSessionFileResult::NoURL},
      {"URL in another section", "[Other]\r\nURL=u\r\n", TSessionFileResult::NoURL},
      {"empty", "", TSessionFileResult::NoURL},
      {"binary", std::string("[Koffra Session]\r\nURL=u\r\n\0\x01", 26), TSessionFileResult::NotText},
      {"not UTF-8", "[Koffra Session]\r\nURL=caf\xE9\r\n", TSessionFileResult::NotText},
      {"too large", "[Koffra Session]\r\nURL=u\r\n" + std::string(kMaxSessionFileBytes, ' '),
       TSessionFileResult::TooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const TSessionFileCheck text = TKofSession::CheckSessionText(c.Bytes);
    EXPECT_EQ(text.Result, c.Expected) << text.Message;
    EXPECT_EQ(text.Message.empty(), c.Expected == TSessionFileResult::Ok);
    const std::string path = Root() + "/in.kof";
    WriteBytes(path, c.Bytes);
    EXPECT_EQ(TKofSession::CheckSessionFile(path).Result, c.Expected);
    EXPECT_EQ(TKofSession::LoadFromFile(path) != nullptr, c.Expected == TSessionFileResult::Ok);
  }
}

TEST_F(SessionFileTest, FilesThatCannotBeSessionFilesAreRefused) {
  WriteBytes(Root() + "/ok.txt", "[Koffra Session]\r\nURL=u\r\n");
  std::filesystem::create_directories(Root() + "/folder.kof");
  struct Case {
    std::string Path;
    bool CheckExtension;
    TSessionFileResult Expected;
  };
  const Case cases[] = {
      {Root() + "/ok.txt", false, TSessionFileResult::Ok},
      {Root() + "/ok.txt", true, TSessionFileResult::BadExtension},
      {Root() + "/missing.kof", false, TSessionFileResult::NotFound},
      {Root() + "/folder.kof", false, TSessionFileResult::Unreadable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Path);
    const TSessionFileCheck check = TKofSession::CheckSessionFile(c.Path, c.CheckExtension);
    EXPECT_EQ(check.Result, c.Expected) << check.Message;
  }
  EXPECT_FALSE(TKofSession::Valid(Root() + "/missing.kof"));
}

TEST_F(SessionFileTest, ALineBreakInAValueCannotAddKeys) {
  std::unique_ptr<TKofSession> s = SampleSession();
  s->SetDomain("D\r\nURL=evil");
  TKofIniFile ini(s->FileText());
  EXPECT_EQ(ini.ReadString(kSessionSection, "URL", ""), "https://vault.example/");
  EXPECT_EQ(ini.ReadString(kSessionSection, "Domain", ""), "D  URL=evil");
}

// --- the store --------------------------------------------------------------------

class SessionStoreTest : public test::TConfigHomeTest {
 protected:
  void SetUp() override {
    test::TConfigHomeTest::SetUp();
    FCfg = std::make_unique<TKofPluginConfiguration>();
    FCfg->Init();
  }
  void TearDown() override {
    FCfg.reset();
    test::TConfigHomeTest::TearDown();
  }
  TKofSessionManager& Manager() { return FCfg->SessionManager(); }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (int i = 0; i < Manager().Sessions().Count(); ++i) names.push_back(Manager().Sessions().Items(i).Name());
    return names;
  }
  std::vector<std::string> StoredNames(TRegRoot root = TRegRoot::CurrentUser) {
    TKofRegistry reg(root);
    return reg.OpenKeyReadOnly(kSessionsKey) ? reg.GetKeyNames() : std::vector<std::string>{};
  }
  void Add(const char* name) {
    std::unique_ptr<TKofSession> s = SampleSession(name);
    ASSERT_TRUE(Manager().Add(*s)) << Manager().ErrorMessage();
  }

  std::unique_ptr<TKofPluginConfiguration> FCfg;
};

TEST_F(SessionStoreTest, AddedSessionsAreListedInOrderAndFoundIgnoringCase) {
  Add("Zeta");
  Add("beta");
  Add("Alpha");
  EXPECT_EQ(Names(), (std::vector<std::string>{"Alpha", "beta", "Zeta"}));
  Add("účty");
  EXPECT_EQ(Manager().Sessions().Items(Manager().FindByName("ÚČTY")).Name(), "účty");
  EXPECT_EQ(Manager().FindByDisplayName("alpha.kof"), 0);
  EXPECT_EQ(Manager().FindByName("Gamma"), -1);
  EXPECT_TRUE(Manager().SessionExists("ZETA"));
  EXPECT_FALSE(Manager().SessionExists("a\\b"));

  TKofRegistry reg(TRegRoot::CurrentUser);
  ASSERT_TRUE(reg.OpenKeyReadOnly(SessionKey("Zeta")));
  EXPECT_EQ(reg.GetValueNames().size(), 14u);
  EXPECT_EQ(reg.ReadString("URL"), "  https://vault.example/ ");
  EXPECT_EQ(reg.ReadInteger("Versions"), static_cast<uint32_t>(verNumber));
}

TEST_F(SessionStoreTest, InvalidNamesAreRefusedAndNothingIsStored) {
  for (const char* name : {"", "a\\b", "x/y"}) {
    SCOPED_TRACE(name);
    std::unique_ptr<TKofSession> s = SampleSession();
    s->SetName(name);
    EXPECT_FALSE(Manager().Add(*s));
    EXPECT_EQ(Manager().ErrorCode(), 5);
    EXPECT_FALSE(Manager().ErrorMessage().empty());
    EXPECT_FALSE(Manager().Copy(*s));
    EXPECT_TRUE(StoredNames().empty());
  }
}

TEST_F(SessionStoreTest, ChangesReportWhyTheyFail) {
  Add("A");
  Add("B");
  std::unique_ptr<TKofSession> ghost = SampleSession("Ghost");
  EXPECT_FALSE(Manager().Update(*ghost));
  EXPECT_EQ(Manager().ErrorCode(), 2);

  std::unique_ptr<TKofSession> a = SampleSession("a");
  EXPECT_FALSE(Manager().Copy(*a));
  EXPECT_EQ(Manager().ErrorCode(), 1);
  EXPECT_EQ(Manager().ErrorMessage(), "Duplicate session name \"a\"");

  std::unique_ptr<TKofSession> noPrevious = SampleSession("C");
  EXPECT_FALSE(Manager().Rename(*noPrevious));
  EXPECT_EQ(Manager().ErrorCode(), 2);

  // Renaming onto an existing entry leaves both as they were.
  TKofSession& first = Manager().Sessions().Items(0);
  first.SetName("B");
  EXPECT_FALSE(Manager().Rename(first));
  EXPECT_EQ(Manager().ErrorCode(), 1);
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"A", "B"}));
}

TEST_F(SessionStoreTest, UpdateRenameCopyAndDelete) {
  Add("A");
  TKofSession& a = Manager().Sessions().Items(0);
  a.SetURL("https://changed/");
  ASSERT_TRUE(Manager().Update(a));
  EXPECT_EQ(Manager().Sessions().Items(0).URL(), "https://changed/");

  TKofSession& again = Manager().Sessions().Items(Manager().FindByName("A"));
  again.SetName("Renamed");
  EXPECT_EQ(again.PreviousName(), "A");
  ASSERT_TRUE(Manager().Rename(again)) << Manager().ErrorMessage();
  EXPECT_EQ(StoredNames(), std::vector<std::string>{"Renamed"});
  EXPECT_EQ(Manager().Sessions().Items(0).URL(), "https://changed/");

  std::unique_ptr<TKofSession> copy = TKofSession::Clone(Manager().Sessions().Items(0), "Copy.kof");
  ASSERT_TRUE(Manager().Copy(*copy));
  EXPECT_EQ(Names(), (std::vector<std::string>{"Copy", "Renamed"}));

  ASSERT_TRUE(Manager().Delete(Manager().Sessions().Items(0)));
  EXPECT_EQ(Names(), std::vector<std::string>{"Renamed"});
  std::unique_ptr<TKofSession> gone = SampleSession("Copy");
  EXPECT_FALSE(Manager().Delete(*gone));
  EXPECT_EQ(Manager().ErrorCode(), 2);
}

TEST_F(SessionStoreTest, RenMovCopySessionKeepsOrDropsTheSource) {
  Add("Src");
  ASSERT_TRUE(Manager().Sessions().RenMovCopySession(Manager().Sessions().Items(0), "Twin.KOF", true));
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"Src", "Twin"}));
  ASSERT_TRUE(Manager().Sessions().RenMovCopySession(Manager().Sessions().Items(0), "Moved", false));
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"Moved", "Twin"}));
  EXPECT_FALSE(Manager().Sessions().RenMovCopySession(Manager().Sessions().Items(0), "bad\\name", false));
  EXPECT_EQ(Manager().ErrorCode(), 5);
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"Moved", "Twin"}));
}

TEST_F(SessionStoreTest, ImportedFileBecomesASession) {
  const std::string path = Root() + "/Imported.cfg";
  WriteBytes(path, kFullSessionFile);
  std::unique_ptr<TKofSession> s = TKofSession::LoadFromFile(path, "Imported");
  ASSERT_TRUE(s);
  ASSERT_TRUE(Manager().Add(*s));
  const int index = Manager().FindByDisplayName("Imported.KOF");
  ASSERT_GE(index, 0);
  EXPECT_EQ(Manager().Sessions().Items(index).FileText(), kFullSessionFile);
}

// A pinned server certificate lives in the store beside the fourteen values;
// a session file neither carries one out nor brings one in.
TEST_F(SessionStoreTest, CertificatePinStaysInTheStoreAndNeverTravelsInFiles) {
  const std::string pin =
      "0A:1B:2C:3D:4E:5F:60:71:82:93:A4:B5:C6:D7:E8:F9:0A:1B:2C:3D:4E:5F:60:71:82:93:A4:B5:C6:D7:E8:F9";
  std::unique_ptr<TKofSession> pinned = SampleSession("Pinned");
  pinned->SetCertificatePin(pin);
  ASSERT_TRUE(Manager().Add(*pinned)) << Manager().ErrorMessage();
  Add("Plain");
  {
    TKofRegistry reg(TRegRoot::CurrentUser);
    ASSERT_TRUE(reg.OpenKeyReadOnly(SessionKey("Pinned")));
    EXPECT_EQ(reg.GetValueNames().size(), 15u);
    EXPECT_EQ(reg.ReadString(kCertificatePinValue), pin);
  }
  TKofSession& loaded = Manager().Sessions().Items(Manager().FindByName("Pinned"));
  EXPECT_EQ(loaded.CertificatePin(), pin);
  // Sessions stored before pins existed are complete without one.
  const TKofSession& plain = Manager().Sessions().Items(Manager().FindByName("Plain"));
  EXPECT_EQ(plain.CertificatePin(), "");
  EXPECT_FALSE(plain.Modified());
  EXPECT_FALSE(loaded.Modified());
  EXPECT_EQ(TKofSession::Clone(loaded, "Other")->CertificatePin(), pin);

  EXPECT_EQ(loaded.FileText(), kFullSessionFile);
  // A shared file with a genuine address and someone else's fingerprint trusts nothing.
  std::string planted = kFullSessionFile;
  planted.insert(planted.size() - 2, "Certificate Pin (SHA-256)=" + pin + "\r\n");
  const std::string path = Root() + "/Planted.KOF";
  WriteBytes(path, planted);
  std::unique_ptr<TKofSession> imported = TKofSession::LoadFromFile(path);
  ASSERT_TRUE(imported);
  EXPECT_EQ(imported->CertificatePin(), "");
  EXPECT_EQ(imported->FileText(), kFullSessionFile);

  // Forgetting the pin removes it from the store, not just from memory.
  loaded.SetCertificatePin("");
  ASSERT_TRUE(Manager().Update(loaded)) << Manager().ErrorMessage();
  TKofSession& forgotten = Manager().Sessions().Items(Manager().FindByName("Pinned"));
  EXPECT_EQ(forgotten.CertificatePin(), "");
  forgotten.Reload();
  EXPECT_EQ(forgotten.CertificatePin(), "");
}

// Another window deleted the session this one still lists: neither an update
// nor a save of a login's answer may bring it back.
TEST_F(SessionStoreTest, ASessionDeletedElsewhereIsNeverRecreated) {
  Add("Gone");
  {
    TKofPluginConfiguration other;
    other.Init();
    TKofSessionManager& manager = other.SessionManager();
    ASSERT_TRUE(manager.Delete(manager.Sessions().Items(manager.FindByName("Gone"))));
  }
  TKofSession& stale = Manager().Sessions().Items(Manager().FindByName("Gone"));
  stale.SetCertificatePin("0A:1B");
  EXPECT_EQ(stale.Store({}, stale.DefaultWrite()), TSaveResult::Missing);
  EXPECT_FALSE(stale.Save());
  EXPECT_FALSE(Manager().Update(stale));
  EXPECT_EQ(Manager().ErrorCode(), 2);
  EXPECT_EQ(Manager().ErrorMessage(), "The session \"Gone\" no longer exists.");
  EXPECT_TRUE(StoredNames().empty());
}

// Three processes rename one session to three names at once: one wins, the
// others find the source gone, and the store holds exactly one copy.
TEST_F(SessionStoreTest, ConcurrentRenamesNeverDuplicate) {
  for (int trial = 0; trial < 10; ++trial) {
    SCOPED_TRACE(trial);
    Add("Src");
    test::RunInChildProcesses(3, [](int i) {
      TKofPluginConfiguration cfg;
      cfg.Init();
      TKofSessionManager& manager = cfg.SessionManager();
      const int index = manager.FindByName("Src");
      if (index >= 0) manager.Sessions().RenMovCopySession(manager.Sessions().Items(index), "N" + std::to_string(i), false);
    });
    EXPECT_EQ(StoredNames().size(), 1u);
    TKofRegistry reg(TRegRoot::CurrentUser);
    ASSERT_TRUE(reg.DeleteKey(kSessionsKey));
    Manager().Reload(raSelect);
  }
}

TEST_F(SessionStoreTest, RenamingOntoATakenNameFailsInsideTheStoreLock) {
  Add("A");
  Add("B");
  // The list says nothing about B's arrival; the store does.
  EXPECT_FALSE(Manager().Sessions().RenMovCopySession(Manager().Sessions().Items(0), "B", false,
                                                      TStoreWrite::MustNotExist));
  EXPECT_EQ(Manager().ErrorCode(), 1);
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"A", "B"}));
  std::unique_ptr<TKofSession> ghost = SampleSession("Ghost");
  EXPECT_FALSE(Manager().Sessions().RenMovCopySession(*ghost, "New", false));
  EXPECT_EQ(Manager().ErrorCode(), 2);
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"A", "B"}));
}

// 70,000 sections stay under the size limit; parsing them must stay linear
// (a quadratic search took most of a minute here).
TEST_F(SessionFileTest, AFileOfManySectionsIsParsedQuickly) {
  std::string text;
  for (int i = 0; i < 70000; ++i) text += "[s" + std::to_string(i) + "]\r\n";
  text += "[Koffra Session]\r\nURL=https://last/\r\n";
  ASSERT_LT(text.size(), kMaxSessionFileBytes);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(TKofSession::CheckSessionText(text).Ok());
  const TKofIniFile ini(text);
  EXPECT_EQ(ini.ReadString("koffra session", "url", ""), "https://last/");
  EXPECT_TRUE(ini.SectionExists("S69999"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(SessionFileTest, KeysThisVersionDoesNotKnowAreIgnored) {
  std::string text = kFullSessionFile;
  text.insert(text.size() - 2, "Some Later Setting=42\r\n");
  const std::string path = Root() + "/Later.KOF";
  WriteBytes(path, text);
  std::unique_ptr<TKofSession> s = TKofSession::LoadFromFile(path);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->FileText(), kFullSessionFile);
}

class SessionAreaTest : public test::TConfigHomeTest {};

void PutSessionValue(TRegRoot root, const std::string& key, const char* name, uint32_t value) {
  TKofRegistry reg(root);
  ASSERT_TRUE(reg.OpenKey(key, true));
  reg.WriteInteger(name, value);
}

TEST_F(SessionAreaTest, MissingValuesFallBackAndAreWrittenBackInFull) {
  {
    TKofRegistry reg(TRegRoot::CurrentUser);
    ASSERT_TRUE(reg.OpenKey(SessionKey("Partial"), true));
    reg.WriteString("URL", "https://p/");
    reg.WriteString("Versions", "2");  // mistyped: counts as missing
    reg.WriteInteger("Display Help Folder", 0);
  }
  PutSessionValue(TRegRoot::CurrentUser, kPluginKey, "AccessCodeTimeout", 90);
  PutSessionValue(TRegRoot::CurrentUser, kPluginKey, "Versions", 3);
  {
    TKofPluginConfiguration cfg;
    ASSERT_TRUE(cfg.Init());
    const TKofSession& s = cfg.SessionManager().Sessions().Items(0);
    EXPECT_EQ(s.AccessCodeTimeout(), 90);
    EXPECT_EQ(s.VersionType(), verUserDaily);
    EXPECT_FALSE(s.DisplayHelpFolders());
    EXPECT_TRUE(s.EncryptingFiles());
    EXPECT_TRUE(s.Modified());
  }
  TKofRegistry reg(TRegRoot::CurrentUser);
  ASSERT_TRUE(reg.OpenKeyReadOnly(SessionKey("Partial")));
  EXPECT_EQ(reg.GetValueNames().size(), 14u);
  EXPECT_EQ(reg.ReadInteger("Versions"), 3u);
}

// -5 written as a DWORD is 4294967291: such numbers take the fallback and the
// session is written back repaired.
TEST_F(SessionAreaTest, NumbersOutOfRangeTakeTheFallback) {
  PutSessionValue(TRegRoot::CurrentUser, SessionKey("S"), "AccessCodeTimeout", static_cast<uint32_t>(-5));
  PutSessionValue(TRegRoot::CurrentUser, SessionKey("S"), "Buffer Size MB", 4096);
  PutSessionValue(TRegRoot::CurrentUser, kPluginKey, "AccessCodeTimeout", 90);
  TKofPluginConfiguration cfg;
  ASSERT_TRUE(cfg.Init());
  const TKofSession& s = cfg.SessionManager().Sessions().Items(0);
  EXPECT_EQ(s.AccessCodeTimeout(), 90);
  EXPECT_EQ(s.BufferSize(), 16);
  EXPECT_TRUE(s.Modified());
}

// With a machine-wide store the user's trust answer is kept in the user's own
// store and found by the next start, for as long as the address is the same.
TEST_F(SessionAreaTest, TrustAnswersForMachineWideSessionsSurviveARestart) {
  const std::string pin = "0A:1B:2C";
  {
    TKofRegistry reg(TRegRoot::LocalMachine);
    ASSERT_TRUE(reg.OpenKey(SessionKey("Shared"), true));
    reg.WriteString("URL", "https://shared/");
  }
  {
    TKofPluginConfiguration cfg;
    ASSERT_TRUE(cfg.Init());
    ASSERT_TRUE(cfg.SessionManager().ReadOnly());
    TKofSession& s = cfg.SessionManager().Sessions().Items(0);
    EXPECT_EQ(s.CertificatePin(), "");
    s.SetCertificatePin(pin);
    ASSERT_TRUE(s.Save());
  }
  {
    TKofPluginConfiguration cfg;
    ASSERT_TRUE(cfg.Init());
    EXPECT_EQ(cfg.SessionManager().Sessions().Items(0).CertificatePin(), pin);
  }
  {
    TKofRegistry reg(TRegRoot::LocalMachine);
    ASSERT_TRUE(reg.OpenKey(SessionKey("Shared"), false));
    reg.WriteString("URL", "https://moved/");
  }
  TKofPluginConfiguration cfg;
  ASSERT_TRUE(cfg.Init());
  EXPECT_EQ(cfg.SessionManager().Sessions().Items(0).CertificatePin(), "");
}

TEST_F(SessionAreaTest, UnknownModeNumberLoadsAsNoVersioning) {
  PutSessionValue(TRegRoot::CurrentUser, SessionKey("S"), "Versions", 9);
  TKofPluginConfiguration cfg;
  ASSERT_TRUE(cfg.Init());
  const TKofSession& s = cfg.SessionManager().Sessions().Items(0);
  EXPECT_EQ(s.VersionType(), verNone);
  EXPECT_NE(s.FileText().find("File Versioning Mode=Never\r\n"), std::string::npos);
}

TEST_F(SessionAreaTest, LegacySessionsAreMigratedToThePerUserStore) {
  TKofRegistry legacy(TRegRoot::CurrentUser);
  ASSERT_TRUE(legacy.OpenKey(std::string(kLegacySessionsKey) + "\\Old One", true));
  legacy.WriteString("URL", "https://old/");
  for (const char* name : {"AccessCodeTimeout", "Editable Records", "Files with Passwords", "Versions",
                           "Error grouping", "Allowed Clipboard Message", "Allowed Version Change",
                           "Display Help Folder", "Encrypt Files", "Store All Files", "Buffer Size MB"})
    legacy.WriteInteger(name, 1);
  {
    TKofPluginConfiguration cfg;
    ASSERT_TRUE(cfg.Init());
    EXPECT_FALSE(cfg.SessionManager().ReadOnly());
  }
  TKofRegistry reg(TRegRoot::CurrentUser);
  ASSERT_TRUE(reg.OpenKeyReadOnly(SessionKey("Old One")));
  EXPECT_EQ(reg.ReadString("URL"), "https://old/");
  EXPECT_EQ(reg.ReadInteger("Buffer Size MB"), 1u);
  EXPECT_EQ(reg.GetValueNames().size(), 14u);
  // Next start reads the per-user store; the legacy key is left as it was.
  TKofPluginConfiguration next;
  ASSERT_TRUE(next.Init());
  EXPECT_FALSE(next.SessionManager().Sessions().Items(0).Modified());
  EXPECT_TRUE(TKofRegistry(TRegRoot::CurrentUser).KeyExists(kLegacySessionsKey));
}

TEST_F(SessionAreaTest, MachineWideSessionsHideThePerUserStore) {
  TKofRegistry(TRegRoot::LocalMachine).OpenKey(kSessionsKey, true);
  PutSessionValue(TRegRoot::CurrentUser, SessionKey("Mine"), "AccessCodeTimeout", 1);
  TKofPluginConfiguration cfg;
  cfg.Init();
  TKofSessionManager& manager = cfg.SessionManager();
  EXPECT_TRUE(manager.ReadOnly());
  EXPECT_EQ(manager.Sessions().Count(), 0);
  std::unique_ptr<TKofSession> s = SampleSession("New");
  EXPECT_TRUE(manager.Add(*s));
  EXPECT_TRUE(manager.SessionExists("New"));
  EXPECT_EQ(manager.FindByName("New"), -1);
}

// Writers with their own configuration each add sessions; none may be lost.
void AddSessions(const std::string& prefix, int count) {
  TKofPluginConfiguration cfg;
  cfg.Init();
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<TKofSession> s = SampleSession(prefix + std::to_string(i));
    cfg.SessionManager().Add(*s);
  }
}

std::size_t StoredSessionCount() {
  TKofRegistry reg(TRegRoot::CurrentUser);
  return reg.OpenKeyReadOnly(kSessionsKey) ? reg.GetKeyNames().size() : 0;
}

TEST_F(SessionAreaTest, ConcurrentThreadsLoseNoSession) {
  constexpr int kWriters = 4, kCount = 8;
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) threads.emplace_back(AddSessions, "T" + std::to_string(w) + "-", kCount);
  for (auto& t : threads) t.join();
  EXPECT_EQ(StoredSessionCount(), static_cast<std::size_t>(kWriters * kCount));
}

TEST_F(SessionAreaTest, ConcurrentProcessesLoseNoSession) {
  constexpr int kWriters = 4, kCount = 8;
  test::RunInChildProcesses(kWriters, [&](int w) { AddSessions("P" + std::to_string(w) + "-", kCount); });
  EXPECT_EQ(StoredSessionCount(), static_cast<std::size_t>(kWriters * kCount));
}

}  // namespace
}  // namespace kof
