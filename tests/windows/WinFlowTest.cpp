// The Windows plugin DLL driven through its sixteen exports as the file
// manager drives it, against the test server whose address KOF_TEST_SERVER_URL
// gives (the demo vault); the plugin's configuration lives in the registry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/KofFileIO.h"
#include "platform/KofFolders.h"
#include "platform/KofModulePath.h"
#include "platform/KofProcess.h"
#include "platform/KofRegistry.h"
#include "plugin/WfxAbi.h"
#include "support/KofText.h"

namespace kof {
namespace {

using namespace wfx;

std::deque<std::string> gAnswers;
std::vector<std::string> gAsked;

int OnProgress(int, WCHAR*, WCHAR*, int) { return 0; }
void OnLog(int, int, WCHAR*) {}

std::u16string Wide(const std::string& text) { return Utf8ToUtf16(text); }
std::string Narrow(const WCHAR* text) {
  return text ? Utf16ToUtf8(std::u16string_view(text, std::char_traits<char16_t>::length(text))) : std::string();
}

// The demo user's login is answered by what is asked; anything else from the
// queue, in order. Questions (the certificate to trust) are answered yes.
std::optional<std::string> LoginAnswer(int type, const std::string& title, const std::string& text) {
  if (text == "Domain") return "SYSTEM";
  if (type == RT_UserName) return "demo";
  if (type == RT_Password) return title.ends_with(" - Access Code") ? "1234" : "demo";
  return std::nullopt;
}

BOOL OnRequest(int, int type, WCHAR* title, WCHAR* text, WCHAR* returned, int maxlen) {
  gAsked.push_back(std::to_string(type) + " " + Narrow(title) + ": " + Narrow(text));
  if (type == RT_MsgOK || type == RT_MsgYesNo || type == RT_MsgOKCancel) return kTrue;
  std::optional<std::string> login = gAnswers.empty() ? LoginAnswer(type, Narrow(title), Narrow(text)) : std::nullopt;
  if (!login && gAnswers.empty()) return kFalse;
  const std::u16string answer = Wide(login ? *login : gAnswers.front());
  if (!login) gAnswers.pop_front();
  if (returned && maxlen > 0) {
    const std::size_t n = std::min<std::size_t>(answer.size(), static_cast<std::size_t>(maxlen - 1));
    std::copy_n(answer.data(), n, returned);
    returned[n] = 0;
  }
  return kTrue;
}

std::string FromEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Wine shows the Linux file system as drive Z:.
std::string WindowsPath(std::string path) {
  if (!path.empty() && path.front() == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

class WinFlow : public ::testing::Test {
 protected:
  // A fresh plugin for every test, loaded and unloaded as the file manager does.
  void SetUp() override {
    std::string error;
    FLibrary = OpenLibrary(WindowsPath(FromEnv("KOF_PLUGIN")), error);
    ASSERT_NE(FLibrary, nullptr) << error;
    FUrl = FromEnv("KOF_TEST_SERVER_URL");
    ASSERT_FALSE(FUrl.empty()) << "KOF_TEST_SERVER_URL names the test server";
    TKofRegistry(TRegRoot::CurrentUser).DeleteKey("Software\\Varnok\\Koffra TC Plugin");
    FLocal = TemporaryFolder() + "\\kof-win-flow\\";
    ASSERT_TRUE(ForceFolders(FLocal));
    gAnswers.clear();
    gAsked.clear();
    FsDefaultParamStruct params{};
    params.size = sizeof params;
    params.PluginInterfaceVersionHi = 2;
    params.PluginInterfaceVersionLow = 10;
    Sym<FsSetDefaultParams_t>("FsSetDefaultParams")(&params);
    // Where this machine reaches the demo vault's share (\\storage\vault), which the
    // server keeps in the folder KOF_TEST_STORAGE names: read by FsInitW.
    const std::string storage = WindowsPath(FromEnv("KOF_TEST_STORAGE"));
    ASSERT_FALSE(storage.empty()) << "KOF_TEST_STORAGE names the server's storage folder";
    ASSERT_TRUE(ForceFolders(UserConfigFolder()));
    ASSERT_TRUE(WriteWholeFile(UserConfigFolder() + "\\Koffra.subst.cfg", "subst \\\\storage\\vault " + storage + "\r\n"));
    ASSERT_EQ(Sym<FsInitW_t>("FsInitW")(1, &OnProgress, &OnLog, &OnRequest), 0);
  }
  void TearDown() override {
    CloseLibrary(FLibrary);
    FLibrary = nullptr;
  }

  template <class T>
  T Sym(const char* name) {
    return reinterpret_cast<T>(LibrarySymbol(FLibrary, name));
  }

  std::vector<std::string> List(const std::string& path) {
    std::vector<std::string> names;
    std::u16string wide = Wide(path);
    WIN32_FIND_DATAW data{};
    HANDLE h = Sym<FsFindFirstW_t>("FsFindFirstW")(wide.data(), &data);
    if (h == kInvalidHandle) return names;
    do names.push_back(Narrow(data.cFileName));
    while (Sym<FsFindNextW_t>("FsFindNextW")(h, &data));
    Sym<FsFindClose_t>("FsFindClose")(h);
    return names;
  }

  static bool Has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  }

  std::string Asked() const {
    std::string all;
    for (const std::string& a : gAsked) all += "\n  " + a;
    return all;
  }

  int Get(const std::string& remote, const std::string& local, int flags = 0) {
    std::u16string r = Wide(remote), l = Wide(local);
    RemoteInfoStruct info{};
    return Sym<FsGetFileW_t>("FsGetFileW")(r.data(), l.data(), flags, &info);
  }
  int Put(const std::string& local, const std::string& remote, int flags = 0) {
    std::u16string r = Wide(remote), l = Wide(local);
    return Sym<FsPutFileW_t>("FsPutFileW")(l.data(), r.data(), flags);
  }
  bool MkDir(const std::string& path) {
    std::u16string p = Wide(path);
    return Sym<FsMkDirW_t>("FsMkDirW")(p.data()) != 0;
  }

  void NewDemoSession() {
    gAnswers = {FUrl, "SYSTEM", "demo"};
    ASSERT_TRUE(MkDir("\\Demo")) << Asked();
  }

  void* FLibrary = nullptr;
  std::string FUrl;
  std::string FLocal;
};

TEST_F(WinFlow, ASessionIsStoredInTheRegistryWithItsValueTypes) {
  NewDemoSession();
  TKofProcessRequest query;
  query.Program = "C:\\windows\\system32\\reg.exe";
  query.Args = {"query", "HKCU\\Software\\Varnok\\Koffra TC Plugin\\Sessions\\Demo"};
  query.Timeout = std::chrono::seconds(30);
  const TKofProcessResult result = RunProcess(query);
  ASSERT_TRUE(result.Started) << result.StartError;
  const std::string out(result.Output.View());
  EXPECT_EQ(result.ExitCode, 0) << out;
  // "    NAME    TYPE    DATA" a value (Wine lists them by name, Windows as written).
  std::map<std::string, std::string> types, data;
  for (std::size_t pos = 0, end = 0; pos < out.size(); pos = end + 1) {
    end = std::min(out.find('\n', pos), out.size());
    std::string line = out.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t type = line.find("    REG_");
    if (!line.starts_with("    ") || type == std::string::npos) continue;
    const std::size_t typeEnd = std::min(line.find(' ', type + 4), line.size());
    const std::string name = line.substr(4, type - 4);
    types[name] = line.substr(type + 4, typeEnd - type - 4);
    data[name] = line.substr(std::min(typeEnd + 4, line.size()));
  }
  std::map<std::string, std::string> expected = {{"URL", "REG_SZ"}, {"Domain", "REG_SZ"}, {"Username", "REG_SZ"}};
  for (const char* number : {"AccessCodeTimeout", "Editable Records", "Files with Passwords", "Versions",
                             "Error grouping", "Allowed Clipboard Message", "Allowed Version Change",
                             "Display Help Folder", "Encrypt Files", "Store All Files", "Buffer Size MB"})
    expected[number] = "REG_DWORD";
  EXPECT_EQ(types, expected) << out;
  EXPECT_EQ(data["URL"], FUrl);
  EXPECT_EQ(data["Domain"], "SYSTEM");
  EXPECT_EQ(data["Username"], "demo");
  EXPECT_TRUE(Has(List("\\"), "Demo.<KOF>")) << Asked();
}

TEST_F(WinFlow, LogInBrowseCopyOutAndInAndMaintainTheTree) {
  NewDemoSession();
  const auto root = List("\\Demo");
  ASSERT_TRUE(Has(root, "Projects")) << Asked();
  EXPECT_TRUE(Has(root, "Personal (demo)"));  // a private box shows its owner
  const auto box = List("\\Demo\\Projects\\Koffra");
  ASSERT_TRUE(Has(box, "Release notes.txt")) << Asked();

  const std::string notes = FLocal + "notes.txt";
  RemoveFile(notes);
  ASSERT_EQ(Get("\\Demo\\Projects\\Koffra\\Release notes.txt", notes), FS_FILE_OK) << Asked();
  EXPECT_FALSE(ReadSmallFile(notes, 1 << 20).value_or("").empty());

  const std::string bytes = "line one\r\nline two \xC3\xA4\r\n";
  const std::string upload = FLocal + "upload.txt";
  ASSERT_TRUE(WriteWholeFile(upload, bytes));
  ASSERT_EQ(Put(upload, "\\Demo\\Projects\\Koffra\\upload.txt"), FS_FILE_OK) << Asked();
  EXPECT_TRUE(Has(List("\\Demo\\Projects\\Koffra"), "upload.txt"));
  const std::string back = FLocal + "back.txt";
  RemoveFile(back);
  ASSERT_EQ(Get("\\Demo\\Projects\\Koffra\\upload.txt", back), FS_FILE_OK) << Asked();
  EXPECT_EQ(ReadSmallFile(back, 1 << 20).value_or(""), bytes);

  std::u16string from = Wide("\\Demo\\Projects\\Koffra\\upload.txt"), to = Wide("\\Demo\\Personal (demo)\\upload.txt");
  RemoteInfoStruct info{};
  EXPECT_EQ(Sym<FsRenMovFileW_t>("FsRenMovFileW")(from.data(), to.data(), kTrue, kFalse, &info), FS_FILE_OK) << Asked();
  EXPECT_FALSE(Has(List("\\Demo\\Projects\\Koffra"), "upload.txt"));
  EXPECT_TRUE(Has(List("\\Demo\\Personal (demo)"), "upload.txt"));
  EXPECT_TRUE(Sym<FsDeleteFileW_t>("FsDeleteFileW")(to.data())) << Asked();
  EXPECT_FALSE(Has(List("\\Demo\\Personal (demo)"), "upload.txt"));

  ASSERT_TRUE(MkDir("\\Demo\\Projects\\Windows box")) << Asked();
  EXPECT_TRUE(Has(List("\\Demo\\Projects"), "Windows box"));
  std::u16string made = Wide("\\Demo\\Projects\\Windows box");
  EXPECT_TRUE(Sym<FsRemoveDirW_t>("FsRemoveDirW")(made.data())) << Asked();
  EXPECT_FALSE(Has(List("\\Demo\\Projects"), "Windows box"));
}

// The demo vault keeps files over 1 MiB on its share.
TEST_F(WinFlow, AFileOverTheLimitGoesEncryptedToTheShareAndComesBack) {
  const std::string storage = WindowsPath(FromEnv("KOF_TEST_STORAGE"));
  NewDemoSession();

  std::string bytes(1100 * 1024, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  const std::string big = FLocal + "big.bin";
  ASSERT_TRUE(WriteWholeFile(big, bytes));
  namespace fs = std::filesystem;
  const auto storedFiles = [&] {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(fs::path(storage)))
      if (e.is_regular_file()) files.push_back(e.path());
    return files;
  };
  const std::vector<fs::path> before = storedFiles();
  ASSERT_FALSE(List("\\Demo\\Projects\\Koffra").empty()) << Asked();  // the host lists before it copies in
  ASSERT_EQ(Put(big, "\\Demo\\Projects\\Koffra\\big.bin"), FS_FILE_OK) << Asked();
  std::vector<fs::path> added = storedFiles();
  std::erase_if(added, [&](const fs::path& p) { return std::find(before.begin(), before.end(), p) != before.end(); });
  ASSERT_EQ(added.size(), 1u);
  // Sealed: signature, cipher text and tag; no plain bytes on the share.
  const std::string stored = ReadSmallFile(added.front().string(), 4 << 20).value_or("");
  EXPECT_EQ(stored.size(), bytes.size() + 20);
  EXPECT_EQ(stored.find(bytes.substr(0, 64)), std::string::npos);

  EXPECT_TRUE(Has(List("\\Demo\\Projects\\Koffra"), "big.bin"));
  const std::string back = FLocal + "big-back.bin";
  RemoveFile(back);
  ASSERT_EQ(Get("\\Demo\\Projects\\Koffra\\big.bin", back), FS_FILE_OK) << Asked();
  EXPECT_TRUE(ReadSmallFile(back, 4 << 20) == bytes);
  std::u16string record = Wide("\\Demo\\Projects\\Koffra\\big.bin");
  EXPECT_TRUE(Sym<FsDeleteFileW_t>("FsDeleteFileW")(record.data())) << Asked();
  EXPECT_FALSE(Has(List("\\Demo\\Projects\\Koffra"), "big.bin"));
}

}  // namespace
}  // namespace kof
