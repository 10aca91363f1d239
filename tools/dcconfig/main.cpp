// kof-dcconfig: adds or removes a file-system plugin in Double Commander's
// configuration. A filter: it reads the configuration file and writes the
// edited document to standard output, so the caller replaces the file only
// when the text changed (scripts/install-dc).
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

#include "tools/dcconfig/DcConfig.h"

namespace {

const char* kUsage =
    "usage: kof-dcconfig add|remove NAME PLUGIN-PATH [CONFIG-FILE]\n"
    "Writes CONFIG-FILE (Double Commander's doublecmd.xml) to standard output with the WfxPlugin\n"
    "element of the plugin added or updated (add) or removed (remove). Without CONFIG-FILE, or when\n"
    "it does not exist, add starts from a minimal configuration and remove writes nothing.\n";

// The file's bytes; nothing when it does not exist. Throws when it cannot be read.
std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    // Standard C, not a system call: tells a missing file from an unreadable one.
    std::FILE* probe = std::fopen(path.c_str(), "rb");
    if (!probe) return std::nullopt;
    std::fclose(probe);
    throw std::runtime_error("cannot read " + path);
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw std::runtime_error("cannot read " + path);
  return text.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string verb = argv[1];
  if (verb != "add" && verb != "remove") {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const kof::TDcPlugin plugin{argv[2], argv[3]};
  const std::string file = argc == 5 ? argv[4] : std::string();
  try {
    std::optional<std::string> document = file.empty() ? std::nullopt : ReadFile(file);
    if (!document && verb == "remove") {
      std::fprintf(stderr, "kof-dcconfig: %s: absent (no configuration)\n", plugin.Name.c_str());
      return 0;
    }
    if (!document) document = kof::MinimalDcConfig();
    const kof::TDcEdit edit =
        verb == "add" ? kof::RegisterWfxPlugin(*document, plugin) : kof::UnregisterWfxPlugin(*document, plugin);
    if (!edit.Ok) {
      std::fprintf(stderr, "kof-dcconfig: %s: %s\n", file.empty() ? "configuration" : file.c_str(),
                   edit.Error.c_str());
      return 1;
    }
    std::fwrite(edit.Document.data(), 1, edit.Document.size(), stdout);
    if (std::fflush(stdout) != 0) throw std::runtime_error("cannot write the configuration");
    std::fprintf(stderr, "kof-dcconfig: %s: %s\n", plugin.Name.c_str(), kof::DcChangeName(edit.Change));
    if (!edit.KeptOtherBytes)
      std::fputs("kof-dcconfig: note: parts of the file are written in libxml2's form (quotes, character "
                 "references), so bytes outside the plugin's element change too\n",
                 stderr);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kof-dcconfig: %s\n", e.what());
    return 1;
  }
}
