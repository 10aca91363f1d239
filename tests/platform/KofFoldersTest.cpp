#include "platform/KofFolders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "tests/platform/KofTestConfigHome.h"

namespace kof {
namespace {

using test::TScopedEnv;

TEST(KofFolders, TemporaryFoldersComeFromTheEnvironmentOnceEach) {
  struct Case {
    std::optional<std::string> TmpDir, Temp, Tmp;
    std::vector<std::string> Expected;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, std::nullopt, {"/tmp/"}},
      {"/var/t", std::nullopt, std::nullopt, {"/var/t/"}},
      {"/var/t/", "/var/t", "/other", {"/var/t/", "/other/"}},
      {"", "/a", "", {"/tmp/", "/a/"}},
  };
  for (const Case& c : cases) {
    TScopedEnv tmpdir("TMPDIR", c.TmpDir), temp("TEMP", c.Temp), tmp("TMP", c.Tmp);
    EXPECT_EQ(TemporaryFolders(), c.Expected) << c.TmpDir.value_or("-");
  }
}

TEST(KofFolders, ApplicationDataFoldersFollowXdg) {
  TScopedEnv home("HOME", std::string("/home/u"));
  {
    TScopedEnv data("XDG_DATA_HOME", std::nullopt), config("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(LocalAppDataFolder(), "/home/u/.local/share");
    EXPECT_EQ(RoamingAppDataFolder(), "/home/u/.config");
  }
  TScopedEnv data("XDG_DATA_HOME", std::string("/d")), config("XDG_CONFIG_HOME", std::string("relative"));
  EXPECT_EQ(LocalAppDataFolder(), "/d");
  EXPECT_EQ(RoamingAppDataFolder(), "/home/u/.config");  // relative XDG paths are ignored
}

class PrivateFileTest : public test::TConfigHomeTest {};

TEST_F(PrivateFileTest, CreatesOnlyNewPrivateFiles) {
  const std::string path = Root() + "/secret";
  TPrivateFile file = CreatePrivateFile(path);
  ASSERT_TRUE(file.Handle.Valid()) << file.Error;
  struct stat st {};
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  EXPECT_EQ(CreatePrivateFile(path).Error, EEXIST);
  // A planted link, even a dangling one, is never followed.
  ASSERT_EQ(symlink((Root() + "/elsewhere").c_str(), (Root() + "/link").c_str()), 0);
  EXPECT_FALSE(CreatePrivateFile(Root() + "/link").Handle.Valid());
  EXPECT_FALSE(std::filesystem::exists(Root() + "/elsewhere"));

  std::string tempPath;
  TPrivateFile temp = CreatePrivateTempFile(Root(), "kof-", tempPath);
  ASSERT_TRUE(temp.Handle.Valid());
  EXPECT_EQ(tempPath.rfind(Root() + "/kof-", 0), 0u);
}

}  // namespace
}  // namespace kof
