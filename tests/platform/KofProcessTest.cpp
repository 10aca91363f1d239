#include "platform/KofProcess.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <string>

namespace kof {
namespace {

using namespace std::chrono_literals;

TKofProcessResult Shell(const std::string& script, std::string_view input = "",
                        std::chrono::milliseconds timeout = 5000ms, std::size_t maxOutput = 1 << 20) {
  TKofProcessRequest request;
  request.Program = "/bin/sh";
  request.Args = {"-c", script};
  request.Input = input;
  request.Timeout = timeout;
  request.MaxOutput = maxOutput;
  return RunProcess(request);
}

// No child of this test process may be left unreaped by RunProcess.
void ExpectNoChildLeft() {
  int status = 0;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(KofProcess, FeedsInputAndCollectsOutputAndExitCode) {
  const TKofProcessResult result = Shell("cat; exit 3", "hello");
  EXPECT_TRUE(result.Started);
  EXPECT_TRUE(result.Exited);
  EXPECT_EQ(result.ExitCode, 3);
  EXPECT_FALSE(result.TimedOut);
  EXPECT_EQ(result.Output.View(), "hello");
  ExpectNoChildLeft();
}

TEST(KofProcess, InputLargerThanAPipeReachesAProgramThatReadsWhileItWrites) {
  const std::string input(256 * 1024, 'x');  // several pipe buffers
  const TKofProcessResult result = Shell("cat", input, 10000ms);
  EXPECT_EQ(result.Output.Size(), input.size());
  EXPECT_EQ(result.ExitCode, 0);
}

TEST(KofProcess, AProgramThatIgnoresItsInputDoesNotBreakTheCaller) {
  const std::string input(1 << 20, 'x');
  const TKofProcessResult result = Shell("exec 0<&-; echo done", input);
  EXPECT_EQ(result.Output.View(), "done\n");
  EXPECT_TRUE(result.Exited);
}

TEST(KofProcess, SilenceIsCutAtTheLimitAndTheProgramKilledAndReaped) {
  const auto start = std::chrono::steady_clock::now();
  const TKofProcessResult result = Shell("sleep 30 & sleep 30", "", 300ms);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(result.TimedOut);
  EXPECT_TRUE(result.Killed);
  EXPECT_EQ(result.Signal, SIGKILL);
  ExpectNoChildLeft();
}

TEST(KofProcess, AProgramThatAnswersAndLingersIsKilledAfterItsGrace) {
  const auto start = std::chrono::steady_clock::now();
  const TKofProcessResult closed = Shell("echo early; exec >&-; sleep 30", "", 5000ms);
  EXPECT_EQ(closed.Output.View(), "early\n");
  EXPECT_FALSE(closed.TimedOut);
  EXPECT_TRUE(closed.Killed);
  TKofProcessRequest lingering;
  lingering.Program = "/bin/sh";
  lingering.Args = {"-c", "echo done; sleep 30"};
  lingering.Complete = [](std::string_view out) { return out.find('\n') != std::string_view::npos; };
  const TKofProcessResult complete = RunProcess(lingering);
  EXPECT_EQ(complete.Output.View(), "done\n");
  EXPECT_TRUE(complete.Killed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
  ExpectNoChildLeft();
}

TEST(KofProcess, OutputBeyondTheBoundStopsTheProgram) {
  const TKofProcessResult result = Shell("yes", "", 5000ms, 10000);
  EXPECT_TRUE(result.OutputTooLong);
  EXPECT_LE(result.Output.Size(), 10000u);
  EXPECT_TRUE(result.Killed);
  ExpectNoChildLeft();
}

TEST(KofProcess, ACrashIsReportedAsItsSignal) {
  const TKofProcessResult result = Shell("kill -SEGV $$");
  EXPECT_TRUE(result.Started);
  EXPECT_FALSE(result.Exited);
  EXPECT_EQ(result.Signal, SIGSEGV);
}

TEST(KofProcess, AMissingProgramIsNotStarted) {
  TKofProcessRequest missing;
  missing.Program = "/nonexistent/program";
  const TKofProcessResult result = RunProcess(missing);
  EXPECT_FALSE(result.Started);
  EXPECT_NE(result.StartError, 0);
  ExpectNoChildLeft();
}

}  // namespace
}  // namespace kof
