// wfxhost: a command-line host for file-system plugins, for tests, demos and
// checks without a file manager.
// isatty, and the shell that runs an open's editor: this host is a Linux
// program of its own, outside the plugin.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tools/wfxhost/VaultCommands.h"
#include "tools/wfxhost/WfxLoader.h"

namespace {

using wfxhost::Plugin;

const char* kUsage =
    "usage: wfxhost [--plugin FILE] [--answers FILE] [--dialogs FILE] [-c 'CMD; CMD ...']\n"
    "       wfxhost vault ...   the server's password services without a plugin (wfxhost vault help)\n"
    "--dialogs offers the extension interface; FILE holds one script per dialog, e.g.\n"
    "  set edtKofPswd demo; click btnConnect   (actions: set, check, choose, key, click, cancel)\n"
    "commands: ls [PATH] | cd PATH | pwd | get [-o] [-m] REMOTE... LOCAL | put [-o] [-m] LOCAL... REMOTE\n"
    "          rm PATH | mkdir PATH | rmdir PATH | mv FROM TO [overwrite] | cp FROM TO [overwrite]\n"
    "          (mv/cp of a folder: make the folder, copy or move each entry, then remove the source folders)\n"
    "          mv [-o] REMOTE file:LOCAL | mv [-o] file:LOCAL REMOTE   (a move between the plugin and a local path)\n"
    "          get/put with several sources copy into the folder given last, as one operation\n"
    "          (-o: overwrite, -m: move; 'overwrite' and 'move' after the paths work too)\n"
    "          exec VERB PATH | exec open PATH --editor CMD (the host's open of a file: download,\n"
    "          CMD FILE, a changed file put back) | root | quit\n"
    "Quote names with blanks: ls \"/__ use F3 to view HELP __\"\n";

std::vector<std::string> Tokenize(const std::string& line) {
  std::vector<std::string> out;
  std::string cur;
  bool any = false;
  char quote = 0;
  for (char c : line) {
    if (quote) {
      if (c == quote)
        quote = 0;
      else
        cur += c;
    } else if (c == '"' || c == '\'') {
      quote = c;
      any = true;
    } else if (c == ' ' || c == '\t') {
      if (any || !cur.empty()) out.push_back(cur);
      cur.clear();
      any = false;
    } else {
      cur += c;
    }
  }
  if (any || !cur.empty()) out.push_back(cur);
  return out;
}

// Splits -c text at ';' and newlines outside quotes.
std::vector<std::string> SplitCommands(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  char quote = 0;
  for (char c : text) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';' || c == '\n') {
      out.push_back(cur);
      cur.clear();
      continue;
    }
    cur += c;
  }
  out.push_back(cur);
  return out;
}

std::string Resolve(const std::string& cwd, const std::string& path) {
  std::string full = path.empty() ? cwd : (path[0] == '/' ? path : (cwd == "/" ? "/" : cwd + "/") + path);
  std::vector<std::string> parts;
  std::stringstream ss(full);
  for (std::string part; std::getline(ss, part, '/');) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  for (const auto& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

int Flags(const std::vector<std::string>& args, std::size_t from) {
  int flags = 0;
  for (std::size_t i = from; i < args.size(); ++i) {
    if (args[i] == "overwrite" || args[i] == "-o") flags |= wfx::FS_COPYFLAGS_OVERWRITE;
    if (args[i] == "move" || args[i] == "-m") flags |= wfx::FS_COPYFLAGS_MOVE;
    if (args[i] == "resume") flags |= wfx::FS_COPYFLAGS_RESUME;
  }
  return flags;
}

bool IsFlag(const std::string& arg) {
  return arg == "-o" || arg == "-m" || arg == "overwrite" || arg == "move" || arg == "resume";
}

// The paths of a command, without its flags.
std::vector<std::string> Paths(const std::vector<std::string>& args) {
  std::vector<std::string> paths;
  for (std::size_t i = 1; i < args.size(); ++i)
    if (!IsFlag(args[i])) paths.push_back(args[i]);
  return paths;
}

std::string NameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : path.substr(0, slash));
}

void PrintFileResult(const wfxhost::Result& r) {
  std::printf("result: %s (%d) lasterror=%d\n", wfxhost::FileResultName(r.Code).c_str(), r.Code, r.LastError);
}

// A tree copy mixes make-directory and remove-directory answers (true/false) with file results.
void PrintRawResult(const wfxhost::Result& r) { std::printf("result %d lasterror=%d\n", r.Code, r.LastError); }

void PrintBoolResult(const wfxhost::Result& r) {
  std::printf("result: %s lasterror=%d\n", r.Code ? "TRUE" : "FALSE", r.LastError);
}

class Shell {
 public:
  explicit Shell(Plugin& plugin) : FPlugin(plugin) {}

