#pragma once
// Safe boxes and groups, watch flags, tags, the file size limit and the
// parameters of external files.
#include <httplib.h>

namespace kof::testserver {

struct TServerContext;
void RegisterBoxRoutes(httplib::Server& server, TServerContext& ctx);

}  // namespace kof::testserver
