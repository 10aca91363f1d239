#include "support/KofDebug.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kof {
namespace {

// Keeps the lines in memory; the clock stands still.
class TMemoryLog : public TKofLogWriter {
 public:
  explicit TMemoryLog(std::vector<std::string>& lines) : FLines(lines) {}
  void WriteLine(std::string_view line) override { FLines.emplace_back(line); }
  std::string Timestamp() override { return "2026-12-10 21:05:09"; }
  std::string SystemMessage(int code) override { return "message " + std::to_string(code); }

 private:
  std::vector<std::string>& FLines;
};

class DiagnosticLogTest : public ::testing::Test {
 protected:
  void SetUp() override { SetLogWriter(std::make_unique<TMemoryLog>(FLines)); }
  void TearDown() override {
    SetLogWriter(nullptr);
    SetLogInfoSuppressed(false);
  }
  std::vector<std::string> FLines;
};

TEST(DiagnosticLogText, Unescaping) {
  struct Case {
    const char* In;
    const char* Out;
  };
  const Case cases[] = {
      {"a\\nb", "a\nb"}, {"a\\tb", "a\tb"}, {"\\\\", "\\"}, {"\\\"q\\\"", "\"q\""}, {"\\x", "x"}, {"end\\", "end\\"},
  };
  for (const Case& c : cases) EXPECT_EQ(UnescapeLogText(c.In), c.Out) << c.In;
}

TEST(DiagnosticLogText, AClosedLogWritesNothing) {
  std::vector<std::string> lines;
  SetLogWriter(nullptr);
  LogEntryFormat(true, "%s", "x");
  LogErrorBlock("R", "F", 1, 2);
  LogText("t");
  EXPECT_FALSE(LogOpen());
  SetLogWriter(std::make_unique<TMemoryLog>(lines));
  EXPECT_TRUE(LogOpen());
  SetLogWriter(nullptr);
  LogText("after closing");
  EXPECT_TRUE(lines.empty());
}

TEST_F(DiagnosticLogTest, EntriesAreStampedAndKinded) {
  LogEntry("plain", false);
  LogEntryFormat(true, "loadfil: \"%s\"; mode = %x; size = %d", "/tmp/a b", 0xFF00, 12);
  LogEntryFormat(false, "two\\tparts");
  EXPECT_EQ(FLines, (std::vector<std::string>{"2026-12-10 21:05:09 INF plain",
                                               "2026-12-10 21:05:09 ERR loadfil: \"/tmp/a b\"; mode = ff00; size = 12",
                                               "2026-12-10 21:05:09 INF two\tparts"}));
}

TEST_F(DiagnosticLogTest, SuppressedInformationLetsErrorsThrough) {
  SetLogInfoSuppressed(true);
  LogEntryFormat(false, "info");
  LogEntry("plain info", false);
  LogEntryFormat(true, "error");
  LogEntry("plain error", true);
  EXPECT_EQ(FLines, (std::vector<std::string>{"2026-12-10 21:05:09 ERR error", "2026-12-10 21:05:09 ERR plain error"}));
}

TEST_F(DiagnosticLogTest, Separators) {
  LogSeparator(true, 10);
  LogSeparator(false, 3);
  LogSeparator(true, 6);
  LogSeparator(true, 0);
  EXPECT_EQ(FLines, (std::vector<std::string>{"\r\n= ERR ====\r\n", "\r\n===\r\n", "\r\n======\r\n", ""}));
}

TEST_F(DiagnosticLogTest, ErrorBlocks) {
  const std::string top = "\r\n= ERR " + std::string(54, '=') + "\r\n";
  const std::string bottom = "\r\n" + std::string(60, '=') + "\r\n";
  struct Case {
    int Src;
    int Code;
    const char* File;
    std::vector<std::string> Lines;
  };
  const Case cases[] = {
      {5, 2, "/x/y", {top, "FName:   /x/y", "Routine: FileRec", "Func:    Save", "Src:     5", "Err:     2",
                      "Msg:     message 2", bottom}},
      {0, -1, "", {top, "Routine: FileRec", "Func:    Save", bottom}},
      {0, 0, "", {top, "Routine: FileRec", "Func:    Save", "Err:     0", bottom}},
      {0, -7, "", {top, "Routine: FileRec", "Func:    Save", "Err:     -7", bottom}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Code);
    FLines.clear();
    LogErrorBlock("FileRec", "Save", c.Src, c.Code, c.File);
    EXPECT_EQ(FLines, c.Lines);
  }
  FLines.clear();
  SetLogErrors(false);
  LogErrorBlock("FileRec", "Save", 0, -1);
  EXPECT_TRUE(FLines.empty());
}

}  // namespace
}  // namespace kof
