#include "crypto/KofNaCL.h"

#include <gtest/gtest.h>

#include <sodium.h>

#include <set>

#include "crypto/KofUrlEncode.h"

namespace kof {
namespace {

// Two ends of a connection: the plugin's engine and a stand-in for the server.
class NaCLPair : public ::testing::Test {
 protected:
  TBytes ServerKey() const { return ToBytes(FServer.GetClientPublicKey()); }
  TBytes ClientKey() const { return ToBytes(FClient.GetClientPublicKey()); }
  static TBytes ToBytes(const TPublicKey& key) { return TBytes(key.begin(), key.end()); }

  TSaltyClientEncryption FClient;
  TSaltyClientEncryption FServer;
};

TEST_F(NaCLPair, TextFormOfThreeLettersHasNonceColonAndNineteenBytes) {
  const std::string text = FClient.Encrypt(ServerKey(), "abc");
  ASSERT_FALSE(FClient.CryptError());
  ASSERT_EQ(text.size(), 32u + 1u + 28u);
  EXPECT_EQ(text[32], ':');
  const TEncryptedData data(text);
  EXPECT_EQ(data.Iv().size(), 24u);
  EXPECT_EQ(data.Data().size(), 19u);
  EXPECT_EQ(data.BufferLen(), 24u + 1u + 19u);
}

TEST_F(NaCLPair, RightKeyGivesPlainTextBack) {
  const std::string plains[] = {"abc", "", "P\xC3\xA4ssw\xC3\xB6rd \xF0\x9F\x94\x91", "line1\r\nline2",
                                std::string(100000, 'x')};
  for (const std::string& plain : plains) {
    const std::string text = FClient.Encrypt(ServerKey(), plain);
    ASSERT_FALSE(FClient.CryptError());
    const SecureString back = FServer.Decrypt(ClientKey(), text);
    EXPECT_FALSE(FServer.CryptError()) << plain.substr(0, 20);
    EXPECT_EQ(back.View(), plain);
  }
}

TEST(NaCLWire, ValuesAreStandardBoxesBothWays) {
  TPublicKey serverPub;
  TSecretKey serverSec;
  ASSERT_TRUE(TCurve25519XSalsa20Poly1305::GetKeyPair(serverPub, serverSec));
  TSaltyClientEncryption client;
  const TPublicKey clientPub = client.GetClientPublicKey();
  const TBytes serverKey(serverPub.begin(), serverPub.end());

  // The server opens what we send with the plain box.
  const TEncryptedData sent(client.Encrypt(serverKey, "hello"));
  std::string plain(sent.Data().size() - 16, '\0');
  ASSERT_EQ(crypto_box_open_easy(reinterpret_cast<unsigned char*>(plain.data()), sent.Data().data(),
                                 sent.Data().size(), sent.Iv().data(), clientPub.data(), serverSec.Data()),
            0);
  EXPECT_EQ(plain, "hello");

  // And we open what the server sealed with it.
  TCryptoNonce nonce;
  randombytes_buf(nonce.data(), nonce.size());
  const std::string message = "from server";
  TBytes box(message.size() + 16);
  ASSERT_EQ(crypto_box_easy(box.data(), reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                            nonce.data(), clientPub.data(), serverSec.Data()),
            0);
  EXPECT_EQ(client.Decrypt(serverKey, TEncryptedData(nonce, TByteSpan(box)).ToString()).View(), message);
  EXPECT_FALSE(client.CryptError());
}

TEST_F(NaCLPair, EmptyPlainTextIsTheTagAlone) {
  const std::string text = FClient.Encrypt(ServerKey(), "");
  EXPECT_EQ(TEncryptedData(text).Data().size(), 16u);
  EXPECT_EQ(FServer.Decrypt(ClientKey(), text).View(), "");
  EXPECT_FALSE(FServer.CryptError());
}

TEST_F(NaCLPair, EveryCallUsesANewNonce) {
  std::set<std::string> texts;
  for (int i = 0; i < 20; ++i) texts.insert(FClient.Encrypt(ServerKey(), "same"));
  EXPECT_EQ(texts.size(), 20u);
}

TEST_F(NaCLPair, AnotherKeyPairSetsTheErrorAndGivesNothing) {
  const std::string text = FClient.Encrypt(ServerKey(), "secret");
  TSaltyClientEncryption stranger;
  EXPECT_TRUE(stranger.Decrypt(ClientKey(), text).Empty());
  EXPECT_TRUE(stranger.CryptError());
  // The error reflects the last call only.
  EXPECT_EQ(FServer.Decrypt(ClientKey(), text).View(), "secret");
  EXPECT_FALSE(FServer.CryptError());
}

TEST_F(NaCLPair, MalformedCipherTextsFailWithoutCrash) {
  const std::string good = FClient.Encrypt(ServerKey(), "secret");
  std::string flipped = good;
  flipped[40] = flipped[40] == 'A' ? 'B' : 'A';
  const std::string shortNonce = Base64Encode(std::string(23, 'n')) + good.substr(32);
  const std::string shortBox = good.substr(0, 33) + Base64Encode(std::string(15, 'b'));
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"no colon", good.substr(33)},
      {"not base64", "!!!!:????"},
      {"nonce of 23 bytes", shortNonce},
      {"box shorter than the tag", shortBox},
      {"altered byte", flipped},
      {"colon only", ":"},
      {"truncated", good.substr(0, good.size() - 4)},
      {"binary", std::string("\0\xff:\x80", 4)},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(FServer.Decrypt(ClientKey(), c.text).Empty()) << c.name;
    EXPECT_TRUE(FServer.CryptError()) << c.name;
  }
}

