#pragma once
// "wfxhost vault ...": the server's password services from a terminal,
// through the client library itself rather than through a plugin.
#include <iosfwd>

namespace wfxhost {

// AArgs are the words after "vault". Secrets come from AIn, one a line;
// results go to AOut and failures to AErr. 0 on success, 1 when the server
// or the connection failed, 2 for a wrong command line.
int RunVault(int AArgc, char** AArgs, std::istream& AIn, std::ostream& AOut, std::ostream& AErr);

}  // namespace wfxhost
