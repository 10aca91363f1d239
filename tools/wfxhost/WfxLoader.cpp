#include "tools/wfxhost/WfxLoader.h"

// The loader is the host side: it loads the plugin library with the system's
// loader, as the file manager does, not through the plugin's platform layer.
#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>

#include "support/KofText.h"

namespace wfxhost {
namespace {

using namespace wfx;

std::mutex gRegistryLock;
std::map<int, Plugin*> gPlugins;

Plugin* Find(int number) {
  std::lock_guard guard(gRegistryLock);
  auto it = gPlugins.find(number);
  return it == gPlugins.end() ? nullptr : it->second;
}

std::string FromWide(const WCHAR* s) {
  if (!s) return {};
  return kof::Utf16ToUtf8(std::u16string_view(s, kof::Utf16Length(s, 65536)));
}

std::u16string ToWide(const std::string& s) { return kof::Utf8ToUtf16(s); }

bool IsYes(const std::string& s) {
  return kof::SameText(s, "yes") || kof::SameText(s, "y") || kof::SameText(s, "ok") || s == "1" ||
         kof::SameText(s, "true");
}

extern "C" BOOL HostRequest(int nr, int type, WCHAR* title, WCHAR* text, WCHAR* returned, int maxlen) {
  Plugin* p = Find(nr);
  if (!p) return kFalse;
  const Request r{type, FromWide(title), FromWide(text)};
  std::optional<std::string> answer = p->GetAnswers().Next(r);
  if (type == RT_MsgOK) return kTrue;
  if (!answer || *answer == "!cancel") return kFalse;
  if (type == RT_MsgYesNo || type == RT_MsgOKCancel) return IsYes(*answer) ? kTrue : kFalse;
  if (returned && maxlen > 0) {
    const std::u16string w = ToWide(kof::CutToUtf16Units(*answer, static_cast<std::size_t>(maxlen - 1)));
    std::copy(w.begin(), w.end(), returned);
    returned[w.size()] = 0;
  }
  return kTrue;
}

extern "C" int HostProgress(int nr, WCHAR* source, WCHAR* target, int percent) {
  Plugin* p = Find(nr);
  if (!p) return 0;
  const std::string from = FromWide(source), to = FromWide(target);
  p->ProgressLog().push_back(from + " -> " + to + " " + std::to_string(percent) + "%");
  p->NotifyProgress(from, to, percent);
  return p->AbortAt() && percent > 0 && percent >= *p->AbortAt() ? 1 : 0;
}

extern "C" void HostLog(int, int, WCHAR*) {}

}  // namespace

void Answers::LoadFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read answers file " + path);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Push(line);
  }
}

std::optional<std::string> Answers::Next(const Request& r) {
  FAsked.push_back(r);
  if (FObserver) FObserver(r);
  if (r.Type == RT_MsgOK) return std::string();  // a notice takes no answer
  if (!FQueue.empty()) {
    std::string a = std::move(FQueue.front());
    FQueue.pop_front();
    return a;
  }
  if (FFallback) return FFallback(r);
  return std::nullopt;
}

Plugin::~Plugin() { Unload(); }

template <class T>
T Plugin::Sym(const char* name) {
  void* s = dlsym(FHandle, name);
  if (!s) throw std::runtime_error(std::string("plugin does not export ") + name);
  return reinterpret_cast<T>(s);
}

