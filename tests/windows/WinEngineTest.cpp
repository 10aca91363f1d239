// The Windows plugin carries its TLS engine inside: the library checks find it
// working without a library file, and name it for the user as what it is.
#include <gtest/gtest.h>

#include <string>

#include "client/KofClients.h"

namespace kof {
namespace {

TEST(WinEngines, TheLinkedTLSEnginePassesTheLibraryChecks) {
  EXPECT_TRUE(TKofClient::CheckSSL("", false));
  for (const auto& [what, prefix] : {std::pair{1, "libcrypto 3."}, std::pair{2, "libssl 3."}}) {
    std::string name;
    EXPECT_EQ(TKofClient::CheckSSLLib(what, name), 0) << name;
    EXPECT_EQ(name.rfind(prefix, 0), 0u) << name;
    EXPECT_TRUE(name.ends_with(" (static)")) << name;
  }
}

}  // namespace
}  // namespace kof
