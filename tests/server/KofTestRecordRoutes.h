#pragma once
// Records: listing, reading with secrets, adding, updating, passwords, file
// upload and download, deleting, and search.
#include <httplib.h>

namespace kof::testserver {

struct TServerContext;
void RegisterRecordRoutes(httplib::Server& server, TServerContext& ctx);

}  // namespace kof::testserver
