#include "platform/KofClipboard.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

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

bool OnPath(const std::string& program) {
  const std::string path = EnvText("PATH");
  for (std::string_view rest = path; !rest.empty();) {
    const std::size_t colon = rest.find(':');
    const std::string dir(rest.substr(0, colon));
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  }
  return false;
}

std::optional<TCommands> FindCommands() {
  if (const std::string own = EnvText("KOFFRA_CLIPBOARD_CMD"); !own.empty())
    return TCommands{{own, "copy"}, {own, "paste"}};
  if (!EnvText("WAYLAND_DISPLAY").empty() && OnPath("wl-copy")) return TCommands{{"wl-copy"}, {"wl-paste", "-n"}};
  if (OnPath("xclip"))
    return TCommands{{"xclip", "-selection", "clipboard"}, {"xclip", "-selection", "clipboard", "-o"}};
  if (OnPath("xsel")) return TCommands{{"xsel", "--clipboard", "--input"}, {"xsel", "--clipboard", "--output"}};
  return std::nullopt;
}

// Runs the program with the input on its standard input; collects its standard
// output when asked. True when it exited with 0.
bool Run(const TArgs& args, std::string_view input, SecureString* output) {
  int in[2], out[2] = {-1, -1};
  if (::pipe2(in, O_CLOEXEC) != 0) return false;
  if (output && ::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  if (output) posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  if (output) ::close(out[1]);
  bool ok = spawned == 0;
  // A program that quits without reading must not take the host down with SIGPIPE.
  sigset_t pipeSignal, previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  for (std::size_t done = 0; ok && done < input.size();) {
    const ssize_t n = ::write(in[1], input.data() + done, input.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    done += n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  ::close(in[1]);
  const timespec noWait{0, 0};
  while (::sigtimedwait(&pipeSignal, nullptr, &noWait) > 0) {
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (output) {
    char buffer[4096];
    for (ssize_t n; spawned == 0 && (n = ::read(out[0], buffer, sizeof buffer)) != 0;) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      output->Append(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    ::explicit_bzero(buffer, sizeof buffer);
    ::close(out[0]);
  }
  if (spawned != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool TKofClipboard::SetText(std::string_view text, std::string& error) {
  const std::optional<TCommands> commands = FindCommands();
  if (!commands) {
    error = "No clipboard program was found (wl-copy, xclip or xsel).";
    return false;
  }
  if (!Run(commands->Copy, text, nullptr)) {
    error = "The clipboard program \"" + commands->Copy[0] + "\" failed.";
    return false;
  }
  FOwn.Assign(text);
  return true;
}

void TKofClipboard::ClearOwn() {
  if (FOwn.Empty()) return;
  const std::optional<SecureString> current = GetText();
  const std::optional<TCommands> commands = FindCommands();
  if (commands && current && current->View() == FOwn.View()) Run(commands->Copy, "", nullptr);
  WipeString(FOwn);
}

std::optional<SecureString> TKofClipboard::GetText() {
  const std::optional<TCommands> commands = FindCommands();
  if (!commands) return std::nullopt;
  SecureString text;
  if (!Run(commands->Paste, "", &text)) return std::nullopt;
  return text;
}

}  // namespace kof
