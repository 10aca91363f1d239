#pragma once
// The file-system plugin interface of the host, declared with fixed-width types
// so that one header serves Linux and Windows. On Linux the host passes UTF-16
// strings (one char16_t per unit), 32-bit DWORD and BOOL, pointer-sized handles.
#include <cstddef>
#include <cstdint>

// Marks one of the host functions the library exports. On Windows Koffra5.def
// alone names the exports (the sixteen of the file system: the extension
// interface is Double Commander's); elsewhere the default visibility makes it
// public, and the version script Koffra5.map keeps everything else local.
#if defined(_WIN32)
#define KOF_EXPORT extern "C"
#elif defined(__GNUC__) || defined(__clang__)
#define KOF_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define KOF_EXPORT extern "C"
#endif

namespace wfx {

using WCHAR = char16_t;
using DWORD = uint32_t;
using BOOL = int32_t;
using HANDLE = void*;
using HWND = void*;
using HICON = void*;

constexpr BOOL kTrue = -1;  // what the plugin answers for TRUE (any non-zero reads as true)
constexpr BOOL kFalse = 0;
constexpr int kMaxPath = 260;
const HANDLE kInvalidHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[kMaxPath];
  WCHAR cAlternateFileName[14];
};

struct RemoteInfoStruct {
  DWORD SizeLow;
  DWORD SizeHigh;
  FILETIME LastWriteTime;
  int32_t Attr;
};

struct FsDefaultParamStruct {
  int32_t size;
  DWORD PluginInterfaceVersionLow;
  DWORD PluginInterfaceVersionHi;
  char DefaultIniName[kMaxPath];
};

static_assert(sizeof(FILETIME) == 8);
static_assert(sizeof(WIN32_FIND_DATAW) == 592);
static_assert(offsetof(WIN32_FIND_DATAW, ftCreationTime) == 4);
static_assert(offsetof(WIN32_FIND_DATAW, nFileSizeHigh) == 28);
static_assert(offsetof(WIN32_FIND_DATAW, dwReserved0) == 36);
static_assert(offsetof(WIN32_FIND_DATAW, cFileName) == 44);
static_assert(offsetof(WIN32_FIND_DATAW, cAlternateFileName) == 564);
static_assert(sizeof(RemoteInfoStruct) == 20);
static_assert(sizeof(FsDefaultParamStruct) == 272);
static_assert(sizeof(HANDLE) == sizeof(uintptr_t));

extern "C" {
using tProgressProcW = int (*)(int PluginNr, WCHAR* SourceName, WCHAR* TargetName, int PercentDone);
using tLogProcW = void (*)(int PluginNr, int MsgType, WCHAR* LogString);
using tRequestProcW = BOOL (*)(int PluginNr, int RequestType, WCHAR* CustomTitle, WCHAR* CustomText,
                               WCHAR* ReturnedText, int maxlen);
}

// Request types of RequestProc.
enum RequestType : int {
  RT_Other = 0,
  RT_UserName = 1,
  RT_Password = 2,
  RT_Account = 3,
  RT_UserNameFirewall = 4,
  RT_PasswordFirewall = 5,
  RT_TargetDir = 6,
  RT_URL = 7,
  RT_MsgOK = 8,
  RT_MsgYesNo = 9,
  RT_MsgOKCancel = 10,
};

enum FileResult : int {
  FS_FILE_OK = 0,
  FS_FILE_EXISTS = 1,
  FS_FILE_NOTFOUND = 2,
  FS_FILE_READERROR = 3,
  FS_FILE_WRITEERROR = 4,
  FS_FILE_USERABORT = 5,
  FS_FILE_NOTSUPPORTED = 6,
};

enum ExecResult : int {
  FS_EXEC_OK = 0,
  FS_EXEC_ERROR = 1,
  FS_EXEC_YOURSELF = -1,
  FS_EXEC_SYMLINK = -2,
};

enum CopyFlags : int {
  FS_COPYFLAGS_OVERWRITE = 1,
  FS_COPYFLAGS_RESUME = 2,
  FS_COPYFLAGS_MOVE = 4,
};

enum IconResult : int {
  FS_ICON_USEDEFAULT = 0,
  FS_ICON_EXTRACTED = 1,
  FS_ICON_EXTRACTED_DESTROY = 2,
  FS_ICON_DELAYED = 3,
};

enum IconFlags : int {
  FS_ICONFLAG_SMALL = 1,
  FS_ICONFLAG_BACKGROUND = 2,
};

enum StatusInfo : int {
  FS_STATUS_START = 0,
  FS_STATUS_END = 1,
};

// The numeric "last error" codes of the host; on Linux they travel in errno.
enum LastError : int {
  ERROR_SUCCESS = 0,
  ERROR_PATH_NOT_FOUND = 3,
  ERROR_ACCESS_DENIED = 5,
  ERROR_NO_MORE_FILES = 18,
  ERROR_WRITE_PROTECT = 19,
  ERROR_WRITE_FAULT = 29,
  ERROR_READ_FAULT = 30,
  ERROR_INVALID_LEVEL = 124,
  ERROR_CANCELLED = 1223,
};

// ---- The host's extension interface (dialogs). Strings are UTF-8.

