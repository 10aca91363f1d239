#include "platform/KofProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "platform/KofFolders.h"

extern char** environ;

namespace kof {
namespace {

bool MakePipe(TFileHandle& readEnd, TFileHandle& writeEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  readEnd = TFileHandle(fds[0]);
  writeEnd = TFileHandle(fds[1]);
  return true;
}

// A program that stops reading must not take the host down with SIGPIPE: the
// signal is blocked on this thread while we write, and one raised by our writes
// is taken off before the mask is restored.
class TPipeSignalBlock {
 public:
  TPipeSignalBlock() {
    sigemptyset(&FPipe);
    sigaddset(&FPipe, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &FPipe, &FPrevious);
  }
  ~TPipeSignalBlock() {
    const timespec noWait{0, 0};
    if (!sigismember(&FPrevious, SIGPIPE))
      while (::sigtimedwait(&FPipe, nullptr, &noWait) > 0) {
      }
    ::pthread_sigmask(SIG_SETMASK, &FPrevious, nullptr);
  }
  TPipeSignalBlock(const TPipeSignalBlock&) = delete;
  TPipeSignalBlock& operator=(const TPipeSignalBlock&) = delete;

 private:
  sigset_t FPipe, FPrevious;
};

// Spawns the program in a process group of its own (so a timeout can stop
// whatever it started) with a clean signal mask and standard error discarded.
int Spawn(const TKofProcessRequest& request, int stdinFd, int stdoutFd, pid_t& pid) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
  posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(request.Program.c_str()));
  for (const std::string& arg : request.Args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const int error = ::posix_spawn(&pid, request.Program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Feeds the input and drains the output until the program closes its output,
// the bound is passed or the time is up.
void Exchange(const TKofProcessRequest& request, std::chrono::steady_clock::time_point deadline, TFileHandle& toChild,
              TFileHandle& fromChild, TKofProcessResult& result) {
  ::fcntl(toChild.Fd(), F_SETFL, O_NONBLOCK);
  std::size_t written = 0;
  if (request.Input.empty()) toChild.Reset();
  std::array<char, 65536> buffer;
  while (fromChild.Valid()) {
    std::array<pollfd, 2> fds{pollfd{fromChild.Fd(), POLLIN, 0}, pollfd{toChild.Fd(), POLLOUT, 0}};
    const nfds_t count = toChild.Valid() ? 2 : 1;
    const int left = MillisecondsLeft(deadline);
    if (left == 0) {
      result.TimedOut = true;
      break;
    }
    const int ready = ::poll(fds.data(), count, left);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    if (count == 2 && fds[1].revents != 0) {
      const ssize_t n = ::write(toChild.Fd(), request.Input.data() + written, request.Input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      // The program closed its input early (or the pipe broke): it has what it read.
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == request.Input.size()) toChild.Reset();
    }
    if (fds[0].revents == 0) continue;
    const ssize_t n = ::read(fromChild.Fd(), buffer.data(), buffer.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    if (result.Output.Size() + static_cast<std::size_t>(n) > request.MaxOutput) {
      result.OutputTooLong = true;
      break;
    }
    result.Output.Append(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    if (request.Complete && request.Complete(result.Output.View())) break;
  }
  SecureZero(buffer.data(), buffer.size());
  toChild.Reset();
  fromChild.Reset();
}

void NoteEnd(int status, TKofProcessResult& result) {
  result.Exited = WIFEXITED(status);
  if (result.Exited) result.ExitCode = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) result.Signal = WTERMSIG(status);
}

// Waits until the deadline for the program to end, then kills it and whatever
// it started; either way it is reaped before we return.
void Reap(pid_t pid, std::chrono::steady_clock::time_point deadline, TKofProcessResult& result) {
  int status = 0;
  // The deadline is looked at first: a program that overran had the pipe
  // closed under it and may already be dying of that, which is still our kill.
  while (MillisecondsLeft(deadline) > 0) {
    const pid_t waited = ::waitpid(pid, &status, WNOHANG);
    if (waited == pid) return NoteEnd(status, result);
    if (waited < 0 && errno != EINTR) return;
    ::usleep(2000);
  }
  result.Killed = true;
  ::kill(-pid, SIGKILL);
  pid_t waited = 0;
  do {
    waited = ::waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited == pid) NoteEnd(status, result);
}

}  // namespace

TKofProcessResult RunProcess(const TKofProcessRequest& request) {
  TKofProcessResult result;
  TFileHandle childIn, toChild, fromChild, childOut;
  if (!MakePipe(childIn, toChild) || !MakePipe(fromChild, childOut)) {
    result.StartError = errno;
    return result;
  }
  TPipeSignalBlock noPipeSignal;
  pid_t pid = -1;
  const int error = Spawn(request, childIn.Fd(), childOut.Fd(), pid);
  childIn.Reset();
  childOut.Reset();
  if (error != 0) {
    result.StartError = error;
    return result;
  }
  result.Started = true;
  const auto deadline = std::chrono::steady_clock::now() + request.Timeout;
  Exchange(request, deadline, toChild, fromChild, result);
  // A program that overran gets no more time; one that answered may finish.
  const auto now = std::chrono::steady_clock::now();
  const bool answered = !result.TimedOut && !result.OutputTooLong;
  Reap(pid, answered ? std::min(deadline, now + request.Grace) : now, result);
  return result;
}

}  // namespace kof
