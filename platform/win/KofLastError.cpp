#include "platform/KofLastError.h"

#include "platform/win/KofWin.h"

namespace kof {

// The host reads the thread's Win32 error code after a failed call.
void SetLastError(int code) { ::SetLastError(static_cast<DWORD>(code)); }
int GetLastError() { return static_cast<int>(::GetLastError()); }

}  // namespace kof