constexpr int kExtMaxPath = 16384;

extern "C" {
using tDlgProc = intptr_t (*)(uintptr_t pDlg, char* DlgItemName, intptr_t Msg, intptr_t wParam, intptr_t lParam);
using tInputBoxProc = BOOL (*)(char* Caption, char* Prompt, BOOL MaskInput, char* Value, int ValueMaxLen);
using tMessageBoxProc = int32_t (*)(char* Text, char* Caption, int32_t Flags);
using tDialogBoxLFMProc = BOOL (*)(void* LFMData, uint32_t DataSize, tDlgProc DlgProc);
using tDialogBoxLRSProc = BOOL (*)(void* LRSData, uint32_t DataSize, tDlgProc DlgProc);
using tDialogBoxLFMFileProc = BOOL (*)(char* LFMFileName, tDlgProc DlgProc);
}

#pragma pack(push, 1)
struct tExtensionStartupInfo {
  uint32_t StructSize;
  char PluginDir[kExtMaxPath];
  char PluginConfDir[kExtMaxPath];
  tInputBoxProc InputBox;
  tMessageBoxProc MessageBox;
  tDialogBoxLFMProc DialogBoxLFM;
  tDialogBoxLRSProc DialogBoxLRS;
  tDialogBoxLFMFileProc DialogBoxLFMFile;
  tDlgProc SendDlgMsg;
  unsigned char Reserved[4096 * sizeof(void*)];
};
#pragma pack(pop)

static_assert(offsetof(tExtensionStartupInfo, PluginDir) == 4);
static_assert(offsetof(tExtensionStartupInfo, PluginConfDir) == 4 + kExtMaxPath);
static_assert(offsetof(tExtensionStartupInfo, InputBox) == 4 + 2 * kExtMaxPath);
static_assert(offsetof(tExtensionStartupInfo, MessageBox) == 4 + 2 * kExtMaxPath + sizeof(void*));
static_assert(offsetof(tExtensionStartupInfo, DialogBoxLFM) == 4 + 2 * kExtMaxPath + 2 * sizeof(void*));
static_assert(offsetof(tExtensionStartupInfo, SendDlgMsg) == 4 + 2 * kExtMaxPath + 5 * sizeof(void*));
static_assert(sizeof(tExtensionStartupInfo) == 4 + 2 * kExtMaxPath + 4102 * sizeof(void*));
static_assert(sizeof(void*) != 8 || sizeof(tExtensionStartupInfo) == 65588);

// Messages of SendDlgMsg (DM_*) and of the dialog callback (DN_*).
enum DialogMessage : intptr_t {
  DM_CLOSE = 1,
  DM_ENABLE = 2,
  DM_GETTEXT = 6,
  DM_KEYDOWN = 7,
  DM_SETFOCUS = 10,
  DM_REDRAW = 11,
  DM_SETTEXT = 12,
  DM_SETMAXTEXTLENGTH = 13,
  DM_SHOWITEM = 15,
  DM_GETCHECK = 16,
  DM_SETCHECK = 17,
  DM_LISTGETITEMINDEX = 19,
  DM_LISTSETITEMINDEX = 20,
  DM_LISTADDSTR = 23,
  DN_CLICK = 0x1001,
  DN_DBLCLICK = 0x1002,
  DN_CHANGE = 0x1003,
  DN_GOTFOCUS = 0x1004,
  DN_INITDIALOG = 0x1005,
  DN_KILLFOCUS = 0x1006,
  DN_KEYDOWN = DM_KEYDOWN,
};

// The sixteen exports, as the host resolves them, and the two of the extension interface.
extern "C" {
using FsInitW_t = int (*)(int, tProgressProcW, tLogProcW, tRequestProcW);
using FsFindFirstW_t = HANDLE (*)(WCHAR*, WIN32_FIND_DATAW*);
using FsFindNextW_t = BOOL (*)(HANDLE, WIN32_FIND_DATAW*);
using FsFindClose_t = int (*)(HANDLE);
using FsGetFileW_t = int (*)(WCHAR*, WCHAR*, int, RemoteInfoStruct*);
using FsPutFileW_t = int (*)(WCHAR*, WCHAR*, int);
using FsDeleteFileW_t = BOOL (*)(WCHAR*);
using FsMkDirW_t = BOOL (*)(WCHAR*);
using FsRemoveDirW_t = BOOL (*)(WCHAR*);
using FsRenMovFileW_t = int (*)(WCHAR*, WCHAR*, BOOL, BOOL, RemoteInfoStruct*);
using FsExecuteFileW_t = int (*)(HWND, WCHAR*, WCHAR*);
using FsSetDefaultParams_t = void (*)(FsDefaultParamStruct*);
using FsGetDefRootName_t = void (*)(char*, int);
using FsDisconnectW_t = BOOL (*)(WCHAR*);
using FsStatusInfoW_t = void (*)(WCHAR*, int, int);
using FsExtractCustomIconW_t = int (*)(WCHAR*, int, HICON*);
using ExtensionInitialize_t = void (*)(tExtensionStartupInfo*);
using ExtensionFinalize_t = void (*)(void*);
}

}  // namespace wfx
