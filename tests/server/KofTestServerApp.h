#pragma once
// Starting, running and stopping the server.
#include "tests/server/KofTestOptions.h"

namespace kof::testserver {

// Runs until SIGTERM/SIGINT or, unless disabled, until standard input closes.
// Returns the process exit code; start-up failures are reported on stderr.
int RunServer(const TServerOptions& options);

}  // namespace kof::testserver
