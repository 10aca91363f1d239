#pragma once
// Where files go: the temporary and application-data folders, and private
// files created so that nothing else can have opened or redirected them.
#include <string>
#include <string_view>
#include <vector>

namespace kof {

// $TMPDIR, else /tmp.
std::string TemporaryFolder();
// ${XDG_DATA_HOME:-$HOME/.local/share}
std::string LocalAppDataFolder();
// ${XDG_CONFIG_HOME:-$HOME/.config}
std::string RoamingAppDataFolder();
// Every folder that counts as temporary: the temporary folder and the folders
// named by TEMP and TMP as they are, each once, each ending with '/' so that a
// prefix test cannot match a sibling such as /tmpfoo.
std::vector<std::string> TemporaryFolders();

// An open file descriptor with one owner.
class TFileHandle {
 public:
  TFileHandle() = default;
  explicit TFileHandle(int fd) : FFd(fd) {}
  TFileHandle(TFileHandle&& other) noexcept : FFd(other.Release()) {}
  TFileHandle& operator=(TFileHandle&& other) noexcept;
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;
  ~TFileHandle();

  int Fd() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  int Release();
  void Reset();

 private:
  int FFd = -1;
};

struct TPrivateFile {
  TFileHandle Handle;
  int Error = 0;  // errno when Handle is not valid (EEXIST, ELOOP, ...)
};

// Creates PATH for writing, mode 0600. Fails when anything exists there,
// including a symbolic link, so a planted link can never redirect a secret.
TPrivateFile CreatePrivateFile(const std::string& path);
// Creates a fresh private file in FOLDER whose name starts with PREFIX;
// PATH receives its full name.
TPrivateFile CreatePrivateTempFile(const std::string& folder, std::string_view prefix, std::string& path);

// Creates FOLDER and its missing parents (new ones with MODE); true when it exists afterwards.
bool ForceFolders(const std::string& folder, unsigned mode = 0700);

}  // namespace kof
