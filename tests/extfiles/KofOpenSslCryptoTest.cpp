#include "extfiles/KofOpenSslCrypto.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/KofFileIO.h"
#include "tests/platform/KofTestConfigHome.h"

namespace kof {
namespace {

using test::ReadBytes;
using test::WriteBytes;

std::string FromHex(std::string_view hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return bytes;
}

std::string ToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 engine(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(engine());
  return bytes;
}

const std::string kSignature("\xFA\xBD\xEC\x13", 4);

// The container made the independent way: one raw EVP pass over the whole text.
std::string SealWithEvp(const std::string& key, const std::string& iv, const std::string& aad, const std::string& plain) {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  auto u = [](const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); };
  std::string out(plain.size() + 16, '\0');
  int len = 0, total = 0;
  EXPECT_EQ(EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(iv.size()), nullptr), 1);
  EXPECT_EQ(EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, u(key), u(iv)), 1);
  if (!aad.empty()) {
    EXPECT_EQ(EVP_EncryptUpdate(ctx.get(), nullptr, &len, u(aad), static_cast<int>(aad.size())), 1);
  }
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  len = 0;
  if (!plain.empty()) {
    EXPECT_EQ(EVP_EncryptUpdate(ctx.get(), o, &len, u(plain), static_cast<int>(plain.size())), 1);
  }
  total = len;
  EXPECT_EQ(EVP_EncryptFinal_ex(ctx.get(), o + total, &len), 1);
  total += len;
  EXPECT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, 16, o + total), 1);
  return kSignature + out;
}

// Opens a container the raw EVP way; nothing when the tag does not verify.
std::optional<std::string> OpenWithEvp(const std::string& key, const std::string& iv, const std::string& aad,
                                       const std::string& stored) {
  if (stored.size() < 20 || stored.compare(0, 4, kSignature) != 0) return std::nullopt;
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  auto u = [](const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); };
  const std::string data = stored.substr(4, stored.size() - 20);
  std::string tag = stored.substr(stored.size() - 16);
  std::string plain(data.size() + 16, '\0');
  int len = 0, total = 0;
  EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr);
  EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(iv.size()), nullptr);
  EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, u(key), u(iv));
  if (!aad.empty()) EVP_DecryptUpdate(ctx.get(), nullptr, &len, u(aad), static_cast<int>(aad.size()));
  auto* p = reinterpret_cast<unsigned char*>(plain.data());
  len = 0;
  if (!data.empty()) EVP_DecryptUpdate(ctx.get(), p, &len, u(data), static_cast<int>(data.size()));
  total = len;
  EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, 16, tag.data());
  if (EVP_DecryptFinal_ex(ctx.get(), p + total, &len) != 1) return std::nullopt;
  plain.resize(static_cast<std::size_t>(total + len));
  return plain;
}

// An in-memory stream; FailWritesAfter simulates a full disk.
class TMemoryStream : public TKofStream {
 public:
  explicit TMemoryStream(std::string data = {}) : FData(std::move(data)) {}
  std::size_t Read(void* buffer, std::size_t count) override {
    const std::size_t n = std::min(count, FData.size() - std::min(FData.size(), FPos));
    std::memcpy(buffer, FData.data() + FPos, n);
    FPos += n;
    return n;
  }
  void Write(const void* buffer, std::size_t count) override {
    if (FPos + count > FFailWritesAfter) throw ECryptoStreamError(ceWriteError, ENOSPC, "memory");
    if (FData.size() < FPos + count) FData.resize(FPos + count);
    std::memcpy(FData.data() + FPos, buffer, count);
    FPos += count;
  }
  std::int64_t Seek(std::int64_t offset, int origin) override {
    const std::int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? static_cast<std::int64_t>(FPos)
                                                                          : static_cast<std::int64_t>(FData.size());
    FPos = static_cast<std::size_t>(base + offset);
    return static_cast<std::int64_t>(FPos);
  }
  std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }
  const std::string& Data() const { return FData; }
  std::size_t FFailWritesAfter = SIZE_MAX;

 private:
  std::string FData;
  std::size_t FPos = 0;
};

