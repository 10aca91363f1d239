// Where an external file's stored path is reached on Windows: drives and
// shares are reachable here, as are the host's paths with backslashes.
#include <gtest/gtest.h>

#include "extfiles/KofUtils.h"

namespace kof {
namespace {

TEST(WinStoredPath, DrivesAndSharesAreReachableRelativeAndParentStepsAreNot) {
  TExtSubstitutions rules;
  AddSubstitutionsFromText(rules, "subst \\\\storage\\vault Z:\\mnt\\vault\n");
  const struct {
    const char* Stored;
    const char* Local;
  } cases[] = {
      {R"(\\storage\vault\box12\a.bin)", "Z:/mnt/vault/box12/a.bin"},
      {R"(\\other\share\a.bin)", "//other/share/a.bin"},
      {R"(X:\vault\a.bin)", "X:/vault/a.bin"},
      {R"(\\storage\vault\..\..\Users\u\a.txt)", ""},
      {R"(\mnt\local\a.bin)", ""},  // no drive: not a place of its own
      {"relative\\a.bin", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(LocalStoredPath(rules, c.Stored), c.Local) << c.Stored;
  for (const char* local : {R"(C:\Users\u\Temp\a.bin)", "C:/a", R"(\\server\share\a)"})
    EXPECT_TRUE(IsLocalStoredPath(local)) << local;
  for (const char* other : {"/tmp/a", R"(\\\a)", "C:a", "a\\b", ""}) EXPECT_FALSE(IsLocalStoredPath(other)) << other;
}

}  // namespace
}  // namespace kof
