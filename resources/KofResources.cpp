#include "resources/KofResources.h"

#include "resources/KofResourceData.h"
#include "support/KofText.h"

namespace kof {

std::string_view FindResource(std::string_view name) {
  for (const auto& r : kEmbeddedResources)
    if (SameText(r.Name, name)) return {reinterpret_cast<const char*>(r.Data), r.Size};
  return {};
}

std::string AppVersionText() {
  return std::to_string(KOF_VERSION_MAJOR) + "." + std::to_string(KOF_VERSION_MINOR) + "." +
         std::to_string(KOF_VERSION_PATCH);
}

std::string BuildTimeText() { return kBuildTime; }

std::int64_t BuildUnixTime() { return kBuildUnixTime; }

}  // namespace kof