struct TVector {
  const char* Name;
  const char* Key;
  const char* Iv;
  const char* Aad;
  const char* Plain;
  const char* Cipher;
  const char* Tag;
};

constexpr const char* kKey15 = "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308";
constexpr const char* kPlain16 =
    "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657"
    "ba637b39";

// AES-256 cases of the published GCM test vectors (McGrew and Viega, cases 13 to 18).
const TVector kVectors[] = {
    {"13-empty", "0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000", "",
     "", "", "530f8afbc74536b9a963b4f1c4cb738b"},
    {"14-one-block", "0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000",
     "", "00000000000000000000000000000000", "cea7403d4d606b6e074ec5d3baf39d18", "d0d1c8a799996bf0265b98b5d48ab919"},
    {"16-aad", kKey15, "cafebabefacedbaddecaf888", "feedfacedeadbeeffeedfacedeadbeefabaddad2", kPlain16,
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a"
     "0abcc9f662",
     "76fc6ece0f4e1768cddf8853bb2d551b"},
    {"17-short-iv", kKey15, "cafebabefacedbad", "feedfacedeadbeeffeedfacedeadbeefabaddad2", kPlain16,
     "c3762df1ca787d32ae47c13bf19844cbaf1ae14d0b976afac52ff7d79bba9de0feb582d33934a4f0954cc2363bc73f7862ac430e64abe4"
     "99f47c9b1f",
     "3a337dbf46a792c45e454913fe2ea8f2"},
    {"18-long-iv", kKey15,
     "9313225df88406e555909c5aff5269aa6a7a9538534f7da1e4c303d2a318a728c3c0c95156809539fcf0e2429a6b525416aedbf5a0de6a"
     "57a637b39b",
     "feedfacedeadbeeffeedfacedeadbeefabaddad2", kPlain16,
     "5a8def2f0c9e53f1f75d7853659e2a20eeb2b22aafde6419a058ab4f6f746bf40fc0c3b780f244452da3ebf1c5d82cdea2418997200ef8"
     "2e44ae7e3f",
     "a44a8266ee1c8eb0c8b5d4cf5ae9f19a"},
};

TEST(KofOpenSslCrypto, PublishedVectorsInTheStoredLayout) {
  for (const TVector& v : kVectors) {
    SCOPED_TRACE(v.Name);
    const std::string stored = kSignature + FromHex(v.Cipher) + FromHex(v.Tag);
    TOpenSSLGcmCrypto crypto;
    crypto.SetKey(v.Key);
    crypto.SetIv(v.Iv);
    crypto.SetAad(v.Aad);

    TMemoryStream plainIn(FromHex(v.Plain)), sealed;
    ASSERT_EQ(crypto.Encrypt(plainIn, sealed, nullptr), 0) << crypto.LastErrorMsg();
    EXPECT_EQ(ToHex(sealed.Data()), ToHex(stored));

    TMemoryStream storedIn(stored), opened;
    ASSERT_EQ(crypto.Decrypt(storedIn, opened, nullptr), 0) << crypto.LastErrorMsg();
    EXPECT_EQ(ToHex(opened.Data()), ToHex(FromHex(v.Plain)));
  }
}

class CryptoFileTest : public test::TConfigHomeTest {
 protected:
  void SetUp() override {
    TConfigHomeTest::SetUp();
    FRoot = Root() + "/files";
    std::filesystem::create_directory(FRoot);
    SetKeys(FCrypto, 0);
  }

  // Two distinct sets of key material: IV lengths 12 and 16, AAD given and empty.
  static void SetKeys(TOpenSSLGcmCrypto& crypto, int set) {
    if (set == 0) {
      crypto.SetKey(ToHex(Key(0)));
      crypto.SetIv(ToHex(Iv(0)));
      crypto.SetAad(ToHex(Aad(0)));
    } else {
      crypto.SetKey2(ToHex(Key(1)));
      crypto.SetIv2(ToHex(Iv(1)));
      crypto.SetAad2(ToHex(Aad(1)));
    }
  }
  static std::string Key(int set) { return RandomBytes(32, 100 + set); }
  static std::string Iv(int set) { return RandomBytes(set == 0 ? 12 : 16, 200 + set); }
  static std::string Aad(int set) { return set == 0 ? RandomBytes(40, 300) : std::string(); }

