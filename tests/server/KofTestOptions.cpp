#include "tests/server/KofTestOptions.h"

#include <charconv>

namespace kof::testserver {
namespace {

std::optional<int> ParsePort(const std::string& text) {
  int value = -1;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 0 || value > 65535) return std::nullopt;
  return value;
}

}  // namespace

std::string UsageText() {
  return "usage: kof-test-server [--port N] [--seed FILE] [--cert FILE --key FILE]\n"
         "                       [--cert-out FILE] [--no-stdin-watch] [--issue-certificate USER:FOLDER]\n"
         "                       [--storage-dir FOLDER]\n";
}

TParseResult ParseOptions(const std::vector<std::string>& args) {
  TServerOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") return {std::nullopt, "", true};
    if (arg == "--no-stdin-watch") {
      options.WatchStdin = false;
      continue;
    }
    if (i + 1 >= args.size()) return {std::nullopt, "missing value or unknown option: " + arg};
    const std::string& value = args[++i];
    if (arg == "--port") {
      auto number = ParsePort(value);
      if (!number) return {std::nullopt, "bad number for " + arg + ": " + value};
      options.Port = *number;
    } else if (arg == "--seed") {
      options.SeedFile = value;
    } else if (arg == "--cert") {
      options.CertFile = value;
    } else if (arg == "--key") {
      options.KeyFile = value;
    } else if (arg == "--cert-out") {
      options.CertOut = value;
    } else if (arg == "--issue-certificate") {
      if (value.find(':') == std::string::npos) return {std::nullopt, "--issue-certificate takes USER:FOLDER"};
      options.IssueCertificate = value;
    } else if (arg == "--storage-dir") {
      options.StorageDir = value;
    } else {
      return {std::nullopt, "unknown option: " + arg};
    }
  }
  if (options.CertFile.empty() != options.KeyFile.empty()) return {std::nullopt, "--cert and --key go together"};
  return {options, ""};
}

}  // namespace kof::testserver
