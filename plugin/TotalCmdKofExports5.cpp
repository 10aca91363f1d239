// The library's face to the host: the sixteen exports. Each converts the host's
// UTF-16 arguments, runs under the plugin lock on the one plugin object of the
// process, and never lets an exception reach the host.
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>

#include "platform/KofLastError.h"
#include "platform/KofModulePath.h"
#include "plugin/KofHostPaths.h"
#include "plugin/TotalCmdKofExports5.h"
#include "plugin/TotalCmdKofClasses5.h"
#include "plugin/TotalCmdKofCommon5.h"
#include "plugin/WfxAbi.h"
#include "support/KofText.h"

using namespace wfx;

namespace kof {
namespace {

// One plugin object per process: the host may call transfers from a worker
// thread, where a per-thread object would be missing.
std::unique_ptr<TTotalCmdKofPlugin> gPlugin = std::make_unique<TTotalCmdKofPlugin>(plugTotalCmd, 0);

template <class Fn, class R>
R Guarded(R onError, Fn&& fn) {
  try {
    if (!gPlugin) return onError;
    std::lock_guard guard(gPlugin->Lock());
    gPlugin->DeliverClipboardNotice();
    return fn(*gPlugin);
  } catch (...) {
    return onError;
  }
}

TVerbType ParseVerb(const std::string& verb, bool& known) {
  known = true;
  if (SameText(verb, "open")) return vtOpen;
  if (SameText(verb, "properties")) return vtProperties;
  if (SameText(verb.substr(0, 5), "quote")) return vtCmdLine;
  known = false;
  return vtChangeMod;
}

HANDLE ToHostHandle(TFindHandle h) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(h)); }
TFindHandle FromHostHandle(HANDLE h) { return static_cast<TFindHandle>(reinterpret_cast<uintptr_t>(h)); }

}  // namespace

void LoadLinkedPlugin() {
  gPlugin.reset();
  gPlugin = std::make_unique<TTotalCmdKofPlugin>(plugTotalCmd, 0);
}

void UnloadLinkedPlugin() { gPlugin.reset(); }

}  // namespace kof

using namespace kof;

KOF_EXPORT int FsInitW(int PluginNr, tProgressProcW pProgressProc, tLogProcW pLogProc, tRequestProcW pRequestProc) {
  return Guarded(-1, [&](TTotalCmdKofPlugin& p) {
    p.SetNumber(PluginNr);
    p.SetProcedures({pProgressProc, pLogProc, pRequestProc});
    return p.Init(OwnModuleFileName()) ? 0 : -1;
  });
}

KOF_EXPORT HANDLE FsFindFirstW(WCHAR* Path, WIN32_FIND_DATAW* FindData) {
  if (!FindData) return kInvalidHandle;
  HANDLE h = Guarded(kInvalidHandle, [&](TTotalCmdKofPlugin& p) {
    const TFindHandle found = p.FindFirst(0, HostToPluginPath(Path), *FindData);
    return found == kNoHandle ? kInvalidHandle : ToHostHandle(found);
  });
  // The host reads an empty or failed listing from this code alone.
  if (h == kInvalidHandle) SetLastError(ERROR_NO_MORE_FILES);
  return h;
}

KOF_EXPORT BOOL FsFindNextW(HANDLE Hdl, WIN32_FIND_DATAW* FindData) {
  if (!FindData) return kFalse;
  return Guarded(kFalse, [&](TTotalCmdKofPlugin& p) { return p.FindNext(FromHostHandle(Hdl), *FindData) ? kTrue : kFalse; });
}

KOF_EXPORT int FsFindClose(HANDLE Hdl) {
  return Guarded(0, [&](TTotalCmdKofPlugin& p) { return p.FindClose(FromHostHandle(Hdl)); });
}

KOF_EXPORT int FsGetFileW(WCHAR* RemoteName, WCHAR* LocalName, int CopyFlags, RemoteInfoStruct* ri) {
  return Guarded(static_cast<int>(FS_FILE_READERROR), [&](TTotalCmdKofPlugin& p) {
    return p.GetFile(0, HostToPluginPath(RemoteName), HostToLocalPath(LocalName), CopyFlags, ri);
  });
}

KOF_EXPORT int FsPutFileW(WCHAR* LocalName, WCHAR* RemoteName, int CopyFlags) {
  return Guarded(static_cast<int>(FS_FILE_WRITEERROR), [&](TTotalCmdKofPlugin& p) {
    if (RejectHostName(p, RemoteName)) return static_cast<int>(FS_FILE_WRITEERROR);
    return p.PutFile(0, HostToLocalPath(LocalName), HostToPluginPath(RemoteName), CopyFlags);
  });
}

