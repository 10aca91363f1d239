#pragma once
// Results on their way up to the exports, as values. An inner function says
// what the host is to read (its code and the host's last error) in what it
// returns; the export alone calls SetLastError, so a request, file I/O or a
// host callback that ran in between cannot change what the host reads.
#include <optional>
#include <string>

#include "plugin/PluginKofTypes5.h"
#include "plugin/WfxAbi.h"

namespace kof {

template <class T>
struct TOutcome {
  T Value{};
  int LastError = wfx::ERROR_SUCCESS;
};

using TFindOutcome = TOutcome<TFindHandle>;  // kNoHandle with ERROR_NO_MORE_FILES when nothing is listed
using TCodeOutcome = TOutcome<int>;          // an FS_FILE_* or FS_EXEC_* code
using TDoneOutcome = TOutcome<bool>;

// Why the server could not be read: what the user is told once when a listing fails.
struct TKofFailure {
  std::string Title;
  std::string Message;
};

// A step that reads the server: a walk of the level stack to a folder (Ok:
// the folder was reached), or the read of a level (Ok: it was read).
struct TKofStep {
  bool Ok = false;
  // Why the server failed, on the way or when the folder itself was read.
  std::optional<TKofFailure> Failure = std::nullopt;
};

// A listing's first entry.
struct TKofListing {
  TFindHandle Handle = kNoHandle;
  std::optional<TKofFailure> Failure = std::nullopt;
};

}  // namespace kof