  std::string Path(const std::string& name) const { return FRoot + "/" + name; }
  // Everything in the folder, so a leftover temporary file shows.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(FRoot)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string FRoot;
  TOpenSSLGcmCrypto FCrypto;
  static constexpr std::size_t kBuffer = 64 * 1024;
};

// 100,000 bytes: several 32 KiB chunks and a part one, more than one buffer.
TEST_F(CryptoFileTest, FilesMatchTheIndependentPathBothWays) {
  const std::string plain = RandomBytes(100000, 1);
  WriteBytes(Path("plain"), plain);
  ASSERT_EQ(FCrypto.Encrypt(Path("plain"), Path("ours"), kBuffer, nullptr), 0) << FCrypto.LastErrorMsg();
  const std::string reference = SealWithEvp(Key(0), Iv(0), Aad(0), plain);
  EXPECT_EQ(ReadBytes(Path("ours")), reference);

  WriteBytes(Path("theirs"), reference);
  ASSERT_EQ(FCrypto.Decrypt(Path("theirs"), Path("back"), kBuffer, nullptr, false), 0) << FCrypto.LastErrorMsg();
  EXPECT_EQ(ReadBytes(Path("back")), plain);
  EXPECT_EQ(Names(), (std::vector<std::string>{"back", "ours", "plain", "theirs"}));
}

TEST_F(CryptoFileTest, RecryptedFileOpensWithTheNewKeyOnly) {
  const std::string plain = RandomBytes(70000, 2);
  WriteBytes(Path("old"), SealWithEvp(Key(0), Iv(0), Aad(0), plain));
  SetKeys(FCrypto, 1);
  ASSERT_EQ(FCrypto.Recrypt(Path("old"), Path("new"), kBuffer, nullptr), 0) << FCrypto.LastErrorMsg();
  const std::string rekeyed = ReadBytes(Path("new"));
  EXPECT_EQ(rekeyed, SealWithEvp(Key(1), Iv(1), Aad(1), plain));
  EXPECT_EQ(OpenWithEvp(Key(0), Iv(0), Aad(0), rekeyed), std::nullopt);
  // Only the IV changes: still a different file.
  TOpenSSLGcmCrypto ivOnly;
  SetKeys(ivOnly, 0);
  ivOnly.SetKey2(ToHex(Key(0)));
  ivOnly.SetIv2(ToHex(Iv(1)));
  ivOnly.SetAad2(ToHex(Aad(0)));
  ASSERT_EQ(ivOnly.Recrypt(Path("old"), Path("iv"), kBuffer, nullptr), 0);
  EXPECT_EQ(OpenWithEvp(Key(0), Iv(1), Aad(0), ReadBytes(Path("iv"))), plain);
  EXPECT_EQ(OpenWithEvp(Key(0), Iv(0), Aad(0), ReadBytes(Path("iv"))), std::nullopt);
}

