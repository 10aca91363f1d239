#pragma once
// Host-independent kinds shared by the plugin object and its panels.
#include <cstdint>

namespace kof {

enum TPluginType { plugFAR, plugTotalCmd, plugSalamander, plugDoubleCmd, plugDokany };
enum TVerbType { vtOpen, vtProperties, vtChangeMod, vtCmdLine };
enum TSessionDlgAction { saNew, saModify, saView, saRename, saNewName, saDelete };
enum TFsStatus { fsInit, fsStarting, fsMounting, fsMounted, fsUnmounted };
enum TPluginKofLevel { fslSessions, fslRoot, fslBox, fslInGrp };

// One to one with the host's operation codes.
enum TFileSysStatus : int {
  fsoNone = 0,
  fsoList,
  fsoGetSingle,
  fsoGetMulti,
  fsoPutSingle,
  fsoPutMulti,
  fsoRenMovSingle,
  fsoRenMovMulti,
  fsoDelete,
  fsoAttrib,
  fsoMkDir,
  fsoExec,
  fsoCalcSize,
  fsoSearch,
  fsoSearchText,
  fsoSyncSearch,
  fsoSyncGet,
  fsoSyncPut,
  fsoSyncDelete,
  fsoGetMultiThread,
  fsoPutMultiThread,
};

// Mode bits of the panels' operations.
inline constexpr int kModeSilent = 0x1;  // listing and login steps show no error messages
inline constexpr int kModeSearching = 0x2;
inline constexpr int kModeSessionsDelete = 0x1000;  // delete in the sessions folder: no read, no login
inline constexpr int kModeFsNames = 0x2000;

struct TLoginOptions {
  // Put the panel at the session root after the login.
  bool GotoRoot = true;
  // Tell nothing about a failed login.
  bool Silent = false;
};

// Find handles as the plugin hands them out; kNoHandle is the host's invalid handle.
using TFindHandle = uint64_t;
constexpr TFindHandle kNoHandle = UINT64_MAX;
constexpr TFindHandle kMaxGlobalHandle = 1999999999999999ULL;
constexpr TFindHandle kGotoSessionsHandle = 2000000000000001ULL;

struct TcVersion {
  int VerMajor = 0;
  int VerMinor = 0;
};

}  // namespace kof
