// The library's face to the host: the sixteen file-system exports and the two of the
// extension interface. Each converts the host's
// UTF-16 arguments, runs under the plugin lock on the one plugin object of the
// process, and never lets an exception reach the host.
#include <cstring>
#include <exception>
#include <memory>
#include <utility>

#include "platform/KofIcons.h"
#include "platform/KofLastError.h"
#include "platform/KofModulePath.h"
#include "plugin/KofDialogPrompts.h"
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

// Runs one export on the plugin object under the plugin lock, the one place a
// host call takes it. Each lambda starts by asserting it, which is what tells
// clang's analysis that the lambda runs under it.
template <class Fn, class R>
R Guarded(R onError, Fn&& fn) {
  try {
    if (!gPlugin) return onError;
    TTotalCmdKofPlugin& plugin = *gPlugin;
    TKofHold hold(plugin.Lock());
    plugin.DeliverClipboardNotice();
    return fn(plugin);
  } catch (...) {
    return onError;
  }
}

// Sets the host's last error from the outcome the operation returned (or from
// the failure it stands for when it raised), after everything else ran.
template <class T, class Fn>
T Answered(TOutcome<T> onError, Fn&& fn) {
  const TOutcome<T> outcome = Guarded(onError, std::forward<Fn>(fn));
  SetLastError(outcome.LastError);
  return outcome.Value;
}

template <class T>
TOutcome<T> Refused(T value) {
  return {value, ERROR_ACCESS_DENIED};
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
    p.Lock().AssertHeld();
    p.SetNumber(PluginNr);
    p.SetProcedures({pProgressProc, pLogProc, pRequestProc});
    return p.Init(OwnModuleFileName()) ? 0 : -1;
  });
}

KOF_EXPORT HANDLE FsFindFirstW(WCHAR* Path, WIN32_FIND_DATAW* FindData) {
  // The host reads an empty or failed listing from this code alone.
  const TFindOutcome nothing{kNoHandle, ERROR_NO_MORE_FILES};
  if (!FindData) {
    SetLastError(nothing.LastError);
    return kInvalidHandle;
  }
  const TFindHandle found = Answered(nothing, [&](TTotalCmdKofPlugin& p) {
    p.Lock().AssertHeld();
    const TFindOutcome listed = p.FindFirst(0, TKofHostPath::FromHost(Path, THostRole::Source), *FindData);
    return listed.Value == kNoHandle ? nothing : listed;
  });
  return found == kNoHandle ? kInvalidHandle : ToHostHandle(found);
}

KOF_EXPORT BOOL FsFindNextW(HANDLE Hdl, WIN32_FIND_DATAW* FindData) {
  if (!FindData) return kFalse;
  return Guarded(kFalse, [&](TTotalCmdKofPlugin& p) {
    p.Lock().AssertHeld();
    return p.FindNext(FromHostHandle(Hdl), *FindData) ? kTrue : kFalse;
  });
}

KOF_EXPORT int FsFindClose(HANDLE Hdl) {
  return Guarded(0, [&](TTotalCmdKofPlugin& p) {
    p.Lock().AssertHeld();
    return p.FindClose(FromHostHandle(Hdl));
  });
}

KOF_EXPORT int FsGetFileW(WCHAR* RemoteName, WCHAR* LocalName, int CopyFlags, RemoteInfoStruct* ri) {
  return Answered(TCodeOutcome{FS_FILE_READERROR}, [&](TTotalCmdKofPlugin& p) {
    p.Lock().AssertHeld();
    return p.GetFile(0, TKofHostPath::FromHost(RemoteName, THostRole::Source), HostToLocalPath(LocalName), CopyFlags,
                     ri);
  });
}

KOF_EXPORT int FsPutFileW(WCHAR* LocalName, WCHAR* RemoteName, int CopyFlags) {
  return Answered(TCodeOutcome{FS_FILE_WRITEERROR}, [&](TTotalCmdKofPlugin& p) {
    p.Lock().AssertHeld();
    if (RejectHostName(p, RemoteName)) return Refused<int>(FS_FILE_WRITEERROR);
    return p.PutFile(0, HostToLocalPath(LocalName), TKofHostPath::FromHost(RemoteName, THostRole::Target), CopyFlags);
  });
}

KOF_EXPORT BOOL FsDeleteFileW(WCHAR* RemoteName) {
  return Answered(TDoneOutcome{false}, [&](TTotalCmdKofPlugin& p) {
    p.Lock().AssertHeld();
    return p.DeleteFile(0, TKofHostPath::FromHost(RemoteName, THostRole::Source));
  }) ? kTrue : kFalse;
}

KOF_EXPORT BOOL FsMkDirW(WCHAR* Path) {
  return Answered(TDoneOutcome{false}, [&](TTotalCmdKofPlugin& p) {
    p.Lock().AssertHeld();
    if (RejectHostName(p, Path)) return Refused(false);
    return p.MakeDirectory(0, TKofHostPath::FromHost(Path, THostRole::Source));
  }) ? kTrue : kFalse;
}