void Plugin::Load(const std::string& path, int pluginNumber) {
  Unload();
  FHandle = dlopen(path.empty() ? nullptr : path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!FHandle) throw std::runtime_error(std::string("cannot load plugin: ") + dlerror());
  FInit = Sym<FsInitW_t>("FsInitW");
  FFindFirst = Sym<FsFindFirstW_t>("FsFindFirstW");
  FFindNext = Sym<FsFindNextW_t>("FsFindNextW");
  FFindClose = Sym<FsFindClose_t>("FsFindClose");
  FGetFile = Sym<FsGetFileW_t>("FsGetFileW");
  FPutFile = Sym<FsPutFileW_t>("FsPutFileW");
  FDeleteFile = Sym<FsDeleteFileW_t>("FsDeleteFileW");
  FMkDir = Sym<FsMkDirW_t>("FsMkDirW");
  FRemoveDir = Sym<FsRemoveDirW_t>("FsRemoveDirW");
  FRenMov = Sym<FsRenMovFileW_t>("FsRenMovFileW");
  FExecute = Sym<FsExecuteFileW_t>("FsExecuteFileW");
  FSetDefaultParams = Sym<FsSetDefaultParams_t>("FsSetDefaultParams");
  FGetDefRootName = Sym<FsGetDefRootName_t>("FsGetDefRootName");
  FDisconnect = Sym<FsDisconnectW_t>("FsDisconnectW");
  FStatusInfo = Sym<FsStatusInfoW_t>("FsStatusInfoW");
  FExtractIcon = Sym<FsExtractCustomIconW_t>("FsExtractCustomIconW");
  {
    std::lock_guard guard(gRegistryLock);
    gPlugins[pluginNumber] = this;
  }
  FsDefaultParamStruct dps{};
  dps.size = sizeof dps;
  dps.PluginInterfaceVersionHi = 2;
  dps.PluginInterfaceVersionLow = 10;
  std::snprintf(dps.DefaultIniName, sizeof dps.DefaultIniName, "%s", "wfxhost.ini");
  FSetDefaultParams(&dps);
  // As the file manager, the extension interface before FsInitW, when the plugin has it.
  const auto extensionInit = reinterpret_cast<ExtensionInitialize_t>(dlsym(FHandle, "ExtensionInitialize"));
  FExtensionFinalize = reinterpret_cast<ExtensionFinalize_t>(dlsym(FHandle, "ExtensionFinalize"));
  if (FDialogsEnabled && extensionInit) {
    auto info = std::make_unique<tExtensionStartupInfo>();
    const std::string dir = path.empty() ? "." : ParentOf(path);
    FDialogs.Fill(*info, dir, dir);
    extensionInit(info.get());
  }
  FInitResult = FInit(pluginNumber, &HostProgress, &HostLog, &HostRequest);
}

void Plugin::Unload() {
  if (!FHandle) return;
  if (FDialogsEnabled && FExtensionFinalize) FExtensionFinalize(nullptr);
  FExtensionFinalize = nullptr;
  dlclose(FHandle);
  FHandle = nullptr;
  std::lock_guard guard(gRegistryLock);
  for (auto it = gPlugins.begin(); it != gPlugins.end();)
    it = it->second == this ? gPlugins.erase(it) : std::next(it);
}

std::string Plugin::ParentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash + 1);
}