TEST_F(CryptoFileTest, SizesOfStoredFiles) {
  for (std::size_t size : {std::size_t{0}, std::size_t{100}, kCryptoChunkSize, 3 * kBuffer + 1}) {
    SCOPED_TRACE(size);
    WriteBytes(Path("plain"), RandomBytes(size, 3));
    ASSERT_EQ(FCrypto.Encrypt(Path("plain"), Path("stored"), kBuffer, nullptr), 0);
    const auto stored = FileSizeOf(Path("stored"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, static_cast<std::int64_t>(size + 20));
    EXPECT_EQ(PlainSizeOfStoredFile(*stored), static_cast<std::int64_t>(size));
    ASSERT_EQ(FCrypto.Decrypt(Path("stored"), Path("back"), kBuffer, nullptr, false), 0);
    EXPECT_EQ(ReadBytes(Path("back")), ReadBytes(Path("plain")));
  }
  EXPECT_EQ(PlainSizeOfStoredFile(20), 0);
  EXPECT_EQ(PlainSizeOfStoredFile(19), 0);
}

// A stored file that does not open leaves no plain data anywhere, and an
// existing target keeps its content.
TEST_F(CryptoFileTest, BadStoredFilesLeaveNothingBehind) {
  const std::string good = SealWithEvp(Key(0), Iv(0), Aad(0), RandomBytes(50000, 4));
  auto flip = [&](std::size_t pos) {
    std::string s = good;
    s[pos] = static_cast<char>(s[pos] ^ 1);
    return s;
  };
  struct Case {
    const char* Name;
    std::string Stored;
    int LastError;
    std::string Message;
  };
  const std::string out = Path("target");
  const Case cases[] = {
      {"header", flip(0), ceFileHeader, "Invalid file header"},
      {"ciphertext", flip(1000), ceTagVerify, "Tag verify failed (" + out + ")"},
      {"tag", flip(good.size() - 1), ceTagVerify, "Tag verify failed (" + out + ")"},
      {"truncated", good.substr(0, good.size() - 7), ceTagVerify, "Tag verify failed (" + out + ")"},
      {"last chunk missing", good.substr(0, 4 + 32768 + 16), ceTagVerify, "Tag verify failed (" + out + ")"},
      {"shorter than a tag", good.substr(0, 19), ceDecryptInit, "Decrypting initialization failed (" + out + ")"},
      {"header only", good.substr(0, 3), ceFileHeader, "Invalid file header"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteBytes(Path("stored"), c.Stored);
    WriteBytes(out, "previous content");
    EXPECT_EQ(FCrypto.Decrypt(Path("stored"), out, kBuffer, nullptr, false), c.LastError);
    EXPECT_EQ(FCrypto.LastError(), c.LastError);
    EXPECT_EQ(FCrypto.LastErrorMsg(), c.Message);
    EXPECT_EQ(ReadBytes(out), "previous content");
    EXPECT_EQ(Names(), (std::vector<std::string>{"stored", "target"}));
  }
  std::filesystem::remove(out);
  WriteBytes(Path("stored"), flip(1000));
  EXPECT_EQ(FCrypto.Decrypt(Path("stored"), out, kBuffer, nullptr, false), ceTagVerify);
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(CryptoFileTest, WrongKeyMaterialDoesNotVerify) {
  WriteBytes(Path("stored"), SealWithEvp(Key(0), Iv(0), Aad(0), RandomBytes(1000, 5)));
  struct Case {
    const char* Name;
    std::function<void(TOpenSSLGcmCrypto&)> Spoil;
  };
  const Case cases[] = {
      {"key", [](TOpenSSLGcmCrypto& c) { c.SetKey(ToHex(Key(1))); }},
      {"iv", [](TOpenSSLGcmCrypto& c) { c.SetIv(ToHex(Iv(1))); }},
      {"aad", [](TOpenSSLGcmCrypto& c) { c.SetAad(""); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FCrypto.ClearKeys();
    SetKeys(FCrypto, 0);
    c.Spoil(FCrypto);
    EXPECT_EQ(FCrypto.Decrypt(Path("stored"), Path("out"), kBuffer, nullptr, false), ceTagVerify);
    EXPECT_EQ(FCrypto.Recrypt(Path("stored"), Path("out"), kBuffer, nullptr), ceKeyLength);  // no set 1 yet
    SetKeys(FCrypto, 1);
    EXPECT_EQ(FCrypto.Recrypt(Path("stored"), Path("out"), kBuffer, nullptr), ceTagVerify);
    EXPECT_EQ(Names(), std::vector<std::string>{"stored"});
  }
}

// Refused before anything is opened or created: the input need not exist.
TEST_F(CryptoFileTest, UnusableKeyMaterialIsRefusedFirst) {
  struct Case {
    const char* Name;
    std::function<void(TOpenSSLGcmCrypto&)> Set;
  };
  const std::string key = ToHex(Key(0));
  const Case cases[] = {
      {"31-byte key", [&](TOpenSSLGcmCrypto& c) { c.SetKey(key.substr(0, 62)); }},
      {"33-byte key", [&](TOpenSSLGcmCrypto& c) { c.SetKey(key + "00"); }},
      {"no key", [](TOpenSSLGcmCrypto& c) { c.SetKey(""); }},
      {"key not hex", [&](TOpenSSLGcmCrypto& c) { c.SetKey("zz" + key.substr(2)); }},
      {"odd key digits", [&](TOpenSSLGcmCrypto& c) { c.SetKey(key + "0"); }},
      {"no iv", [](TOpenSSLGcmCrypto& c) { c.SetIv(""); }},
      {"iv not hex", [](TOpenSSLGcmCrypto& c) { c.SetIv("00112233445566778899aabg"); }},
      {"aad not hex", [](TOpenSSLGcmCrypto& c) { c.SetAad("abc"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    SetKeys(FCrypto, 0);
    c.Set(FCrypto);
    EXPECT_EQ(FCrypto.Encrypt(Path("missing"), Path("out"), kBuffer, nullptr), ceKeyLength);
    EXPECT_EQ(FCrypto.LastErrorMsg(), "Invalid Key lenght");
    EXPECT_EQ(FCrypto.Decrypt(Path("missing"), Path("out"), kBuffer, nullptr, false), ceKeyLength);
    EXPECT_TRUE(FCrypto.ErrorMsg().empty());
    EXPECT_TRUE(Names().empty());
  }
}

// A cancel from the progress callback, in each operation and at several
// points, leaves the target as it was and no temporary file.
TEST_F(CryptoFileTest, BreakingKeepsThePreviousState) {
  const std::string plain = RandomBytes(300000, 6);
  WriteBytes(Path("plain"), plain);
  WriteBytes(Path("stored"), SealWithEvp(Key(0), Iv(0), Aad(0), plain));
  SetKeys(FCrypto, 1);
  struct Case {
    const char* Name;
    std::function<int(const TCryptoStatusEvent&)> Run;
    int Result;
  };
  const Case cases[] = {
      {"encrypt", [&](const TCryptoStatusEvent& s) { return FCrypto.Encrypt(Path("plain"), Path("target"), kBuffer, s); },
       ceEncryptInit},
      {"decrypt",
       [&](const TCryptoStatusEvent& s) { return FCrypto.Decrypt(Path("stored"), Path("target"), kBuffer, s, false); },
       ceDecryptInit},
      {"recrypt", [&](const TCryptoStatusEvent& s) { return FCrypto.Recrypt(Path("stored"), Path("target"), kBuffer, s); },
       ceDecryptInit},
  };
  for (const Case& c : cases) {
    for (int at : {0, 50, 100}) {
      SCOPED_TRACE(std::string(c.Name) + " at " + std::to_string(at));
      WriteBytes(Path("target"), "previous content");
      EXPECT_EQ(c.Run([at](int perc, bool& broken) { broken = perc >= at; }), c.Result);
      EXPECT_EQ(FCrypto.LastError(), ceBroken);
      EXPECT_TRUE(FCrypto.CopyingHasBeenInterrupted());
      EXPECT_EQ(FCrypto.LastErrorMsg(), "Broken by user");
      EXPECT_EQ(ReadBytes(Path("target")), "previous content");
      EXPECT_EQ(Names(), (std::vector<std::string>{"plain", "stored", "target"}));
    }
  }
  // The next operation starts afresh.
  ASSERT_EQ(FCrypto.Decrypt(Path("stored"), Path("target"), kBuffer, nullptr, false), 0);
  EXPECT_FALSE(FCrypto.CopyingHasBeenInterrupted());
  EXPECT_EQ(ReadBytes(Path("target")), plain);
}

TEST_F(CryptoFileTest, ProgressRunsFromZeroToHundred) {
  WriteBytes(Path("plain"), RandomBytes(1000000, 7));
  std::vector<int> seen;
  const TCryptoStatusEvent status = [&](int perc, bool&) { seen.push_back(perc); };
  ASSERT_EQ(FCrypto.Encrypt(Path("plain"), Path("stored"), kBuffer, status), 0);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 100);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  seen.clear();
  ASSERT_EQ(FCrypto.Decrypt(Path("stored"), Path("back"), kBuffer, status, false), 0);
  EXPECT_EQ(seen.back(), 100);
  EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int p) { return p >= 0 && p <= 100; }));
}

TEST_F(CryptoFileTest, FileErrorsNameTheFileAndTheSystemReason) {
  WriteBytes(Path("plain"), "abc");
  EXPECT_EQ(FCrypto.Encrypt(Path("missing"), Path("out"), kBuffer, nullptr), ceEncryptInit);
  EXPECT_EQ(FCrypto.LastError(), ceOpenError);
  EXPECT_EQ(FCrypto.LastErrorMsg(), "Open file error (" + Path("missing") + ")\r\n\r\nNo such file or directory");

  const std::string out = Path("no-folder/out");
  EXPECT_EQ(FCrypto.Decrypt(Path("plain"), out, kBuffer, nullptr, false), ceDecryptInit);
  EXPECT_EQ(FCrypto.LastError(), ceCreateError);
  EXPECT_EQ(FCrypto.LastErrorMsg(), "Create file error (" + out + ")\r\n\r\n" + out + ": No such file or directory");

  FCrypto.SetIncludedErrNo(true);
  EXPECT_EQ(FCrypto.ErrorText(ceFileHeader), "#5016: Invalid file header");
  EXPECT_EQ(FCrypto.ErrorText(4242), "#4242");
  EXPECT_EQ(FCrypto.ErrorText(ceBroken), "Broken by user");
  FCrypto.SetIncludedErrNo(false);
  EXPECT_EQ(FCrypto.ErrorText(4242), "#4242");
  EXPECT_EQ(FCrypto.ErrorText(ceDecryptUpdate), "Decrypt update failed (" + out + ")");
  EXPECT_EQ(FCrypto.ErrorText(ceEncryptUpdate), "Encrypt udate failed (" + Path("plain") + ")");
}

// A full disk while the output is written: 101 with the system's reason, and
// nothing left. The file-size limit stands in for the disk, in a child process.
TEST_F(CryptoFileTest, AFullDiskLeavesNoPartialFile) {
  WriteBytes(Path("plain"), RandomBytes(200000, 8));
  test::RunInChildProcesses(1, [&](int) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100000, 100000};
    setrlimit(RLIMIT_FSIZE, &limit);
    const int result = FCrypto.Encrypt(Path("plain"), Path("stored"), kBuffer, nullptr);
    const std::string expected = "Write error/disk full (" + Path("stored") + ")\r\n\r\n" + Path("stored") + ": " +
                                 SystemErrorText(EFBIG);
    if (result != ceEncryptInit || FCrypto.LastError() != ceWriteError || FCrypto.LastErrorMsg() != expected ||
        Names() != std::vector<std::string>{"plain"})
      _exit(1);
  });
}

TEST_F(CryptoFileTest, PlainOutputModes) {
  WriteBytes(Path("stored"), SealWithEvp(Key(0), Iv(0), Aad(0), "secret"));
  for (bool encrypted : {true, false}) {
    ASSERT_EQ(FCrypto.Decrypt(Path("stored"), Path("out"), kBuffer, nullptr, encrypted), 0);
    struct stat st {};
    ASSERT_EQ(lstat(Path("out").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, encrypted ? 0600u : DefaultFileMode()) << encrypted;
  }
}

TEST(KofOpenSslCrypto, StreamFailuresBecomeCodes) {
  TOpenSSLGcmCrypto crypto;
  crypto.SetKey(std::string(64, 'A'));
  crypto.SetIv("00112233445566778899AABB");
  TMemoryStream in(RandomBytes(100000, 9)), out;
  out.FFailWritesAfter = 40000;
  EXPECT_EQ(crypto.Encrypt(in, out, nullptr), ceEncryptInit);
  EXPECT_EQ(crypto.LastError(), ceWriteError);
  EXPECT_EQ(crypto.LastErrorMsg(), "Write error/disk full ()\r\n\r\nmemory: " + SystemErrorText(ENOSPC));

  TMemoryStream thrower(RandomBytes(10, 9)), sink;
  const TCryptoStatusEvent fails = [](int, bool&) { throw std::runtime_error("callback failed"); };
  EXPECT_EQ(crypto.Encrypt(thrower, sink, fails), ceEncryptInit);
  EXPECT_EQ(crypto.LastError(), ceIOError);
}

TEST(KofOpenSslCrypto, KeyMaterialProperties) {
  TOpenSSLGcmCrypto crypto;
  crypto.SetKey("00ff10Ab" + std::string(56, '0'));
  EXPECT_EQ(crypto.Key().View(), "00FF10AB" + std::string(56, '0'));
  ASSERT_EQ(crypto.KeyBytes().size(), 32u);
  EXPECT_EQ(crypto.KeyBytes()[1], 0xFF);
  EXPECT_EQ(crypto.KeyStr().View().substr(0, 4), std::string("\x00\xFF\x10\xAB", 4));
  const std::uint8_t iv[] = {1, 2, 3};
  crypto.SetIvBytes(iv);
  EXPECT_EQ(crypto.Iv().View(), "010203");
  EXPECT_EQ(crypto.IvStr().View(), "\x01\x02\x03");
  crypto.SetAad2("A0b1");
  EXPECT_EQ(crypto.Aad2().View(), "A0B1");
  EXPECT_TRUE(crypto.Key2().Empty());
  crypto.SetIv2("xyz1");
  EXPECT_TRUE(crypto.Iv2().Empty());
  crypto.ClearKeys();
  EXPECT_TRUE(crypto.Key().Empty());
  EXPECT_TRUE(crypto.Aad2().Empty());
}

// The buffered stream against a plain string doing the same reads, writes,
// seeks and truncations, with a buffer small enough to cross it often.
TEST(TBufferedFileStreamEx, BehavesLikeThePlainFile) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kof-stream-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::string path = pattern + "/file";
  std::mt19937 engine(10);
  std::string model;
  std::int64_t pos = 0;
  {
    TBufferedFileStreamEx stream(nullptr, path, 0xFF00, 64, 16, 100, nullptr, 0);
    EXPECT_TRUE(stream.Writer());
    for (int step = 0; step < 3000; ++step) {
      SCOPED_TRACE(step);
      const int op = static_cast<int>(engine() % 10);
      const std::size_t n = engine() % 150;
      if (op < 4) {
        const std::string data = RandomBytes(n, static_cast<unsigned>(step));
        stream.Write(data.data(), data.size());
        if (n > 0 && model.size() < pos + n) model.resize(pos + n, '\0');
        model.replace(static_cast<std::size_t>(pos), n, data);
        pos += static_cast<std::int64_t>(n);
      } else if (op < 6) {
        std::string got(n, '\0');
        got.resize(stream.Read(got.data(), n));
        const std::string want = pos < static_cast<std::int64_t>(model.size()) ? model.substr(pos, n) : "";
        ASSERT_EQ(got, want);
        pos += static_cast<std::int64_t>(got.size());
      } else if (op < 9) {
        pos = static_cast<std::int64_t>(engine() % (model.size() + 20));
        if (op == 8) {
          ASSERT_EQ(stream.Seek(pos - static_cast<std::int64_t>(model.size()), SEEK_END), pos);
        } else {
          ASSERT_EQ(stream.Seek(pos, SEEK_SET), pos);
        }
      } else {
        const std::size_t size = engine() % (model.size() + 1);
        stream.SetSize(static_cast<std::int64_t>(size));
        model.resize(size);
      }
      // A write past the end leaves a hole of zeros, as in the model.
      ASSERT_EQ(stream.Size(), static_cast<std::int64_t>(model.size()));
    }
  }
  EXPECT_EQ(ReadBytes(path), model);
  std::filesystem::remove_all(pattern);
}

}  // namespace
}  // namespace kof
