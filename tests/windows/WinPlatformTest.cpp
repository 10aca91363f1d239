// The Windows implementations of the platform interface, under Wine.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/KofCalendar.h"
#include "platform/KofFileIO.h"
#include "platform/KofFolders.h"
#include "platform/KofProcess.h"
#include "platform/KofRegistry.h"
#include "platform/KofTimer.h"
#include "platform/win/KofWin.h"
#include "support/KofText.h"

namespace kof {
namespace {

constexpr const char* kTestKey = "Software\\Varnok\\Koffra platform test";

class WinRegistry : public ::testing::Test {
 protected:
  void TearDown() override { TKofRegistry(TRegRoot::CurrentUser).DeleteKey(kTestKey); }
};

TEST_F(WinRegistry, ValuesKeepTheirTypesAndNamesCompareWithoutCase) {
  TKofRegistry reg;
  ASSERT_TRUE(reg.OpenKey(std::string(kTestKey) + "\\Sessions\\Ärger", true));
  reg.WriteInteger("Timeout", 60);
  reg.WriteString("URL", "https://vault.example/ü");
  TKofRegistry again;
  ASSERT_TRUE(again.OpenKeyReadOnly(std::string(kTestKey) + "\\sessions\\ärger"));
  EXPECT_EQ(again.GetDataType("timeout"), TRegDataType::DWord);
  EXPECT_EQ(again.ReadInteger("TIMEOUT"), 60u);
  EXPECT_EQ(again.ReadString("url"), "https://vault.example/ü");
  EXPECT_FALSE(again.TryReadInteger("URL"));  // a string where a number is expected
  EXPECT_THROW(again.ReadString("Timeout"), ERegistryException);
  EXPECT_EQ(again.GetValueNames(), (std::vector<std::string>{"Timeout", "URL"}));
}

TEST_F(WinRegistry, SubkeysAreListedSortedAndDeletedWithEverythingBelow) {
  TKofRegistry reg;
  for (const char* name : {"beta", "Alpha", "gamma"})
    ASSERT_TRUE(reg.OpenKey(std::string(kTestKey) + "\\" + name + "\\inner", true));
  ASSERT_TRUE(reg.OpenKeyReadOnly(kTestKey));
  EXPECT_EQ(reg.GetKeyNames(), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
  EXPECT_TRUE(reg.DeleteKey(std::string(kTestKey) + "\\beta"));
  EXPECT_FALSE(reg.KeyExists(std::string(kTestKey) + "\\beta\\inner"));
  EXPECT_FALSE(reg.OpenKey(std::string(kTestKey) + "\\bad\x01name", true));
}

std::string TempFolder() {
  const std::string folder = TemporaryFolder() + "\\kof-win-platform";
  EXPECT_TRUE(ForceFolders(folder + "\\deeper\\still"));
  return folder;
}

TEST(WinFiles, AReplacementTakesTheTargetsPlaceOnlyWhenCommitted) {
  const std::string target = TempFolder() + "\\target.txt";
  ASSERT_TRUE(WriteWholeFile(target, "old"));
  {
    TReplacementFile replacement(target);
    ASSERT_TRUE(replacement.Valid());
    TFileHandle handle = replacement.TakeHandle();
    ASSERT_TRUE(WriteAll(handle.Fd(), "new content", 11));
    EXPECT_EQ(ReadSmallFile(target, 100).value_or(""), "old");
    // Renamed while the writer still holds it open, as on POSIX.
    ASSERT_TRUE(replacement.Commit(handle.Fd(), 0600)) << replacement.Error();
  }
  EXPECT_EQ(ReadSmallFile(target, 100).value_or(""), "new content");
  EXPECT_EQ(FileSizeOf(target), 11);
  {
    TReplacementFile abandoned(target);
    ASSERT_TRUE(abandoned.Valid());
  }
  EXPECT_EQ(ReadSmallFile(target, 100).value_or(""), "new content");
  EXPECT_EQ(RemoveFile(target), 0);
  EXPECT_FALSE(PathExists(target));
}

TEST(WinFiles, PrivateFilesAreNewAndSmallReadsTellWhatTheyFound) {
  const std::string folder = TempFolder();
  std::string path;
  TPrivateFile file = CreatePrivateTempFile(folder, "kof", path);
  ASSERT_TRUE(file.Handle.Valid());
  EXPECT_EQ(CreatePrivateFile(path).Error, EEXIST);
  file.Handle.Reset();
  EXPECT_EQ(ReadSmallRegularFile(folder, 10).Status, TSmallRead::NotRegular);
  EXPECT_EQ(ReadSmallRegularFile(folder + "\\missing", 10).Status, TSmallRead::NotFound);
  ASSERT_TRUE(WriteWholeFile(path, "0123456789AB"));
  EXPECT_EQ(ReadSmallRegularFile(path, 10).Status, TSmallRead::TooLarge);
  EXPECT_EQ(RemoveFile(path), 0);
}

TEST(WinText, CaseMappingCoversLettersBeyondAscii) {
  EXPECT_EQ(LowerCase("ÄÖÜ ΣΑΣ ЖЁ"), "äöü σασ жё");
  EXPECT_EQ(UpperCase("straße"), "STRAßE");  // one to one: ß stays
  EXPECT_TRUE(SameText("Ärger", "äRGER"));
}

TEST(WinCalendar, UtcPartsAndTheZoneOffsetAgree) {
  const auto parts = UtcCalendarTime(86400 * 365);
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->tm_year, 71);
  EXPECT_EQ(parts->tm_yday, 0);
  const long offset = ZoneOffsetAt(1700000000);
  EXPECT_LE(offset < 0 ? -offset : offset, 14 * 3600);
}

TEST(WinProcess, TheProgramReadsItsInputAndAnswersOnItsOutput) {
  TKofProcessRequest request;
  request.Program = "C:\\windows\\system32\\cmd.exe";
  request.Args = {"/c", "more"};
  request.Input = "hello through the pipe\r\n";
  const TKofProcessResult result = RunProcess(request);
  ASSERT_TRUE(result.Started) << result.StartError;
  EXPECT_FALSE(result.TimedOut);
  EXPECT_NE(result.Output.View().find("hello through the pipe"), std::string_view::npos);
  EXPECT_TRUE(result.Exited);
}

TEST(WinProcess, AMissingProgramIsNotStarted) {
  TKofProcessRequest request;
  request.Program = "C:\\no\\such\\program.exe";
  const TKofProcessResult result = RunProcess(request);
  EXPECT_FALSE(result.Started);
  EXPECT_EQ(result.StartError, ENOENT);
}

// The host's message loop, for a while.
void PumpMessages(std::chrono::milliseconds span) {
  const auto end = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < end) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

TEST(WinTimer, FiresFromTheMessageLoopOnceAfterTheLatestStartAndNotAfterStop) {
  using namespace std::chrono_literals;
  int fired = 0;
  DWORD firedOn = 0;
  TKofTimer timer([&] {
    ++fired;
    firedOn = ::GetCurrentThreadId();
  });
  timer.Start(300ms);
  PumpMessages(150ms);
  timer.Start(300ms);  // restarts the full interval
  PumpMessages(200ms);
  EXPECT_EQ(fired, 0);
  std::this_thread::sleep_for(300ms);  // due now, but only the loop runs the handler
  EXPECT_EQ(fired, 0);
  EXPECT_TRUE(timer.Enabled());
  PumpMessages(300ms);
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(firedOn, ::GetCurrentThreadId());
  EXPECT_FALSE(timer.Enabled());

  timer.Start(50ms);
  timer.Stop();
  PumpMessages(200ms);
  EXPECT_EQ(fired, 1);
}

}  // namespace
}  // namespace kof
