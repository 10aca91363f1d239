// A level built from any server listing: every listed name is unique ignoring
// case, within the host's limit, and leads back to the member it names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <set>
#include <string>
#include <string_view>

#include "plugin/PluginKofClasses5.h"
#include "support/KofText.h"

namespace {

void CheckLevel(std::string_view answer, std::string_view member, kof::TKofObjectSet kinds) {
  kof::TLevelData level;
  try {
    kof::TKofObject::AddObjects(nullptr, level.FKOFList, answer, member, true, true);
  } catch (const std::exception&) {
    return;  // refused answers list nothing
  }
  level.Populate(kinds);
  std::set<std::string> seen;
  for (const auto& entry : level.FFSList.Entries()) {
    if (kof::Utf16Units(entry.Name) > kof::kMaxListedUnits) std::abort();
    if (!seen.insert(kof::LowerCase(entry.Name)).second) std::abort();
    const kof::TKofObject* found = level.Find(entry.Name);
    if (found == nullptr || found->Id() != entry.Id) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view answer(reinterpret_cast<const char*>(data), size);
  CheckLevel(answer, "records", kof::kofRecordKinds);
  CheckLevel(answer, "safeboxes", kof::kofBoxKinds);
  return 0;
}
