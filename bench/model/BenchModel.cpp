// Listing throughput of the object model: a "records" answer of mixed plain
// and client-encrypted records parsed into a list, decrypted and populated,
// against nlohmann-json parsing the same text alone. Memory is counted by
// replacing the global allocation functions.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "model/KofFilesys.h"

namespace {

std::atomic<std::size_t> gCurrent{0};
std::atomic<std::size_t> gPeak{0};

void CountAlloc(std::size_t size) {
  const std::size_t now = gCurrent.fetch_add(size) + size;
  std::size_t peak = gPeak.load();
  while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
  }
}

// Each block carries its size in front so delete can count it.
constexpr std::size_t kHeader = alignof(std::max_align_t);

void* Allocate(std::size_t size) {
  void* raw = std::malloc(size + kHeader);
  if (raw == nullptr) throw std::bad_alloc();
  *static_cast<std::size_t*>(raw) = size;
  CountAlloc(size);
  return static_cast<char*>(raw) + kHeader;
}

void Release(void* p) noexcept {
  if (p == nullptr) return;
  void* raw = static_cast<char*>(p) - kHeader;
  gCurrent.fetch_sub(*static_cast<std::size_t*>(raw));
  std::free(raw);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }

namespace {

using Clock = std::chrono::steady_clock;

class TBenchClient : public kof::IKofClientEncryption {
 public:
  TBenchClient(kof::TSaltyClientEncryption* AEngine, kof::TBytes AKey) : FEngine(AEngine), FKey(std::move(AKey)) {}
  kof::TSaltyClientEncryption* NaCLEncryption() const override { return FEngine; }
  const kof::TBytes& KOFServerPublicKeyBytes() const override { return FKey; }

 private:
  kof::TSaltyClientEncryption* FEngine;
  kof::TBytes FKey;
};

kof::TBytes KeyOf(const kof::TSaltyClientEncryption& e) {
  const auto key = e.GetClientPublicKey();
  return kof::TBytes(key.begin(), key.end());
}

// Every fourth record is encrypted, as a server with client encryption on
// answers for records stored that way.
std::string BuildAnswer(int count, kof::TSaltyClientEncryption& server, const kof::TBytes& pluginKey) {
  kof::TJSONObject records = kof::TJSONObject::array();
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    std::unique_ptr<kof::TKofObject> record;
    switch (i % 4) {
      case 0:
        record = std::make_unique<kof::TKofAccount>("Mail " + n, "mail account", "work,mail", "note\r\nline", "",
                                                    "", "user" + n, "mail.example.com", "https://mail.example.com");
        break;
      case 1:
        record = std::make_unique<kof::TKofFile>("report" + n + ".pdf", "quarterly", "reports", "", "", "report.pdf",
                                                 kof::TBytes{});
        break;
      case 2:
        record = std::make_unique<kof::TKofCreditCard>("Card " + n, "", "", "", "", "", "", "", "");
        break;
      default:
        record = std::make_unique<kof::TKofSecAccount>("Secret/" + n, "vpn", "vpn", "", "", "", "", "", "", "");
        break;
    }
    record->SetId(i + 1);
    record->WipeStrings();  // listings carry no secret fields
    const kof::SecureString text = (i % 4 == 3) ? record->SaveEncryptedTo(server, pluginKey, true, false)
                                                : record->SaveTo(true, false);
    kof::TJSONObject json = kof::ParseKofJSON(text.View());
    json["id"] = i + 1;
    json["modified"] = 1700000000000LL + i;
    records.push_back(std::move(json));
  }
  return kof::TJSONObject{{"records", std::move(records)}}.dump();
}

struct Figures {
  double listSeconds = 1e9, nlohmannSeconds = 1e9, nlohmannMapSeconds = 1e9;
  double parseSeconds = 1e9, decryptSeconds = 1e9, populateSeconds = 1e9;
  std::size_t peakBytes = 0;
};

Figures Measure(int count, int rounds) {
  kof::TSaltyClientEncryption server, plugin;
  const TBenchClient client(&plugin, KeyOf(server));
  const std::string text = BuildAnswer(count, server, KeyOf(plugin));
  Figures f;
  for (int r = 0; r < rounds; ++r) {
    const std::size_t before = gCurrent.load();
    gPeak.store(before);
    const auto t0 = Clock::now();
    {
      kof::TKofFileSysList list;
      kof::TKofObject::AddObjects(&client, list, text, "records", true, false);
      const auto tParsed = Clock::now();
      for (const auto& o : list)
        if (o->NeedsToBeDecrypted() && o->Decrypt(plugin, client.KOFServerPublicKeyBytes())) o->SetNeedsToBeDecrypted(false);
      const auto tDecrypted = Clock::now();
      kof::TKofNameList plainNames, fsNames;
      list.Populate(plainNames, kof::kofRecordKinds, false, false);
      list.Populate(fsNames, kof::kofRecordKinds, true, false);
      const auto tPopulated = Clock::now();
      f.parseSeconds = std::min(f.parseSeconds, std::chrono::duration<double>(tParsed - t0).count());
      f.decryptSeconds = std::min(f.decryptSeconds, std::chrono::duration<double>(tDecrypted - tParsed).count());
      f.populateSeconds = std::min(f.populateSeconds, std::chrono::duration<double>(tPopulated - tDecrypted).count());
      if (fsNames.Count() != count) std::fprintf(stderr, "unexpected listing size %d\n", fsNames.Count());
      f.listSeconds = std::min(f.listSeconds, std::chrono::duration<double>(Clock::now() - t0).count());
      f.peakBytes = std::max(f.peakBytes, gPeak.load() - before);
    }
    const auto t1 = Clock::now();
    { const auto doc = kof::TJSONObject::parse(text); }
    f.nlohmannSeconds = std::min(f.nlohmannSeconds, std::chrono::duration<double>(Clock::now() - t1).count());
    const auto t2 = Clock::now();
    { const auto doc = nlohmann::json::parse(text); }
    f.nlohmannMapSeconds = std::min(f.nlohmannMapSeconds, std::chrono::duration<double>(Clock::now() - t2).count());
  }
  std::printf("records=%d  answer=%zu bytes (1 in 4 encrypted)\n", count, text.size());
  std::printf("  parse+decrypt+populate: %.3f ms, %.0f records/s\n", f.listSeconds * 1e3, count / f.listSeconds);
  std::printf("    of which parse into objects %.3f ms, decrypt %.3f ms, populate (both modes) %.3f ms\n",
              f.parseSeconds * 1e3, f.decryptSeconds * 1e3, f.populateSeconds * 1e3);
  std::printf("  peak memory: %zu bytes, %.0f bytes/record\n", f.peakBytes, double(f.peakBytes) / count);
  std::printf("  nlohmann parse alone (ordered_json): %.3f ms; ratio %.2f\n", f.nlohmannSeconds * 1e3,
              f.listSeconds / f.nlohmannSeconds);
  std::printf("  nlohmann parse alone (json):         %.3f ms; ratio %.2f\n", f.nlohmannMapSeconds * 1e3,
              f.listSeconds / f.nlohmannMapSeconds);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  Measure(1000, rounds);
  Measure(10000, rounds);
  return 0;
}
