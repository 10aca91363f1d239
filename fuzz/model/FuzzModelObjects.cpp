// Server answers of any shape through the factories, then everything a
// listing does with the objects.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/KofFilesys.h"

namespace {

class TFuzzClient : public kof::IKofClientEncryption {
 public:
  TFuzzClient() {
    const auto key = FServer.GetClientPublicKey();
    FKey.assign(key.begin(), key.end());
  }
  kof::TSaltyClientEncryption* NaCLEncryption() const override { return &FEngine; }
  const kof::TBytes& KOFServerPublicKeyBytes() const override { return FKey; }

 private:
  mutable kof::TSaltyClientEncryption FEngine;
  kof::TSaltyClientEncryption FServer;
  kof::TBytes FKey;
};

constexpr std::string_view kNames[] = {"", "records", "record", "safeboxes", "safebox", "stations", "configs", "password"};

void Exercise(kof::TKofFileSysList& list, const TFuzzClient& client) {
  kof::TSecureLines lines;
  for (const auto& object : list) {
    (void)object->Size();
    (void)object->JSONStr();
    try {
      object->SaveToList(lines);
    } catch (const kof::EKofError&) {
    }
    if (object->NeedsToBeDecrypted())
      static_cast<void>(object->Decrypt(*client.NaCLEncryption(), client.KOFServerPublicKeyBytes()));
  }
  kof::TKofNameList names;
  list.Populate(names, kof::kofBoxKinds, false, true);
  list.Populate(names, kof::kofRecordKinds, true, false);
  list.SortByName();
  int index = 0;
  list.Find("a", index);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TFuzzClient client;
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string_view name = kNames[mode % std::size(kNames)];
  const kof::IKofClientEncryption* aclient = (mode & 0x80) ? &client : nullptr;
  kof::TKofFileSysList list;
  try {
    if (mode & 0x40) {
      auto object = kof::TKofObject::CreateObject(text, aclient, name, false, kof::kofAccount);
      if (object) list.Add(std::move(object));
    } else {
      kof::TKofObject::AddObjects(aclient, list, text, name, true, false);
    }
  } catch (const std::exception&) {
    // Refusals are expected; crashes and leaks are what we look for.
  }
  Exercise(list, client);
  return 0;
}