KOF_EXPORT BOOL FsDeleteFileW(WCHAR* RemoteName) {
  return Guarded(kFalse, [&](TTotalCmdKofPlugin& p) { return p.DeleteFile(0, HostToPluginPath(RemoteName)) ? kTrue : kFalse; });
}

KOF_EXPORT BOOL FsMkDirW(WCHAR* Path) {
  return Guarded(kFalse, [&](TTotalCmdKofPlugin& p) {
    if (RejectHostName(p, Path)) return kFalse;
    return p.MakeDirectory(0, HostToPluginPath(Path)) ? kTrue : kFalse;
  });
}

KOF_EXPORT BOOL FsRemoveDirW(WCHAR* RemoteName) {
  return Guarded(kFalse, [&](TTotalCmdKofPlugin& p) { return p.RemoveDir(0, HostToPluginPath(RemoteName)) ? kTrue : kFalse; });
}

KOF_EXPORT int FsRenMovFileW(WCHAR* OldName, WCHAR* NewName, BOOL Move, BOOL OverWrite, RemoteInfoStruct* ri) {
  return Guarded(static_cast<int>(FS_FILE_WRITEERROR), [&](TTotalCmdKofPlugin& p) {
    if (RejectHostName(p, NewName)) return static_cast<int>(FS_FILE_WRITEERROR);
    return p.RenMovFile(HostToPluginPath(OldName), HostToPluginPath(NewName), Move != 0, OverWrite != 0, ri);
  });
}

KOF_EXPORT int FsExecuteFileW(HWND MainWin, WCHAR* RemoteName, WCHAR* Verb) {
  return Guarded(static_cast<int>(FS_EXEC_ERROR), [&](TTotalCmdKofPlugin& p) {
    const std::string verb = Verb ? Utf16ToUtf8(std::u16string_view(Verb, Utf16Length(Verb, 4096))) : std::string();
    const std::string remote = HostToPluginPath(RemoteName);
    bool known;
    const TVerbType vt = ParseVerb(verb, known);
    if (!known) {
      if ((verb.rfind("MODE I", 0) == 0 || verb.rfind("MODE A", 0) == 0) && remote.empty())
        p.SetMainHandle(reinterpret_cast<uintptr_t>(MainWin));
      return static_cast<int>(FS_EXEC_OK);
    }
    std::string newRemote;
    const uintptr_t window = reinterpret_cast<uintptr_t>(MainWin);
    const int result = vt == vtCmdLine ? p.ExecuteCommandLine(window, remote, std::string_view(verb).substr(5), newRemote)
                                       : p.Execute(window, remote, vt, newRemote);
    if (result == FS_EXEC_SYMLINK && RemoteName) PluginToHostLink(newRemote, p.RootName(), RemoteName, kMaxPath);
    return result;
  });
}

KOF_EXPORT void FsSetDefaultParams(FsDefaultParamStruct* dps) {
  if (!dps) return;
  Guarded(0, [&](TTotalCmdKofPlugin& p) {
    p.SetVersion({static_cast<int>(dps->PluginInterfaceVersionHi), static_cast<int>(dps->PluginInterfaceVersionLow)});
    return 0;
  });
}

KOF_EXPORT void FsGetDefRootName(char* DefRootName, int maxlen) {
  if (!DefRootName || maxlen <= 0) return;
  Guarded(0, [&](TTotalCmdKofPlugin& p) {
    const std::string name = p.RootName();
    const std::size_t n = std::min(name.size(), static_cast<std::size_t>(maxlen - 1));
    std::memcpy(DefRootName, name.data(), n);
    DefRootName[n] = '\0';
    return 0;
  });
}

KOF_EXPORT BOOL FsDisconnectW(WCHAR*) { return kTrue; }

KOF_EXPORT void FsStatusInfoW(WCHAR* RemoteDir, int InfoStartEnd, int InfoOperation) {
  Guarded(0, [&](TTotalCmdKofPlugin& p) {
    if (InfoOperation < fsoNone || InfoOperation > fsoPutMultiThread) return 0;
    p.StatusInfo(HostToPluginPath(RemoteDir), static_cast<TFileSysStatus>(InfoOperation), InfoStartEnd == FS_STATUS_START);
    return 0;
  });
}

KOF_EXPORT int FsExtractCustomIconW(WCHAR* RemoteName, int ExtractFlags, HICON* TheIcon) {
  return Guarded(static_cast<int>(FS_ICON_USEDEFAULT), [&](TTotalCmdKofPlugin& p) {
    if (TheIcon) *TheIcon = nullptr;
    return p.GetIcon(HostToPluginPath(RemoteName), ExtractFlags);
  });
}
