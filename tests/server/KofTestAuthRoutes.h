#pragma once
// Server status, message catalogues, login, login status, user configuration,
// access code changes and the second factor.
#include <httplib.h>

namespace kof::testserver {

struct TServerContext;
void RegisterAuthRoutes(httplib::Server& server, TServerContext& ctx);

}  // namespace kof::testserver
