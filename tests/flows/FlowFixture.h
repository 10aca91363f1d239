#pragma once
// Loads the built plugin through the same loader as wfxhost, with a private
// configuration in fresh temporary folders. Built with KOF_FLOW_IN_PROCESS,
// the plugin is linked into the test program instead, so that a test can
// reach what only the process shares (the plugin's clock); loading then
// makes a fresh plugin object, as loading the library would.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/wfxhost/WfxLoader.h"
#ifdef KOF_FLOW_IN_PROCESS
#include "plugin/TotalCmdKofExports5.h"
#endif

namespace kof::test {

class PluginFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = std::filesystem::path(BuildDir()) / "flow-data" /
           (std::to_string(::getpid()) + "-" + std::to_string(++Counter()));
    std::filesystem::remove_all(FDir);
    std::filesystem::create_directories(FDir / "user");
    std::filesystem::create_directories(FDir / "system");
    std::filesystem::create_directories(FDir / "local");
    ::setenv("KOFFRA_CONFIG_HOME", (FDir / "user").c_str(), 1);
    ::setenv("KOFFRA_SYSTEM_CONFIG_DIR", (FDir / "system").c_str(), 1);
    // The plugin treats files in the temporary folders as the host's view copies; keep
    // "local" outside them wherever the checkout lives (it may itself be below /tmp).
    std::filesystem::create_directories(FDir / "tmp");
    for (const char* name : {"TMPDIR", "TEMP", "TMP"}) ::setenv(name, (FDir / "tmp").c_str(), 1);
    LoadPlugin();
  }

  void TearDown() override {
    UnloadPlugin();
    std::filesystem::remove_all(FDir);
  }

  void LoadPlugin() {
#ifdef KOF_FLOW_IN_PROCESS
    LoadLinkedPlugin();
    FPlugin.Load("");
#else
    FPlugin.Load(BuildDir() + "/Koffra5.wfx");
#endif
    ASSERT_EQ(FPlugin.InitResult(), 0);
  }

  void UnloadPlugin() {
    FPlugin.Unload();
#ifdef KOF_FLOW_IN_PROCESS
    UnloadLinkedPlugin();
#endif
  }

  static std::string BuildDir() {
    const char* bin = std::getenv("KOF_BINARY_DIR");
    return bin ? bin : KOF_BUILD_DIR;  // KOF_BUILD_DIR: when run outside ctest
  }

  std::vector<std::string> Names(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& e : FPlugin.List(path)) names.push_back(e.Name);
    return names;
  }

  // Creates a session through make-directory, answering the three prompts.
  wfxhost::Result NewSession(const std::string& name, const std::string& url = "https://127.0.0.1:1/",
                             const std::string& domain = "CORP", const std::string& user = "alice") {
    FPlugin.GetAnswers().Push(url);
    FPlugin.GetAnswers().Push(domain);
    FPlugin.GetAnswers().Push(user);
    return FPlugin.MkDir("/" + name);
  }

  std::string Local(const std::string& name) const { return (FDir / "local" / name).string(); }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  static void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
  }

  static int& Counter() {
    static int n = 0;
    return n;
  }

  std::filesystem::path FDir;
  wfxhost::Plugin FPlugin;
};

}  // namespace kof::test
