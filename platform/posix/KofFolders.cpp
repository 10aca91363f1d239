#include "platform/KofFolders.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>

namespace kof {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string HomeFolder() {
  std::string home = Env("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

std::string XdgFolder(const char* variable, std::string_view fallbackBelowHome) {
  std::string folder = Env(variable);
  // XDG asks to ignore relative paths in these variables.
  if (!folder.empty() && folder.front() == '/') return folder;
  return HomeFolder() + "/" + std::string(fallbackBelowHome);
}

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string RandomSuffix() {
  static thread_local std::mt19937_64 engine{std::random_device{}()};
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int i = 0; i < 12; ++i) suffix += kChars[engine() % (sizeof(kChars) - 1)];
  return suffix;
}

}  // namespace

std::string TemporaryFolder() {
  std::string folder = Env("TMPDIR");
  return folder.empty() ? std::string("/tmp") : folder;
}

std::string LocalAppDataFolder() { return XdgFolder("XDG_DATA_HOME", ".local/share"); }

std::string RoamingAppDataFolder() { return XdgFolder("XDG_CONFIG_HOME", ".config"); }

std::vector<std::string> TemporaryFolders() {
  std::vector<std::string> folders;
  for (std::string folder : {TemporaryFolder(), Env("TEMP"), Env("TMP")}) {
    if (folder.empty()) continue;
    folder = WithSlash(folder);
    bool known = false;
    for (const std::string& f : folders) known = known || f == folder;
    if (!known) folders.push_back(folder);
  }
  return folders;
}

void TFileHandle::Reset() {
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
}

TPrivateFile CreatePrivateFile(const std::string& path) {
  TPrivateFile file;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    file.Error = errno;
    return file;
  }
  // The umask may only narrow 0600, but a file we hand secrets to gets exactly that.
  ::fchmod(fd, 0600);
  file.Handle = TFileHandle(fd);
  return file;
}

TPrivateFile CreatePrivateTempFile(const std::string& folder, std::string_view prefix, std::string& path) {
  TPrivateFile file;
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = WithSlash(folder) + std::string(prefix) + RandomSuffix();
    file = CreatePrivateFile(path);
    if (file.Handle.Valid() || file.Error != EEXIST) break;
  }
  if (!file.Handle.Valid()) path.clear();
  return file;
}

bool ForceFolders(const std::string& folder, unsigned mode) {
  if (folder.empty()) return false;
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::size_t slash = folder.find_last_of('/', folder.size() > 1 ? folder.size() - 2 : 0);
  if (slash != std::string::npos && slash > 0 && !ForceFolders(folder.substr(0, slash), mode)) return false;
  if (::mkdir(folder.c_str(), static_cast<mode_t>(mode)) == 0) return true;
  return errno == EEXIST && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace kof