std::vector<Entry> Plugin::List(const std::string& path, Result* result) {
  std::vector<Entry> entries;
  std::u16string w = ToWide(path);
  WIN32_FIND_DATAW fd;
  std::memset(&fd, 0, sizeof fd);
  errno = 0;
  HANDLE h = FFindFirst(w.data(), &fd);
  if (result) *result = {0, errno, {}};
  if (h == kInvalidHandle) {
    if (result) result->Code = -1;
    return entries;
  }
  do {
    Entry e;
    e.Attributes = fd.dwFileAttributes;
    e.Size = (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    e.WriteTime = fd.ftLastWriteTime;
    e.CreationTime = fd.ftCreationTime;
    e.AccessTime = fd.ftLastAccessTime;
    e.Reserved0 = fd.dwReserved0;
    e.Reserved1 = fd.dwReserved1;
    e.Name = kof::Utf16ToUtf8(std::u16string_view(fd.cFileName, kof::Utf16Length(fd.cFileName, kMaxPath)));
    entries.push_back(std::move(e));
    std::memset(&fd, 0, sizeof fd);
  } while (FFindNext(h, &fd));
  FFindClose(h);
  return entries;
}

Result Plugin::Bracketed(const std::string& dir, int operation, const std::function<int()>& call) {
  Status(dir, true, operation);
  errno = 0;
  Result r;
  r.Code = call();
  r.LastError = errno;
  Status(dir, false, operation);
  return r;
}

Result Plugin::Get(const std::string& remote, const std::string& local, int flags) {
  return Bracketed(ParentOf(remote), 2 /* get single */, [&] {
    std::u16string r = ToWide(remote), l = ToWide(local);
    RemoteInfoStruct ri{};
    return FGetFile(r.data(), l.data(), flags, &ri);
  });
}

Result Plugin::Put(const std::string& local, const std::string& remote, int flags) {
  return Bracketed(ParentOf(remote), 4 /* put single */, [&] {
    std::u16string r = ToWide(remote), l = ToWide(local);
    return FPutFile(l.data(), r.data(), flags);
  });
}

namespace {
std::string Joined(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}
}  // namespace

std::vector<Result> Plugin::Many(const std::string& dir, int operation, const std::vector<std::string>& names,
                                 const std::function<int(const std::string&)>& call) {
  std::vector<Result> results;
  Status(dir, true, operation);
  for (const std::string& name : names) {
    errno = 0;
    Result one;
    one.Code = call(name);
    one.LastError = errno;
    results.push_back(one);
  }
  Status(dir, false, operation);
  return results;
}

std::vector<Result> Plugin::GetMany(const std::string& remoteDir, const std::vector<std::string>& names,
                                    const std::string& localDir, int flags) {
  return Many(remoteDir, 3 /* get multi */, names, [&](const std::string& name) {
    std::u16string r = ToWide(Joined(remoteDir, name)), l = ToWide(Joined(localDir, name));
    RemoteInfoStruct ri{};
    return FGetFile(r.data(), l.data(), flags, &ri);
  });
}

std::vector<Result> Plugin::PutMany(const std::string& localDir, const std::vector<std::string>& names,
                                    const std::string& remoteDir, int flags) {
  return Many(remoteDir, 5 /* put multi */, names, [&](const std::string& name) {
    std::u16string r = ToWide(Joined(remoteDir, name)), l = ToWide(Joined(localDir, name));
    return FPutFile(l.data(), r.data(), flags);
  });
}

Result Plugin::Delete(const std::string& remote) {
  return Bracketed(ParentOf(remote), 8, [&] {
    std::u16string r = ToWide(remote);
    return static_cast<int>(FDeleteFile(r.data()));
  });
}

Result Plugin::MkDir(const std::string& path) {
  return Bracketed(ParentOf(path), 10, [&] {
    std::u16string r = ToWide(path);
    return static_cast<int>(FMkDir(r.data()));
  });
}

Result Plugin::RmDir(const std::string& path) {
  return Bracketed(ParentOf(path), 8, [&] {
    std::u16string r = ToWide(path);
    return static_cast<int>(FRemoveDir(r.data()));
  });
}

Result Plugin::RenMov(const std::string& from, const std::string& to, bool move, bool overwrite) {
  return Bracketed(ParentOf(from), 6, [&] {
    std::u16string f = ToWide(from), t = ToWide(to);
    RemoteInfoStruct ri{};
    return FRenMov(f.data(), t.data(), move ? kTrue : kFalse, overwrite ? kTrue : kFalse, &ri);
  });
}

std::vector<Result> Plugin::RenMovMany(const std::string& fromDir, const std::vector<std::string>& names,
                                       const std::string& toDir, bool move, bool overwrite) {
  return Many(fromDir, 7 /* rename/move multi */, names, [&](const std::string& name) {
    std::u16string f = ToWide(Joined(fromDir, name)), t = ToWide(Joined(toDir, name));
    RemoteInfoStruct ri{};
    return FRenMov(f.data(), t.data(), move ? kTrue : kFalse, overwrite ? kTrue : kFalse, &ri);
  });
}

namespace {
constexpr uint32_t kAttributeFolder = 0x10;
}  // namespace

bool Plugin::IsFolder(const std::string& path) {
  const std::string name = path.substr(path.find_last_of('/') + 1);
  for (const Entry& e : List(ParentOf(path)))
    if (e.Name == name) return (e.Attributes & kAttributeFolder) != 0;
  return false;
}

std::vector<std::pair<std::string, Result>> Plugin::RenMovTree(const std::string& from, const std::string& to,
                                                               bool move, bool overwrite) {
  struct Item {
    std::string Relative;
    bool Folder;
  };
  std::vector<Item> items;
  std::vector<std::string> pending = {""};
  for (std::size_t i = 0; i < pending.size(); ++i) {
    const std::string relative = pending[i];
    for (const Entry& e : List(from + relative)) {
      const bool folder = (e.Attributes & kAttributeFolder) != 0;
      items.push_back({relative + "/" + e.Name, folder});
      if (folder) pending.push_back(relative + "/" + e.Name);
    }
  }
  std::vector<std::pair<std::string, Result>> results;
  auto record = [&](const std::string& path, int code) {
    results.push_back({path, Result{code, errno, {}}});
  };
  const std::string dir = ParentOf(from);
  Status(dir, true, 7 /* rename/move multi */);
  errno = 0;
  std::u16string target = ToWide(to);
  record(to, static_cast<int>(FMkDir(target.data())));
  for (const Item& item : items) {
    errno = 0;
    std::u16string f = ToWide(from + item.Relative), t = ToWide(to + item.Relative);
    if (item.Folder) {
      record(to + item.Relative, static_cast<int>(FMkDir(t.data())));
    } else {
      RemoteInfoStruct ri{};
      record(from + item.Relative, FRenMov(f.data(), t.data(), move ? kTrue : kFalse, overwrite ? kTrue : kFalse, &ri));
    }
  }
  if (move) {
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
      if (!it->Folder) continue;
      errno = 0;
      std::u16string f = ToWide(from + it->Relative);
      record(from + it->Relative, static_cast<int>(FRemoveDir(f.data())));
    }
    errno = 0;
    std::u16string f = ToWide(from);
    record(from, static_cast<int>(FRemoveDir(f.data())));
  }
  Status(dir, false, 7);
  return results;
}

