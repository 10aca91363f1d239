// A gibibyte copied into a vault and out again through the exports: the
// plugin's memory stays bounded whatever the file size. Labelled "slow".
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/flows/VaultFixture.h"

namespace kof::test {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kSize = std::int64_t{1} << 30;
// The address sanitizer keeps freed memory back (256 MiB by default) and
// shadows what it keeps; a file held whole still crosses the wider bound.
constexpr long kBoundKiB = kSanitized ? 512 * 1024 : 32 * 1024;

// Sparse but for a mark at each end, so a shifted or cut copy shows.
void WriteLargeFile(const std::string& path) {
  {
    std::ofstream out(path, std::ios::binary);
    out << "head of the file";
  }
  fs::resize_file(path, kSize - 16);
  std::ofstream(path, std::ios::binary | std::ios::app) << "tail of the file";
}

bool SameContent(const std::string& a, const std::string& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> p(1 << 20), q(1 << 20);
  while (x && y) {
    x.read(p.data(), static_cast<std::streamsize>(p.size()));
    y.read(q.data(), static_cast<std::streamsize>(q.size()));
    if (x.gcount() != y.gcount() || !std::equal(p.begin(), p.begin() + x.gcount(), q.begin())) return false;
  }
  return x.eof() && y.eof();
}

class LargeCopyFlow : public VaultFlow {};

TEST_F(LargeCopyFlow, AGibibyteGoesInAndOutWithinTheMemoryBound) {
  json seed = Seed(false);
  seed["server"]["fileSizeLimit"] = -1;
  StartVaultWith(seed);
  ASSERT_TRUE(Enter()) << AskedSoFar();
  const std::string box = "/Demo/Company/Servers";
  FPlugin.List(box);
  const std::string source = Local("large.bin");
  const std::string back = Local("large-back.bin");
  WriteLargeFile(source);

  int put = -1;
  const long in = PeakGrowthKiB([&] { put = FPlugin.Put(source, box + "/large.bin", 0).Code; });
  ASSERT_EQ(put, wfx::FS_FILE_OK) << AskedSoFar();
  FPlugin.List(box);
  int get = -1;
  const long out = PeakGrowthKiB([&] { get = FPlugin.Get(box + "/large.bin", back, 0).Code; });
  ASSERT_EQ(get, wfx::FS_FILE_OK) << AskedSoFar();

  EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(back)), kSize);
  EXPECT_TRUE(SameContent(source, back));
  EXPECT_LT(in, kBoundKiB) << "copy in";
  EXPECT_LT(out, kBoundKiB) << "copy out";
  fs::remove(source);
  fs::remove(back);
}

}  // namespace
}  // namespace kof::test
