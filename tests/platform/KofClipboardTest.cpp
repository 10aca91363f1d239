// The clipboard through a replacement program, and the timer that clears it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/KofClipboard.h"
#include "platform/KofTimer.h"
#include "tests/platform/KofTestConfigHome.h"

namespace kof {
namespace {

namespace fs = std::filesystem;

// A clipboard program that keeps the clipboard in a file beside it.
class Clipboard : public ::testing::Test {
 protected:
  static fs::path Dir() { return fs::temp_directory_path() / ("kof-clip-" + std::to_string(::getpid())); }

  void SetUp() override {
    fs::create_directories(FDir);
    WriteProgram("#!/bin/sh\nif [ \"$1\" = copy ]; then cat > \"$(dirname \"$0\")/clip\"; "
                 "else cat \"$(dirname \"$0\")/clip\" 2>/dev/null; fi\n");
  }
  void TearDown() override { fs::remove_all(FDir); }

  void WriteProgram(const std::string& script) {
    const fs::path program = FDir / "clipboard";
    std::ofstream(program) << script;
    fs::permissions(program, fs::perms::owner_all);
  }
  std::string Held() const {
    std::ifstream in(FDir / "clip");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void SetHeld(const std::string& text) const { std::ofstream(FDir / "clip") << text; }

  const fs::path FDir = Dir();
  test::TScopedEnv FCommand{"KOFFRA_CLIPBOARD_CMD", (Dir() / "clipboard").string()};
};

TEST_F(Clipboard, SecretGoesOnTheClipboardAndIsClearedOnlyWhileStillOurs) {
  TKofClipboard clipboard;
  std::string error;
  ASSERT_TRUE(clipboard.SetText("Tr0ub4dor&3", error)) << error;
  EXPECT_EQ(Held(), "Tr0ub4dor&3");
  ASSERT_TRUE(TKofClipboard::GetText().has_value());
  EXPECT_EQ(TKofClipboard::GetText()->View(), "Tr0ub4dor&3");
  clipboard.ClearOwn();
  EXPECT_EQ(Held(), "");

  ASSERT_TRUE(clipboard.SetText("secret", error));
  SetHeld("something the user copied since");
  clipboard.ClearOwn();
  EXPECT_EQ(Held(), "something the user copied since");
}

TEST_F(Clipboard, AFailingOrMissingProgramIsReportedNotFatal) {
  TKofClipboard clipboard;
  std::string error;
  WriteProgram("#!/bin/sh\nexit 3\n");  // quits without reading: no SIGPIPE may reach us
  EXPECT_FALSE(clipboard.SetText(std::string(1 << 20, 'x'), error));
  EXPECT_NE(error.find("failed"), std::string::npos) << error;
  EXPECT_FALSE(clipboard.HoldsOwnText());

  test::TScopedEnv none("KOFFRA_CLIPBOARD_CMD", (FDir / "no-such-program").string());
  error.clear();
  EXPECT_FALSE(clipboard.SetText("x", error));
  EXPECT_FALSE(error.empty());
}

TEST_F(Clipboard, ClearingSaysWhatHappened) {
  TKofClipboard clipboard;
  std::string error;
  EXPECT_EQ(clipboard.ClearOwn(), TClearResult::Gone);  // nothing was put there
  ASSERT_TRUE(clipboard.SetText("secret", error)) << error;
  const fs::path program = FDir / "clipboard";
  fs::rename(program, FDir / "working");
  WriteProgram("#!/bin/sh\nexit 1\n");  // cannot read back
  EXPECT_EQ(clipboard.ClearOwn(), TClearResult::Failed);
  EXPECT_TRUE(clipboard.HoldsOwnText());
  EXPECT_EQ(Held(), "secret");
  fs::rename(FDir / "working", program);
  EXPECT_EQ(clipboard.ClearOwn(), TClearResult::Cleared);
  EXPECT_EQ(Held(), "");
  EXPECT_FALSE(clipboard.HoldsOwnText());
}

// A program that never exits, or pastes without end, costs a bounded time.
TEST_F(Clipboard, HangingAndFloodingProgramsAreCutShort) {
  struct Case {
    const char* Name;
    std::string Script;
  };
  const Case cases[] = {
      {"copy never exits", "#!/bin/sh\nexec sleep 100\n"},
      {"paste never exits", "#!/bin/sh\n[ \"$1\" = copy ] && { cat >/dev/null; exit 0; }\nexec sleep 100\n"},
      {"paste floods", "#!/bin/sh\n[ \"$1\" = copy ] && { cat >/dev/null; exit 0; }\nexec cat /dev/zero\n"},
      {"paste of 32 MB", "#!/bin/sh\n[ \"$1\" = copy ] && { cat >/dev/null; exit 0; }\nexec head -c 33554432 /dev/zero\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteProgram(c.Script);
    TKofClipboard clipboard;
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    const bool copied = clipboard.SetText("secret", error);
    if (copied) {
      EXPECT_NE(clipboard.ClearOwn(), TClearResult::Cleared);
    }
    EXPECT_FALSE(TKofClipboard::GetText(1 << 20).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4 * kClipboardProgramTimeout);
  }
}

TEST(Timer, FiresOnceAfterTheLatestStartAndNotAfterStop) {
  std::atomic<int> fired{0};
  TKofTimer timer([&] { ++fired; });
  timer.Start(std::chrono::milliseconds(200));
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  timer.Start(std::chrono::milliseconds(200));  // restarts the full interval
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_EQ(fired, 0);
  for (int i = 0; i < 200 && fired == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(timer.Enabled());

  timer.Start(std::chrono::milliseconds(50));
  timer.Stop();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(fired, 1);
}

}  // namespace
}  // namespace kof
