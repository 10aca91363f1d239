#pragma once
// Password services: generated passwords and access codes, the strength
// verdict, an invited user's first password, the passwords of managed
// stations and agents and their tickets, agent configurations, the about page.
#include <httplib.h>

namespace kof::testserver {

struct TServerContext;

void RegisterPasswordRoutes(httplib::Server& server, TServerContext& ctx);

// An OPTIONS request's body, which the HTTP library leaves unread on the
// connection, read into the request so that routes (and the capture) see it.
void ReadOptionsBody(const httplib::Request& req);

}  // namespace kof::testserver
