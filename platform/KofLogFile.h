#pragma once
// The diagnostic log's file: appended to, created private (0600), never
// through a link; each line written through at once. Entries are stamped with
// the local time of Clock().
#include <memory>
#include <string>

#include "support/KofDebug.h"

namespace kof {

struct TLogFileOpen {
  std::unique_ptr<TKofLogWriter> Writer;
  int Error = 0;  // errno when there is no writer
};

TLogFileOpen OpenLogFile(const std::string& path);

}  // namespace kof
