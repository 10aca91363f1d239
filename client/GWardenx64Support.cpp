#include "client/GWardenx64Support.h"

#include "platform/KofRegistry.h"
#include "support/KofText.h"

namespace kof {
namespace {

constexpr int kErrorFileNotFound = 2;
constexpr int kErrorMoreData = 234;
constexpr int kErrorInvalidData = 13;
constexpr std::size_t kValueUnits = 260;  // with the terminating zero

}  // namespace

int GetGWardenApiPath(std::string& APath) {
  APath.clear();
  // The stand-in has a single view of the machine's keys, so the 32-bit view
  // the client writes into is the one read here.
  TKofRegistry registry(TRegRoot::LocalMachine);
  if (!registry.OpenKeyReadOnly(kGWardenKey)) return kErrorFileNotFound;
  if (!registry.ValueExists(kGWardenApiValue)) return kErrorFileNotFound;
  const std::optional<std::string> value = registry.TryReadString(kGWardenApiValue);
  if (!value) return kErrorInvalidData;
  if (Utf16Units(*value) >= kValueUnits) return kErrorMoreData;
  APath = *value;
  return 0;
}

std::string GWardenHostPath(const std::string& AApiPath) {
  const std::size_t slash = AApiPath.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? std::string(".") : AApiPath.substr(0, slash);
  return folder + "/" + kGWardenHostName;
}

}  // namespace kof
