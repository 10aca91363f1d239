#include "tests/server/KofTestPng.h"

#include <openssl/sha.h>

#include <array>
#include <cstdint>
#include <vector>

namespace kof::testserver {
namespace {

constexpr int kModules = 25;
constexpr int kScale = 6;
constexpr int kQuiet = 4;
constexpr int kSide = (kModules + 2 * kQuiet) * kScale;

std::uint32_t Crc32(std::string_view data, std::uint32_t crc = 0) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (unsigned char b : data) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::uint32_t Adler32(std::string_view data) {
  std::uint32_t a = 1, b = 0;
  for (unsigned char c : data) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

void PutBE32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void PutChunk(std::string& png, std::string_view type, std::string_view data) {
  PutBE32(png, static_cast<std::uint32_t>(data.size()));
  std::string body(type);
  body.append(data);
  png += body;
  PutBE32(png, Crc32(body));
}

// zlib stream of stored (uncompressed) blocks: valid for every inflater.
std::string ZlibStored(std::string_view raw) {
  std::string out = "\x78\x01";
  std::size_t pos = 0;
  do {
    const std::size_t len = std::min<std::size_t>(65535, raw.size() - pos);
    const bool last = pos + len == raw.size();
    out.push_back(last ? 1 : 0);
    out.push_back(static_cast<char>(len & 0xFF));
    out.push_back(static_cast<char>(len >> 8));
    out.push_back(static_cast<char>(~len & 0xFF));
    out.push_back(static_cast<char>((~len >> 8) & 0xFF));
    out.append(raw.substr(pos, len));
    pos += len;
  } while (pos < raw.size());
  PutBE32(out, Adler32(raw));
  return out;
}

bool IsFinder(int x, int y, int ox, int oy) {
  const int dx = x - ox, dy = y - oy;
  if (dx < 0 || dy < 0 || dx > 6 || dy > 6) return false;
  return dx == 0 || dy == 0 || dx == 6 || dy == 6 || (dx >= 2 && dx <= 4 && dy >= 2 && dy <= 4);
}

bool InFinderArea(int x, int y) {
  auto near = [](int v, int o) { return v >= o - 1 && v <= o + 7; };
  return (near(x, 0) && near(y, 0)) || (near(x, kModules - 7) && near(y, 0)) || (near(x, 0) && near(y, kModules - 7));
}

std::vector<bool> ModulePattern(std::string_view text) {
  std::vector<bool> dark(kModules * kModules);
  std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
  SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest.data());
  for (int y = 0; y < kModules; ++y) {
    for (int x = 0; x < kModules; ++x) {
      bool on;
      if (InFinderArea(x, y)) {
        on = IsFinder(x, y, 0, 0) || IsFinder(x, y, kModules - 7, 0) || IsFinder(x, y, 0, kModules - 7);
      } else {
        const int bit = (y * kModules + x) % 256;
        on = (digest[static_cast<std::size_t>(bit / 8)] >> (bit % 8)) & 1;
        if ((x * 7 + y * 3) % 5 == 0) on = !on;
      }
      dark[static_cast<std::size_t>(y * kModules + x)] = on;
    }
  }
  return dark;
}

std::string RawScanlines(const std::vector<bool>& dark) {
  std::string raw;
  raw.reserve(static_cast<std::size_t>(kSide) * (kSide + 1));
  for (int py = 0; py < kSide; ++py) {
    raw.push_back('\0');  // filter: none
    for (int px = 0; px < kSide; ++px) {
      const int mx = px / kScale - kQuiet, my = py / kScale - kQuiet;
      const bool inside = mx >= 0 && my >= 0 && mx < kModules && my < kModules;
      const bool on = inside && dark[static_cast<std::size_t>(my * kModules + mx)];
      raw.push_back(on ? '\0' : '\xFF');
    }
  }
  return raw;
}

}  // namespace

std::string MakeCodeImagePng(std::string_view text) {
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  PutBE32(header, kSide);
  PutBE32(header, kSide);
  header += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit greyscale, no interlace
  PutChunk(png, "IHDR", header);
  PutChunk(png, "tEXt", std::string("URL") + '\0' + std::string(text));
  PutChunk(png, "IDAT", ZlibStored(RawScanlines(ModulePattern(text))));
  PutChunk(png, "IEND", "");
  return png;
}

}  // namespace kof::testserver
