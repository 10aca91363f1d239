#include "platform/KofLogFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

namespace kof {
namespace {

namespace fs = std::filesystem;

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("kof_logfile_" + std::to_string(::getpid()));
    fs::remove_all(FDir);
    fs::create_directories(FDir);
  }
  void TearDown() override { fs::remove_all(FDir); }

  std::string Path(const char* name) const { return (FDir / name).string(); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static unsigned Mode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
  }

  fs::path FDir;
};

TEST_F(LogFileTest, CreatedPrivateAndAppendedTo) {
  const mode_t old = ::umask(0);
  const std::string path = Path("debug.log");
  {
    TLogFileOpen log = OpenLogFile(path);
    ASSERT_TRUE(log.Writer) << log.Error;
    log.Writer->WriteLine("first");
  }
  ::umask(old);
  EXPECT_EQ(Mode(path), 0600u);
  {
    TLogFileOpen log = OpenLogFile(path);
    ASSERT_TRUE(log.Writer);
    log.Writer->WriteLine("second");
    EXPECT_TRUE(std::regex_match(log.Writer->Timestamp(), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
    EXPECT_FALSE(log.Writer->SystemMessage(ENOENT).empty());
  }
  EXPECT_EQ(Read(path), "first\nsecond\n");
}

TEST_F(LogFileTest, AnExistingLogOthersCouldReadIsMadePrivate) {
  const std::string path = Path("debug.log");
  std::ofstream(path) << "old\n";
  fs::permissions(path, fs::perms(0644));
  ASSERT_TRUE(OpenLogFile(path).Writer);
  EXPECT_EQ(Mode(path), 0600u);
  EXPECT_EQ(Read(path), "old\n");
}

TEST_F(LogFileTest, NeverThroughALinkNorIntoAPipe) {
  const std::string target = Path("elsewhere");
  std::ofstream(target) << "kept";
  const std::string link = Path("debug.log");
  fs::create_symlink(target, link);
  TLogFileOpen linked = OpenLogFile(link);
  EXPECT_FALSE(linked.Writer);
  EXPECT_EQ(linked.Error, ELOOP);
  EXPECT_EQ(Read(target), "kept");

  const std::string fifo = Path("fifo.log");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(OpenLogFile(fifo).Writer);  // returns at once instead of waiting for a reader
  EXPECT_FALSE(OpenLogFile(FDir.string()).Writer);
}

}  // namespace
}  // namespace kof