KOF_EXPORT BOOL FsRemoveDirW(WCHAR* RemoteName) {
  return Answered(TDoneOutcome{false}, [&](TTotalCmdKofPlugin& p) {
    p.Lock().AssertHeld();
    return p.RemoveDir(0, TKofHostPath::FromHost(RemoteName, THostRole::Source));
  }) ? kTrue : kFalse;
}

KOF_EXPORT int FsRenMovFileW(WCHAR* OldName, WCHAR* NewName, BOOL Move, BOOL OverWrite, RemoteInfoStruct* ri) {
  return Answered(TCodeOutcome{FS_FILE_WRITEERROR}, [&](TTotalCmdKofPlugin& p) {
    p.Lock().AssertHeld();
    if (RejectHostName(p, NewName)) return Refused<int>(FS_FILE_WRITEERROR);
    return p.RenMovFile(TKofHostPath::FromHost(OldName, THostRole::Source),
                        TKofHostPath::FromHost(NewName, THostRole::Target), Move != 0, OverWrite != 0, ri);
  });
}

KOF_EXPORT int FsExecuteFileW(HWND MainWin, WCHAR* RemoteName, WCHAR* Verb) {
  return Answered(TCodeOutcome{FS_EXEC_ERROR}, [&](TTotalCmdKofPlugin& p) {
    p.Lock().AssertHeld();
    const std::string verb = Verb ? Utf16ToUtf8(std::u16string_view(Verb, Utf16Length(Verb, 4096))) : std::string();
    const TKofHostPath remote = TKofHostPath::FromHost(RemoteName, THostRole::Source);
    bool known;
    const TVerbType vt = ParseVerb(verb, known);
    if (!known) {
      if ((verb.rfind("MODE I", 0) == 0 || verb.rfind("MODE A", 0) == 0) && remote.Full().empty())
        p.SetMainHandle(reinterpret_cast<uintptr_t>(MainWin));
      return TCodeOutcome{FS_EXEC_OK};
    }
    std::string newRemote;
    const uintptr_t window = reinterpret_cast<uintptr_t>(MainWin);
    const TCodeOutcome result = vt == vtCmdLine
                                    ? p.ExecuteCommandLine(window, remote, std::string_view(verb).substr(5), newRemote)
                                    : p.Execute(window, remote, vt, newRemote);
    if (result.Value == FS_EXEC_SYMLINK && RemoteName)
      PluginToHostLink(newRemote, p.RootName(), RemoteName, kMaxPath);
    return result;
  });
}

KOF_EXPORT void FsSetDefaultParams(FsDefaultParamStruct* dps) {
  if (!dps) return;
  Guarded(0, [&](TTotalCmdKofPlugin& p) {
    p.Lock().AssertHeld();
    p.SetVersion({static_cast<int>(dps->PluginInterfaceVersionHi), static_cast<int>(dps->PluginInterfaceVersionLow)});
    return 0;
  });
}

KOF_EXPORT void FsGetDefRootName(char* DefRootName, int maxlen) {
  if (!DefRootName || maxlen <= 0) return;
  Guarded(0, [&](TTotalCmdKofPlugin& p) {
    p.Lock().AssertHeld();
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
    p.Lock().AssertHeld();
    if (InfoOperation < fsoNone || InfoOperation > fsoPutMultiThread) return 0;
    p.StatusInfo(TKofHostPath::FromHost(RemoteDir, THostRole::Source), static_cast<TFileSysStatus>(InfoOperation),
                 InfoStartEnd == FS_STATUS_START);
    return 0;
  });
}

KOF_EXPORT int FsExtractCustomIconW(WCHAR* RemoteName, int ExtractFlags, HICON* TheIcon) {
  return Guarded(static_cast<int>(FS_ICON_USEDEFAULT), [&](TTotalCmdKofPlugin& p) {
    p.Lock().AssertHeld();
    if (TheIcon) *TheIcon = nullptr;
    const std::string name = p.IconName(TKofHostPath::FromHost(RemoteName, THostRole::Source), ExtractFlags);
    void* icon = name.empty() ? nullptr : IconSource().Load(name, (ExtractFlags & FS_ICONFLAG_SMALL) == 0);
    if (!icon) return static_cast<int>(FS_ICON_USEDEFAULT);
    if (TheIcon) *TheIcon = static_cast<HICON>(icon);
    return static_cast<int>(FS_ICON_EXTRACTED);
  });
}

// The host offers its dialogs: from now on the questions are the plugin's own
// dialogs. Called on every initialisation, the first time before FsInitW.
KOF_EXPORT void ExtensionInitialize(tExtensionStartupInfo* StartupInfo) {
  const TKofExtension extension = TKofExtension::FromHost(StartupInfo);
  Guarded(0, [&](TTotalCmdKofPlugin& p) {
    p.Lock().AssertHeld();
    if (extension.Usable())
      p.SetPrompts(std::make_unique<TKofDialogPrompts>(p, extension));
    else
      p.SetPrompts(std::make_unique<TKofRequestPrompts>(p));
    return 0;
  });
}

KOF_EXPORT void ExtensionFinalize(void*) {
  Guarded(0, [&](TTotalCmdKofPlugin& p) {
    p.Lock().AssertHeld();
    p.SetPrompts(std::make_unique<TKofRequestPrompts>(p));
    return 0;
  });
}
