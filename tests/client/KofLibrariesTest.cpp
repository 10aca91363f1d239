#include <gtest/gtest.h>

#include "client/KofLibraries.h"

namespace kof {
namespace {

TEST(LibraryPath, SetOnceUnlessForced) {
  auto& path = TLibraryPathSingleton::Instance();
  path.SetDirectory("/opt/koffra", true);
  EXPECT_EQ(path.Directory(), "/opt/koffra/");
  path.SetDirectory("/elsewhere", false);
  EXPECT_EQ(path.Directory(), "/opt/koffra/");
  path.SetDirectory("", true);
  EXPECT_EQ(path.Directory(), ModuleDirectory());
  EXPECT_TRUE(path.Directory().ends_with('/'));
}

}  // namespace
}  // namespace kof