Result Plugin::Exec(const std::string& verb, const std::string& path, std::string* newPath, uintptr_t mainWindow) {
  std::u16string buffer(kMaxPath + 1, u'\0');
  const std::u16string w = ToWide(kof::CutToUtf16Units(path, kMaxPath - 1));
  std::copy(w.begin(), w.end(), buffer.begin());
  std::u16string v = ToWide(verb);
  errno = 0;
  Result r;
  r.Code = FExecute(reinterpret_cast<HWND>(mainWindow), buffer.data(), v.data());
  r.LastError = errno;
  r.Buffer = FromWide(buffer.data());
  if (newPath) {
    const std::string own = "wfx://" + RootName();
    const bool inPlugin = r.Buffer.rfind(own, 0) == 0 && (r.Buffer.size() == own.size() || r.Buffer[own.size()] == '/');
    *newPath = inPlugin ? r.Buffer.substr(own.size()) : r.Buffer;
    if (newPath->empty()) *newPath = "/";
  }
  return r;
}

Plugin::EditRoundTrip Plugin::OpenAndEdit(const std::string& remote,
                                          const std::function<void(const std::string&)>& edit) {
  namespace fs = std::filesystem;
  EditRoundTrip trip;
  Status(ParentOf(remote), true, 11 /* exec */);
  trip.Exec = Exec("open", remote);
  Status(ParentOf(remote), false, 11);
  if (trip.Exec.Code != FS_EXEC_YOURSELF) return trip;
  std::string folder = (fs::temp_directory_path() / "_wfx~~~XXXXXX").string();
  if (!mkdtemp(folder.data())) throw std::runtime_error("cannot create a temporary folder for the open");
  trip.Folder = folder;
  const auto slash = remote.find_last_of('/');
  trip.Local = folder + "/" + (slash == std::string::npos ? remote : remote.substr(slash + 1));
  trip.Get = Get(remote, trip.Local, 0);
  if (trip.Get->Code != FS_FILE_OK) return trip;
  std::error_code error;
  const auto stamp = [&] { return std::make_pair(fs::last_write_time(trip.Local, error), fs::file_size(trip.Local, error)); };
  const auto before = stamp();
  edit(trip.Local);
  if (stamp() != before) trip.Put = Put(trip.Local, remote, FS_COPYFLAGS_OVERWRITE);
  return trip;
}

