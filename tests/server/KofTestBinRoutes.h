#pragma once
// The bin: deleted boxes and records, restoring and purging them.
#include <httplib.h>

namespace kof::testserver {

struct TServerContext;
void RegisterBinRoutes(httplib::Server& server, TServerContext& ctx);

}  // namespace kof::testserver
