// Session files come from anywhere the user copies them from: checking and
// loading one must never crash, and an accepted file must survive a round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sessions/PluginKofSessions5.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const kof::TSessionFileCheck check = kof::TKofSession::CheckSessionText(bytes);
  const kof::TKofIniFile ini(bytes);
  auto session = kof::TKofSession::Load(nullptr, "Fuzz", ini);
  if (!check.Ok() || !session) return 0;
  // What we write must read back as the same session.
  const std::string text = session->FileText();
  if (!kof::TKofSession::CheckSessionText(text).Ok()) std::abort();
  auto again = kof::TKofSession::Load(nullptr, "Fuzz", kof::TKofIniFile(text));
  if (!again || again->FileText() != text) std::abort();
  return 0;
}
