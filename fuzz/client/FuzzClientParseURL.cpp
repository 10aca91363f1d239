// URLs typed by the user and invitation links from mails: any text must split,
// normalise and encode without crashing, and the results keep their shape.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "client/KofRESTsend.h"
#include "client/KofUri.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const kof::TUrlParts parts = kof::ParseURL(text);
  if (parts.PathWithQuery.empty() || parts.PathWithQuery[0] != '/' || parts.Path[0] != '/' || parts.Host.empty())
    std::abort();
  const std::string prepared = kof::PrepareURL(text, true, size % 2 == 0, true);
  if (!text.empty() && (prepared.empty() || prepared.back() != '/')) std::abort();
  kof::BaseURLFromParts(parts.Protocol, parts.Host, parts.Port, parts.Path);
  kof::InvitationCode(parts.Param);
  kof::InvitationHostMatches(prepared, text);
  for (unsigned char c : kof::EncodeRequestURL(text))
    if (c <= 0x20 || c >= 0x7F || c == '#') std::abort();
  kof::api::SecondFactorQR(text);
  return 0;
}
