// The payload cipher, Base64 and MD5 text.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <random>
#include <string>

#include "config/aes_utils.h"
#include "config/base64.h"
#include "config/md5_hex.h"
#include "log_capture.h"

namespace {

using Bytes = std::string;
using vireo::testing::LogCapture;

const unsigned char* u(const Bytes& b) { return reinterpret_cast<const unsigned char*>(b.data()); }

// One raw AES-128 block operation with the product key, independent of the
// code under test, to look inside the CBC chain.
Bytes rawBlock(const Bytes& block, bool encrypt) {
  static const unsigned char key[16] = {'x', 'g', 'h', 'z', 'f', 'l', 'p', '5',
                                        '2', '3', '0', '9', '1', '9', '3', 0};
  EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(c, EVP_aes_128_ecb(), nullptr, key, nullptr, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(c, 0);
  Bytes out(16, '\0');
  int n = 0;
  EVP_CipherUpdate(c, reinterpret_cast<unsigned char*>(out.data()), &n, u(block), 16);
  EVP_CIPHER_CTX_free(c);
  return out;
}

Bytes xorBlocks(const Bytes& a, const Bytes& b) {
  Bytes out(16, '\0');
  for (int i = 0; i < 16; ++i) out[i] = static_cast<char>(a[i] ^ b[i]);
  return out;
}

Bytes encrypt(const Bytes& plain) {
  Bytes out;
  EXPECT_TRUE(AESUtils::aes_encrypt(u(plain), plain.size(), out));
  return out;
}

Bytes randomBytes(size_t n, unsigned seed) {
  std::mt19937 g(seed);
  Bytes b(n, '\0');
  for (auto& c : b) c = static_cast<char>(g());
  return b;
}

TEST(AesTest, SixteenBytesGainAWholeBlockOfPaddingSixteen) {
  Bytes plain = "0123456789abcdef";
  Bytes cipher = encrypt(plain);
  ASSERT_EQ(cipher.size(), 32u);
  Bytes c1 = cipher.substr(0, 16), c2 = cipher.substr(16);
  EXPECT_EQ(rawBlock(c2, false), xorBlocks(c1, Bytes(16, '\x10')));

  // The first block reveals the vector: sixteen decimal digits.
  Bytes iv = xorBlocks(rawBlock(c1, false), plain);
  for (char c : iv) EXPECT_TRUE(c >= '0' && c <= '9') << iv;
}

TEST(AesTest, LengthsRoundUpAndPaddingFillsTheRest) {
  struct Case {
    size_t n, cipherLength;
  } cases[] = {{0, 16}, {1, 16}, {15, 16}, {16, 32}, {17, 32}, {35, 48}, {48, 64}};
  for (const auto& c : cases) {
    Bytes cipher = encrypt(randomBytes(c.n, static_cast<unsigned>(c.n)));
    ASSERT_EQ(cipher.size(), c.cipherLength) << c.n;
    const size_t last = cipher.size() - 16;
    Bytes previous = last ? cipher.substr(last - 16, 16) : Bytes();
    if (!last) continue;  // the vector is looked at in the test above
    Bytes tail = xorBlocks(rawBlock(cipher.substr(last), false), previous);
    const auto padding = static_cast<unsigned char>(c.cipherLength - c.n);
    for (size_t i = 16 - padding; i < 16; ++i) EXPECT_EQ(static_cast<unsigned char>(tail[i]), padding);
    if (c.n == 35) EXPECT_EQ(padding, 13);
  }
}

TEST(AesTest, EveryLengthRoundTripsAndOperationsDoNotShareState) {
  for (size_t n : {0, 1, 15, 16, 17, 31, 32, 33, 35, 100, 1000}) {
    Bytes plain = randomBytes(n, static_cast<unsigned>(n) + 7);
    Bytes cipher = encrypt(plain);
    EXPECT_EQ(encrypt(plain), cipher) << "the vector must start fresh each time";
    Bytes back = "left over";
    EXPECT_EQ(AESUtils::aes_decrypt(u(cipher), cipher.size(), back), 0) << n;
    EXPECT_EQ(back, plain) << n;
  }
}

TEST(AesTest, EncryptWithoutInputFailsAndLeavesTheOutput) {
  Bytes out = "untouched";
  EXPECT_FALSE(AESUtils::aes_encrypt(nullptr, 0, out));
  EXPECT_EQ(out, "untouched");
}

TEST(AesTest, BadPaddingIsRefusedAndKeepsTheWholePlaintext) {
  LogCapture log;
  Bytes cipher = encrypt("0123456789abcdef");  // second block: sixteen 0x10

  struct Case {
    unsigned char lastByte;
    const wchar_t* line;
  } cases[] = {{0x11, L"bad padding byte"}, {0x00, L"bad padding byte"}, {0x03, L"bad padding"}};
  for (const auto& c : cases) {
    // Changing the first block changes the second block's plaintext byte by byte.
    Bytes tampered = cipher;
    tampered[15] = static_cast<char>(tampered[15] ^ 0x10 ^ c.lastByte);
    Bytes out;
    LogCapture::lines().clear();
    EXPECT_EQ(AESUtils::aes_decrypt(u(tampered), tampered.size(), out), -1);
    EXPECT_EQ(out.size(), 32u);
    ASSERT_EQ(LogCapture::lines().size(), 1u);
    EXPECT_EQ(LogCapture::lines()[0].first, "AESUtils::aes_decrypt");
    EXPECT_EQ(LogCapture::lines()[0].second, c.line);
  }
}

TEST(AesTest, InputThatIsNotWholeBlocksIsRefused) {
  LogCapture log;
  Bytes block = randomBytes(48, 3);
  for (size_t n : {0, 1, 15, 17, 47}) {
    Bytes out = "x";
    EXPECT_EQ(AESUtils::aes_decrypt(u(block), n, out), -1) << n;
    EXPECT_TRUE(out.empty());
  }
  Bytes out;
  EXPECT_EQ(AESUtils::aes_decrypt(nullptr, 16, out), -1);
}

TEST(Base64Test, EncodesTheRfcVectors) {
  struct Case {
    const char *plain, *text;
  } cases[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
               {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"abc", "YWJj"},
               {"ab", "YWI="}};
  for (const auto& c : cases) {
    Bytes plain = c.plain;
    EXPECT_EQ(base64Encode(u(plain), plain.size()), c.text);
    EXPECT_EQ(base64Decode(c.text), plain) << c.text;
  }
}

TEST(Base64Test, DecodingStopsAtTheFirstForeignCharacter) {
  struct Case {
    const char *text, *plain;
  } cases[] = {
      {"YW!I", "a"},        {"YWI=garbage", "ab"}, {"Zm9vYg", "foob"},  {"Zm9vYmE", "fooba"},
      {"Zm9vY", "foo"},     {"Z", ""},             {"====", ""},        {"", ""},
      {"YWJj\nYWJj", "abc"}, {"-_-_", ""},          {"YWJj YWJj", "abc"}, {"\xff\xfe", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(base64Decode(c.text), c.plain) << c.text;
}

TEST(Base64Test, AnyBytesRoundTrip) {
  Bytes all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (size_t n = 0; n <= all.size(); n += 37) {
    Bytes part = all.substr(0, n);
    EXPECT_EQ(base64Decode(base64Encode(u(part), part.size())), part);
  }
}

TEST(Md5Test, DigestsAreLowerCaseHex) {
  struct Case {
    const char *plain, *digest;
  } cases[] = {
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
      {"000A0B0C0D0E|001A2B3C4D5E", "c66c56a5a14b38fefa1beb46a6040a17"},
  };
  for (const auto& c : cases) {
    Bytes plain = c.plain, out;
    EXPECT_TRUE(md5Hex(u(plain), static_cast<std::ptrdiff_t>(plain.size()), out));
    EXPECT_EQ(out, c.digest);
  }
}

TEST(Md5Test, EmptyOrMissingInputFailsAndLeavesTheOutput) {
  Bytes out = "before";
  Bytes some = "x";
  EXPECT_FALSE(md5Hex(u(some), 0, out));
  EXPECT_FALSE(md5Hex(u(some), -1, out));
  EXPECT_FALSE(md5Hex(nullptr, 1, out));
  EXPECT_EQ(out, "before");
}

}  // namespace