  // False on quit.
  bool Run(const std::string& line) {
    const std::vector<std::string> a = Tokenize(line);
    if (a.empty()) return true;
    const std::string& cmd = a[0];
    auto arg = [&](std::size_t i) { return i < a.size() ? a[i] : std::string(); };
    auto path = [&](std::size_t i) { return Resolve(FCwd, arg(i)); };
    if (cmd == "quit" || cmd == "exit") return false;
    if (cmd == "help") {
      std::fputs(kUsage, stdout);
    } else if (cmd == "pwd") {
      std::printf("%s\n", FCwd.c_str());
    } else if (cmd == "ls") {
      List(path(1));
    } else if (cmd == "cd") {
      ChangeDir(path(1));
    } else if ((cmd == "get" || cmd == "put") && Paths(a).size() >= 2) {
      Transfer(cmd == "get", Paths(a), Flags(a, 1));
    } else if (cmd == "mv" && Paths(a).size() == 2 && (Paths(a)[0].rfind("file:", 0) == 0 || Paths(a)[1].rfind("file:", 0) == 0)) {
      const std::vector<std::string> p = Paths(a);
      const int flags = Flags(a, 1) | wfx::FS_COPYFLAGS_MOVE;
      if (p[1].rfind("file:", 0) == 0)
        PrintFileResult(FPlugin.Get(Resolve(FCwd, p[0]), p[1].substr(5), flags));
      else
        PrintFileResult(FPlugin.Put(p[0].substr(5), Resolve(FCwd, p[1]), flags));
    } else if (cmd == "rm" && a.size() >= 2) {
      PrintBoolResult(FPlugin.Delete(path(1)));
    } else if (cmd == "mkdir" && a.size() >= 2) {
      PrintBoolResult(FPlugin.MkDir(path(1)));
    } else if (cmd == "rmdir" && a.size() >= 2) {
      PrintBoolResult(FPlugin.RmDir(path(1)));
    } else if ((cmd == "mv" || cmd == "cp") && a.size() >= 3 && FPlugin.IsFolder(path(1))) {
      for (const auto& [item, result] : FPlugin.RenMovTree(path(1), path(2), cmd == "mv", arg(3) == "overwrite")) {
        std::printf("%s: ", item.c_str());
        PrintRawResult(result);
      }
    } else if ((cmd == "mv" || cmd == "cp") && a.size() >= 3) {
      PrintFileResult(FPlugin.RenMov(path(1), path(2), cmd == "mv", arg(3) == "overwrite"));
    } else if (cmd == "exec" && a.size() >= 5 && a[1] == "open" && a[3] == "--editor") {
      OpenWithEditor(path(2), a[4]);
    } else if (cmd == "exec" && a.size() >= 3) {
      Exec(arg(1), path(2));
    } else if (cmd == "root") {
      std::printf("%s\n", FPlugin.RootName().c_str());
    } else {
      std::printf("unknown command or missing arguments: %s\n", line.c_str());
      FFailed = true;
    }
    std::fflush(stdout);
    return true;
  }

  bool Failed() const { return FFailed; }

 private:
  // One source: a single transfer to the path given. Several: each into the folder given last.
  void Transfer(bool get, const std::vector<std::string>& paths, int flags) {
    const std::string& last = paths.back();
    if (paths.size() == 2) {
      PrintFileResult(get ? FPlugin.Get(Resolve(FCwd, paths[0]), last, flags)
                          : FPlugin.Put(paths[0], Resolve(FCwd, last), flags));
      return;
    }
    std::vector<std::string> names;
    for (std::size_t i = 0; i + 1 < paths.size(); ++i) names.push_back(NameOf(paths[i]));
    const std::vector<wfxhost::Result> results =
        get ? FPlugin.GetMany(FolderOf(Resolve(FCwd, paths[0])), names, last, flags)
            : FPlugin.PutMany(FolderOf(paths[0]), names, Resolve(FCwd, last), flags);
    for (std::size_t i = 0; i < results.size(); ++i) {
      std::printf("%s: ", names[i].c_str());
      PrintFileResult(results[i]);
    }
  }

  void List(const std::string& dir) {
    wfxhost::Result r;
    for (const auto& e : FPlugin.List(dir, &r)) std::printf("%s\n", wfxhost::FormatEntry(e).c_str());
    if (r.Code != 0) std::printf("result: -1 lasterror=%d\n", r.LastError);
  }

  void ChangeDir(const std::string& dir) {
    wfxhost::Result r;
    FPlugin.List(dir, &r);  // a host lists a folder when it enters it
    if (r.Code != 0 && r.LastError != wfx::ERROR_NO_MORE_FILES) {
      std::printf("cd: cannot enter %s (lasterror=%d)\n", dir.c_str(), r.LastError);
      return;
    }
    FCwd = dir;
    std::printf("cd %s\n", FCwd.c_str());
  }

  void Exec(const std::string& verb, const std::string& target) {
    std::string newPath;
    const wfxhost::Result r = FPlugin.Exec(verb, target, &newPath);
    std::printf("result: %s (%d) lasterror=%d", wfxhost::ExecResultName(r.Code).c_str(), r.Code, r.LastError);
    if (r.Code == wfx::FS_EXEC_SYMLINK) std::printf(" newpath=%s", r.Buffer.c_str());
    std::printf("\n");
    if (r.Code == wfx::FS_EXEC_SYMLINK) ChangeDir(Resolve("/", newPath));
  }

