#include "platform/KofFileIO.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/platform/KofTestConfigHome.h"

namespace kof {
namespace {

class ReplacementFileTest : public test::TConfigHomeTest {
 protected:
  std::size_t Entries() const {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(Root())) ++n;
    return n;
  }
};

TEST_F(ReplacementFileTest, TakesTheTargetsPlaceOnlyOnCommit) {
  const std::string target = Root() + "/target";
  test::WriteBytes(target, "old");
  const std::size_t before = Entries();
  {
    TReplacementFile file(target);
    ASSERT_TRUE(file.Valid()) << file.Error();
    TFileHandle fd = file.TakeHandle();
    ASSERT_TRUE(WriteAll(fd.Fd(), "new", 3));
    struct stat st {};
    ASSERT_EQ(lstat(file.TempPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(test::ReadBytes(target), "old");
  }  // dropped without commit
  EXPECT_EQ(test::ReadBytes(target), "old");
  EXPECT_EQ(Entries(), before);

  TReplacementFile file(target);
  TFileHandle fd = file.TakeHandle();
  ASSERT_TRUE(WriteAll(fd.Fd(), "new", 3));
  ASSERT_TRUE(file.Commit(fd.Fd(), 0640));
  EXPECT_EQ(test::ReadBytes(target), "new");
  struct stat st {};
  ASSERT_EQ(lstat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Entries(), before);
}

// A link at the target is replaced itself; what it points to is never written.
TEST_F(ReplacementFileTest, ALinkAtTheTargetIsReplacedNotFollowed) {
  const std::string elsewhere = Root() + "/elsewhere", link = Root() + "/link";
  test::WriteBytes(elsewhere, "keep");
  ASSERT_EQ(symlink(elsewhere.c_str(), link.c_str()), 0);
  TReplacementFile file(link);
  TFileHandle fd = file.TakeHandle();
  ASSERT_TRUE(WriteAll(fd.Fd(), "new", 3));
  ASSERT_TRUE(file.Commit(fd.Fd(), 0600));
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  EXPECT_EQ(test::ReadBytes(link), "new");
  EXPECT_EQ(test::ReadBytes(elsewhere), "keep");
}

TEST_F(ReplacementFileTest, AMissingFolderIsReported) {
  TReplacementFile file(Root() + "/missing/target");
  EXPECT_FALSE(file.Valid());
  EXPECT_EQ(file.Error(), ENOENT);
  EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");
}

TEST_F(ReplacementFileTest, SmallFilesAndSizes) {
  const std::string path = Root() + "/small";
  test::WriteBytes(path, "12345");
  EXPECT_EQ(ReadSmallFile(path, 5), "12345");
  EXPECT_EQ(ReadSmallFile(path, 4), std::nullopt);
  EXPECT_EQ(ReadSmallFile(Root() + "/none", 5), std::nullopt);
  EXPECT_EQ(FileSizeOf(path), 5);
  EXPECT_EQ(FileSizeOf(Root()), std::nullopt);
  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(FileExists(Root()));
  EXPECT_TRUE(FolderExists(Root()));
  EXPECT_EQ(RemoveFile(Root()), EISDIR);
  EXPECT_EQ(RemoveFile(path), 0);
  EXPECT_EQ(RemoveFile(path), ENOENT);
  EXPECT_EQ(DefaultFileMode() & ~0666u, 0u);
}

}  // namespace
}  // namespace kof
