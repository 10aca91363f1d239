#pragma once
// Points the per-user and machine-wide stores at fresh temporary folders for
// the life of a test, and puts the environment back afterwards.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/KofRegistry.h"

namespace kof::test {

class TScopedEnv {
 public:
  TScopedEnv(const char* name, const std::optional<std::string>& value) : FName(name) {
    if (const char* old = getenv(name)) FOld = old;
    if (value) setenv(name, value->c_str(), 1);
    else unsetenv(name);
  }
  ~TScopedEnv() {
    if (FOld) setenv(FName.c_str(), FOld->c_str(), 1);
    else unsetenv(FName.c_str());
  }

 private:
  std::string FName;
  std::optional<std::string> FOld;
};

// Runs WORK(i) for i in 0..COUNT-1, each in a forked child process, and
// expects every child to exit with 0 (another process is another host).
inline void RunInChildProcesses(int count, const std::function<void(int)>& work) {
  std::vector<pid_t> children;
  for (int i = 0; i < count; ++i) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      work(i);
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class TConfigHomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kof-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    FRoot = pattern;
    FUser.emplace("KOFFRA_CONFIG_HOME", FRoot + "/user");
    FSystem.emplace("KOFFRA_SYSTEM_CONFIG_DIR", FRoot + "/system");
    TakeRegistryNotices();
  }
  void TearDown() override {
    FUser.reset();
    FSystem.reset();
    std::error_code ignored;
    std::filesystem::remove_all(FRoot, ignored);
  }

  std::string Root() const { return FRoot; }
  std::string UserFile() const { return FRoot + "/user/registry.json"; }
  std::string SystemFile() const { return FRoot + "/system/registry.json"; }

 private:
  std::string FRoot;
  std::optional<TScopedEnv> FUser;
  std::optional<TScopedEnv> FSystem;
};

}  // namespace kof::test