  // The open of a file record with its round trip: EDITOR runs with the local copy as its argument.
  void OpenWithEditor(const std::string& target, const std::string& editor) {
    const Plugin::EditRoundTrip trip = FPlugin.OpenAndEdit(target, [&](const std::string& local) {
      std::string quoted = "'";
      for (char c : local) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
      const int rc = std::system((editor + " " + quoted + "'").c_str());
      std::printf("editor: exit %d\n", WIFEXITED(rc) ? WEXITSTATUS(rc) : -1);
    });
    std::printf("result: %s (%d) lasterror=%d\n", wfxhost::ExecResultName(trip.Exec.Code).c_str(), trip.Exec.Code,
                trip.Exec.LastError);
    if (trip.Get) std::printf("get: "), PrintFileResult(*trip.Get);
    if (trip.Get && trip.Get->Code == wfx::FS_FILE_OK && !trip.Put) std::printf("put: unchanged, not stored\n");
    if (trip.Put) std::printf("put: "), PrintFileResult(*trip.Put);
    std::error_code ignored;
    if (!trip.Folder.empty()) std::filesystem::remove_all(trip.Folder, ignored);
  }

  Plugin& FPlugin;
  std::string FCwd = "/";
  bool FFailed = false;
};

std::optional<std::string> AskOnTerminal(const wfxhost::Request&) {
  std::printf("  answer> ");
  std::fflush(stdout);
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  return line;
}

std::string DefaultPluginPath(const char* argv0) {
  std::string self = argv0;
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n > 0) self.assign(buf, static_cast<std::size_t>(n));
  const auto slash = self.find_last_of('/');
  return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/Koffra5.wfx";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "vault") == 0)
    return wfxhost::RunVault(argc - 2, argv + 2, std::cin, std::cout, std::cerr);
  std::string pluginPath = DefaultPluginPath(argv[0]);
  std::string answersFile;
  std::string dialogsFile;
  bool dialogs = false;
  std::string commands;
  bool haveCommands = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--plugin" && i + 1 < argc) {
      pluginPath = argv[++i];
    } else if (a == "--answers" && i + 1 < argc) {
      answersFile = argv[++i];
    } else if (a == "--dialogs" && i + 1 < argc) {
      dialogsFile = argv[++i];
      dialogs = true;
    } else if (a == "-c" && i + 1 < argc) {
      commands = argv[++i];
      haveCommands = true;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }

  Plugin plugin;
  try {
    auto& answers = plugin.GetAnswers();
    if (!answersFile.empty()) answers.LoadFile(answersFile);
    if (dialogs) {
      plugin.EnableDialogs();
      plugin.Dialogs().LoadFile(dialogsFile);
      plugin.Dialogs().SetObserver([&plugin](const wfxhost::ShownDialog& d) {
        std::fputs(wfxhost::DialogStandIn::Format(d).c_str(), stdout);
        for (const auto& fault : plugin.Dialogs().Faults()) std::printf("dialog fault: %s\n", fault.c_str());
        plugin.Dialogs().Clear();
        std::fflush(stdout);
      });
    }
    const bool interactive = !haveCommands && isatty(STDIN_FILENO);
    answers.SetObserver([](const wfxhost::Request& r) {
      std::printf("request %s [%s] %s\n", wfxhost::RequestTypeName(r.Type).c_str(), r.Title.c_str(), r.Text.c_str());
      std::fflush(stdout);
    });
    answers.SetFallback([interactive](const wfxhost::Request& r) -> std::optional<std::string> {
      if (!interactive) return std::nullopt;
      return AskOnTerminal(r);
    });
    // On a terminal the running transfer shows how far it got, on one line.
    if (isatty(STDOUT_FILENO))
      plugin.SetProgressObserver([](const std::string&, const std::string& target, int percent) {
        std::printf("\r  %3d%% %s\033[K%s", percent, target.c_str(), percent >= 100 ? "\n" : "");
        std::fflush(stdout);
      });
    plugin.Load(pluginPath);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wfxhost: %s\n", e.what());
    return 1;
  }
  std::printf("loaded %s: FsInitW=%d root=%s\n", pluginPath.c_str(), plugin.InitResult(), plugin.RootName().c_str());

  Shell shell(plugin);
  auto run = [&](const std::string& line) { return shell.Run(line); };
  if (haveCommands) {
    for (const auto& line : SplitCommands(commands))
      if (!run(line)) break;
  } else {
    const bool tty = isatty(STDIN_FILENO);
    for (std::string line;;) {
      if (tty) std::printf("wfx> "), std::fflush(stdout);
      if (!std::getline(std::cin, line) || !run(line)) break;
    }
  }
  return shell.Failed() ? 1 : 0;
}