TEST_F(NaCLPair, EmptyCipherTextIsEmptyWithoutError) {
  FServer.SetCryptError();
  EXPECT_TRUE(FServer.Decrypt(ClientKey(), "").Empty());
  EXPECT_FALSE(FServer.CryptError());
}

TEST_F(NaCLPair, RemoteKeyOfWrongSizeFails) {
  const TBytes shortKey(31, 1);
  EXPECT_TRUE(FClient.Encrypt(shortKey, "abc").empty());
  EXPECT_TRUE(FClient.CryptError());
  EXPECT_TRUE(FClient.Decrypt(TBytes{}, FClient.Encrypt(ServerKey(), "abc")).Empty());
  EXPECT_TRUE(FClient.CryptError());
}

TEST_F(NaCLPair, BufferFormCarriesNonceColonAndBox) {
  const TBytes plain = {1, 2, 3, 0, 255};
  const TBytes buffer = FClient.EncryptBuffer(ServerKey(), plain);
  ASSERT_EQ(buffer.size(), 24u + 1u + plain.size() + 16u);
  EXPECT_EQ(buffer[24], 0x3A);
  const TBytes iv(buffer.begin(), buffer.begin() + 24);
  const TBytes box(buffer.begin() + 25, buffer.end());
  const SecureBytes back = FServer.DecryptBuffer(ClientKey(), TEncryptedData(iv, box).ToString());
  EXPECT_FALSE(FServer.CryptError());
  EXPECT_EQ(TBytes(back.begin(), back.end()), plain);
}

TEST(TEncryptedData, ParsesTextFormFromPointerAndWithoutColon) {
  const TCryptoNonce nonce{};
  const TEncryptedData original(nonce, std::string_view("\x01\x02\x03", 3));
  const std::string text = original.ToString();
  const TEncryptedData fromPointer(text.data(), text.size());
  EXPECT_EQ(fromPointer.Iv(), original.Iv());
  EXPECT_EQ(fromPointer.Data(), original.Data());
  EXPECT_EQ(fromPointer.CopyToBuffer(), original.CopyToBuffer());

  const TEncryptedData noColon(Base64Encode(std::string_view("xyz")));
  EXPECT_TRUE(noColon.Iv().empty());
  EXPECT_EQ(noColon.Data(), (TBytes{'x', 'y', 'z'}));
  EXPECT_FALSE(TEncryptedData("%%%").WellFormed());
  EXPECT_TRUE(TEncryptedData(nullptr, 5).Data().empty());
}

TEST(Base64, StandardAlphabetWithPaddingRoundTrips) {
  EXPECT_EQ(Base64Encode(std::string_view("\xfb\xff", 2)), "+/8=");
  EXPECT_EQ(Base64Decode("+/8=").value(), (TBytes{0xfb, 0xff}));
  EXPECT_FALSE(Base64Decode("+/8").has_value());
  EXPECT_FALSE(Base64Decode("-_8=").has_value());
  EXPECT_FALSE(Base64Decode("QQ==\n").has_value());
}

TEST(TSaltyClientEncryption, PublicKeyIs44CharactersOfBase64AndPairsDiffer) {
  TSaltyClientEncryption a, b;
  EXPECT_EQ(a.ClientPublicKeyAsBase64().size(), 44u);
  EXPECT_EQ(a.ClientPublicKeyAsBase64().back(), '=');
  EXPECT_NE(a.ClientPublicKeyAsBase64(), b.ClientPublicKeyAsBase64());
  TBytes pub;
  SecureBytes sec;
  ASSERT_TRUE(TSaltyClientEncryption::GetKeyPair(pub, sec));
  EXPECT_EQ(pub.size(), 32u);
  EXPECT_EQ(sec.size(), 32u);
}

TEST_F(NaCLPair, PropertiesCarryEncryptedAccessCodeAndEscapedPublicKey) {
  const auto lines = NaCLProperties(FClient, ServerKey(), SecureString("1234"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].Name, "KOF-Access-Code");
  EXPECT_EQ(lines[1].Name, "KOF-Encryption");
  EXPECT_EQ(lines[1].Value, "record");
  EXPECT_EQ(lines[2].Name, "KOF-PublicKey");
  EXPECT_EQ(lines[2].Value, EncodeURLElementUTF8(FClient.ClientPublicKeyAsBase64()));
  EXPECT_EQ(lines[2].Value.find_first_of("+/=:"), std::string::npos);
  EXPECT_NE(lines[0].Value.find("%3A"), std::string::npos);

  // The server unescapes and opens the access code.
  std::string unescaped = lines[0].Value;
  for (const auto& [from, to] : {std::pair{"%3A", ":"}, {"%2B", "+"}, {"%2F", "/"}, {"%3D", "="}}) {
    for (std::size_t p; (p = unescaped.find(from)) != std::string::npos;) unescaped.replace(p, 3, to);
  }
  EXPECT_EQ(FServer.Decrypt(ClientKey(), unescaped).View(), "1234");
}

TEST_F(NaCLPair, PropertiesWithoutAccessCodeAndTheirLineForms) {
  const auto lines = NaCLProperties(FClient, ServerKey(), SecureString());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(NaCLPropertyLine(lines[0], '='), "KOF-Encryption=record");
  EXPECT_EQ(NaCLPropertyLine(lines[0], ':'), "KOF-Encryption: record");
}

}  // namespace
}  // namespace kof
