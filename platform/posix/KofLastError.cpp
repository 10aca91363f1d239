#include "platform/KofLastError.h"

#include <cerrno>

namespace kof {

void SetLastError(int code) { errno = code; }
int GetLastError() { return errno; }

}  // namespace kof
