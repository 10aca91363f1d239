// kof-test-server: the vault server for tests and demos. See README.md.
#include <iostream>
#include <string>
#include <vector>

#include "tests/server/KofTestOptions.h"
#include "tests/server/KofTestServerApp.h"

int main(int argc, char** argv) {
  using namespace kof::testserver;
  const auto parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.ShowHelp) {
    std::cout << UsageText();
    return 0;
  }
  if (!parsed.Options) {
    std::cerr << "kof-test-server: " << parsed.Error << "\n" << UsageText();
    return 2;
  }
  return RunServer(*parsed.Options);
}
