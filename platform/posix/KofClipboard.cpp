#include "platform/KofClipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/KofProcess.h"

extern char** environ;

namespace kof {
namespace {

using TArgs = std::vector<std::string>;

struct TCommands {
  TArgs Copy;
  TArgs Paste;
};

std::string EnvText(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The program's path: as given when it names a folder, else the first match on PATH.
std::optional<std::string> FindProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const std::string path = EnvText("PATH");
  for (std::string_view rest = path; !rest.empty();) {
    const std::size_t colon = rest.find(':');
    const std::string dir(rest.substr(0, colon));
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return dir + "/" + program;
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  }
  return std::nullopt;
}

std::optional<TCommands> FindCommands() {
  if (const std::string own = EnvText("KOFFRA_CLIPBOARD_CMD"); !own.empty())
    return TCommands{{own, "copy"}, {own, "paste"}};
  if (!EnvText("WAYLAND_DISPLAY").empty() && FindProgram("wl-copy"))
    return TCommands{{"wl-copy"}, {"wl-paste", "-n"}};
  if (FindProgram("xclip"))
    return TCommands{{"xclip", "-selection", "clipboard"}, {"xclip", "-selection", "clipboard", "-o"}};
  if (FindProgram("xsel")) return TCommands{{"xsel", "--clipboard", "--input"}, {"xsel", "--clipboard", "--output"}};
  return std::nullopt;
}

enum class TRunResult { Ok, Failed, TooLarge };

// Exit status of PID, waiting until DEADLINE; a program still running then is killed.
bool WaitExited(pid_t pid, std::chrono::steady_clock::time_point deadline) {
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (done < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) break;
    ::usleep(2000);
  }
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return false;
}

// Writes INPUT to IN until it is all written, the reader goes away or DEADLINE passes; closes IN.
bool Feed(int in, std::string_view input, std::chrono::steady_clock::time_point deadline) {
  std::size_t done = 0;
  bool ok = true;
  while (done < input.size()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd fd{in, POLLOUT, 0};
    const int ready = left.count() > 0 ? ::poll(&fd, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    const ssize_t n = ready > 0 ? ::write(in, input.data() + done, input.size() - done) : -1;
    if (n > 0) done += static_cast<std::size_t>(n);
    if (n < 0 && (ready <= 0 || (errno != EAGAIN && errno != EINTR))) {
      ok = false;
      break;
    }
  }
  ::close(in);
  return ok;
}

// Runs a copy program with INPUT on its standard input. Not through RunProcess:
// the copy programs leave a process behind that owns the selection, which must
// keep neither our output pipe open nor be killed with the program's group.
// Ok when the program exited with 0 within the time allowed; one that
// overstays is killed.
TRunResult RunCopy(const TArgs& args, std::string_view input) {
  const auto deadline = std::chrono::steady_clock::now() + kClipboardProgramTimeout;
  int in[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return TRunResult::Failed;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  if (spawned != 0) {
    ::close(in[1]);
    return TRunResult::Failed;
  }
  ::fcntl(in[1], F_SETFL, ::fcntl(in[1], F_GETFL) | O_NONBLOCK);
  // A program that quits without reading must not take the host down with SIGPIPE.
  sigset_t pipeSignal, previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  const bool fed = Feed(in[1], input, deadline);
  const timespec noWait{0, 0};
  while (::sigtimedwait(&pipeSignal, nullptr, &noWait) > 0) {
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  const bool exited = WaitExited(pid, fed ? deadline : std::chrono::steady_clock::now());
  return fed && exited ? TRunResult::Ok : TRunResult::Failed;
}

// Runs a paste program; at most MAXBYTES of what it prints are kept in TEXT.
TRunResult RunPaste(const TArgs& args, std::size_t maxBytes, SecureString& text) {
  const std::optional<std::string> program = FindProgram(args.front());
  if (!program) return TRunResult::Failed;
  TKofProcessRequest request;
  request.Program = *program;
  request.Args.assign(args.begin() + 1, args.end());
  request.Timeout = kClipboardProgramTimeout;
  request.MaxOutput = maxBytes;
  TKofProcessResult result = RunProcess(request);
  if (result.OutputTooLong) return TRunResult::TooLarge;
  if (!result.Started || result.TimedOut || !result.Exited || result.ExitCode != 0) return TRunResult::Failed;
  text = std::move(result.Output);
  return TRunResult::Ok;
}

}  // namespace

bool TKofClipboard::SetText(std::string_view text, std::string& error) {
  const std::optional<TCommands> commands = FindCommands();
  if (!commands) {
    error = "No clipboard program was found (wl-copy, xclip or xsel).";
    return false;
  }
  if (RunCopy(commands->Copy, text) != TRunResult::Ok) {
    error = "The clipboard program \"" + commands->Copy[0] + "\" failed or did not finish in time.";
    return false;
  }
  FOwn.Assign(text);
  return true;
}

TClearResult TKofClipboard::ClearOwn() {
  if (FOwn.Empty()) return TClearResult::Gone;
  const std::optional<TCommands> commands = FindCommands();
  if (!commands) return TClearResult::Failed;
  SecureString current;
  // Anything longer than our text is not ours: no need to read all of it.
  const TRunResult read = RunPaste(commands->Paste, FOwn.Size() + 1, current);
  if (read == TRunResult::Failed) return TClearResult::Failed;
  if (read == TRunResult::TooLarge || current.View() != FOwn.View()) {
    WipeString(FOwn);
    return TClearResult::Gone;
  }
  if (RunCopy(commands->Copy, "") != TRunResult::Ok) return TClearResult::Failed;
  WipeString(FOwn);
  return TClearResult::Cleared;
}

std::optional<SecureString> TKofClipboard::GetText(std::size_t maxBytes) {
  const std::optional<TCommands> commands = FindCommands();
  if (!commands) return std::nullopt;
  SecureString text;
  if (RunPaste(commands->Paste, maxBytes, text) != TRunResult::Ok) return std::nullopt;
  return text;
}

}  // namespace kof
