#include "platform/KofFolders.h"
#include "platform/KofFileIO.h"

#include <io.h>
#include <shlobj.h>

#include <cerrno>
#include <fcntl.h>
#include <random>

#include "platform/win/KofFileHandles.h"
#include "platform/win/KofWin.h"
#include "support/KofText.h"

namespace kof {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string WithoutSeparator(std::string folder) {
  while (folder.size() > 3 && IsSeparator(folder.back())) folder.pop_back();
  return folder;
}

std::string WithSeparator(std::string folder) {
  if (folder.empty() || !IsSeparator(folder.back())) folder += '\\';
  return folder;
}

std::string KnownFolder(REFKNOWNFOLDERID id, const wchar_t* fallbackVariable) {
  PWSTR path = nullptr;
  std::string folder;
  if (::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path) == S_OK && path) folder = win::Utf8(path);
  ::CoTaskMemFree(path);
  if (folder.empty()) folder = win::EnvVar(fallbackVariable);
  return WithoutSeparator(folder);
}

std::string RandomSuffix() {
  static thread_local std::mt19937_64 engine{std::random_device{}()};
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int i = 0; i < 12; ++i) suffix += kChars[engine() % (sizeof(kChars) - 1)];
  return suffix;
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

std::string TemporaryFolder() {
  wchar_t path[MAX_PATH + 2];
  const DWORD n = ::GetTempPathW(static_cast<DWORD>(std::size(path)), path);
  if (n == 0 || n >= std::size(path)) return WithoutSeparator(win::EnvVar(L"TEMP"));
  return WithoutSeparator(win::Utf8(std::wstring_view(path, n)));
}

std::string LocalAppDataFolder() { return KnownFolder(FOLDERID_LocalAppData, L"LOCALAPPDATA"); }

std::string RoamingAppDataFolder() { return KnownFolder(FOLDERID_RoamingAppData, L"APPDATA"); }

std::vector<std::string> TemporaryFolders() {
  std::vector<std::string> folders;
  for (std::string folder : {TemporaryFolder(), win::EnvVar(L"TEMP"), win::EnvVar(L"TMP")}) {
    if (folder.empty()) continue;
    folder = WithSeparator(folder);
    bool known = false;
    for (const std::string& f : folders) known = known || CompareText(f, folder) == 0;
    if (!known) folders.push_back(folder);
  }
  return folders;
}

void TFileHandle::Reset() {
  if (FFd >= 0) ::_close(FFd);
  FFd = -1;
}

TPrivateFile CreatePrivateFile(const std::string& path) {
  // A secret copy: new (never through what is already at its name) and, where
  // the file system offers it, encrypted for the current user.
  TOpenedFile file = win::OpenPath(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ENCRYPTED);
  return {std::move(file.Handle), file.Error};
}

TPrivateFile CreatePrivateTempFile(const std::string& folder, std::string_view prefix, std::string& path) {
  TOpenedFile file;
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = WithSeparator(folder) + std::string(prefix) + RandomSuffix();
    file = win::OpenPath(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY);
    if (file.Handle.Valid() || file.Error != EEXIST) break;
  }
  if (!file.Handle.Valid()) path.clear();
  return {std::move(file.Handle), file.Error};
}

TOpenedFile CreateUnnamedTempFile() {
  // No unnamed files here: a new one in the temporary folder that goes when its handle closes.
  TOpenedFile file;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = WithSeparator(TemporaryFolder()) + ".kof-spool-" + RandomSuffix();
    file = win::OpenPath(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
    if (file.Handle.Valid() || file.Error != EEXIST) break;
  }
  return file;
}

bool ForceFolders(const std::string& folder, unsigned /*mode: the folder's ACL comes from its parent*/) {
  const std::string clean = WithoutSeparator(folder);
  if (clean.empty()) return false;
  const std::wstring wide = win::WidePath(clean);
  if (IsFolder(wide)) return true;
  const std::size_t slash = clean.find_last_of("\\/");
  // "C:" and "\\server\share" are not created; they exist or not.
  if (slash != std::string::npos && slash > 0 && clean[slash - 1] != ':' && !ForceFolders(clean.substr(0, slash), 0))
    return false;
  if (::CreateDirectoryW(wide.c_str(), nullptr)) return true;
  return IsFolder(wide);
}

}  // namespace kof
