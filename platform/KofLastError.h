#pragma once
// The host's per-thread "last error". On Linux the host reads it from errno,
// with the numeric codes of the host's own platform.
namespace kof {

void SetLastError(int code);
int GetLastError();

}  // namespace kof