std::string Plugin::RootName(int bufferSize) {
  std::vector<char> buf(static_cast<std::size_t>(bufferSize > 0 ? bufferSize : 1) + 8, '\x7f');
  FGetDefRootName(buf.data(), bufferSize);
  if (bufferSize <= 0) return {};
  return std::string(buf.data(), strnlen(buf.data(), static_cast<std::size_t>(bufferSize)));
}

bool Plugin::Disconnect(const std::string& root) {
  std::u16string r = ToWide(root);
  return FDisconnect(r.data()) != 0;
}

int Plugin::Icon(const std::string& path, int flags) {
  std::u16string r = ToWide(path);
  HICON icon = nullptr;
  return FExtractIcon(r.data(), flags, &icon);
}

void Plugin::Status(const std::string& dir, bool start, int operation) {
  std::u16string d = ToWide(dir);
  FStatusInfo(d.data(), start ? FS_STATUS_START : FS_STATUS_END, operation);
}

const std::vector<std::string>& ExportNames() {
  static const std::vector<std::string> names = {
      "FsDeleteFileW",  "FsDisconnectW",  "FsExecuteFileW",     "FsExtractCustomIconW",
      "FsFindClose",    "FsFindFirstW",   "FsFindNextW",        "FsGetDefRootName",
      "FsGetFileW",     "FsInitW",        "FsMkDirW",           "FsPutFileW",
      "FsRemoveDirW",   "FsRenMovFileW",  "FsSetDefaultParams", "FsStatusInfoW"};
  return names;
}

std::string RequestTypeName(int type) {
  static const char* names[] = {"Other",  "UserName", "Password", "Account", "UserNameFirewall", "PasswordFirewall",
                                "TargetDir", "URL",   "MsgOK",    "MsgYesNo", "MsgOKCancel"};
  return type >= 0 && type <= 10 ? names[type] : "Request" + std::to_string(type);
}

std::string FileResultName(int code) {
  static const char* names[] = {"FS_FILE_OK",        "FS_FILE_EXISTS",     "FS_FILE_NOTFOUND",    "FS_FILE_READERROR",
                                "FS_FILE_WRITEERROR", "FS_FILE_USERABORT", "FS_FILE_NOTSUPPORTED"};
  return code >= 0 && code <= 6 ? names[code] : std::to_string(code);
}

std::string ExecResultName(int code) {
  switch (code) {
    case FS_EXEC_OK: return "FS_EXEC_OK";
    case FS_EXEC_ERROR: return "FS_EXEC_ERROR";
    case FS_EXEC_YOURSELF: return "FS_EXEC_YOURSELF";
    case FS_EXEC_SYMLINK: return "FS_EXEC_SYMLINK";
    default: return std::to_string(code);
  }
}

std::string FormatEntry(const Entry& e) {
  char time[32] = "-";
  if (!(e.WriteTime.dwHighDateTime == 0xFFFFFFFFu && e.WriteTime.dwLowDateTime == 0xFFFFFFFEu)) {
    const uint64_t ft = (static_cast<uint64_t>(e.WriteTime.dwHighDateTime) << 32) | e.WriteTime.dwLowDateTime;
    const time_t unix = static_cast<time_t>(ft / 10000000ULL) - 11644473600LL;
    struct tm tmv;
    if (gmtime_r(&unix, &tmv)) strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S", &tmv);
  }
  char line[96];
  std::snprintf(line, sizeof line, "%08X %20llu %-19s ", e.Attributes, static_cast<unsigned long long>(e.Size), time);
  return line + e.Name;
}

}  // namespace wfxhost
