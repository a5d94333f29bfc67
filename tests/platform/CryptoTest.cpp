// The cryptographic primitives of both builds against published answers (RFC 6070 for PBKDF2,
// FIPS-197 for AES-256, RFC 2202 for HMAC-SHA1): the Windows build runs the same tests under wine
// with CNG behind them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Crypto.h"

using namespace vq::platform;

namespace {

std::string Hex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::string Pbkdf2(const std::string& pw, const std::string& salt, uint32_t iterations, size_t len) {
  std::vector<uint8_t> out(len);
  if (!Pbkdf2HmacSha1(reinterpret_cast<const uint8_t*>(pw.data()), pw.size(),
                      reinterpret_cast<const uint8_t*>(salt.data()), salt.size(), iterations, out.data(), len))
    return "failed";
  return Hex(out.data(), len);
}

std::string Hmac(const std::vector<uint8_t>& key, const std::string& msg, size_t piece) {
  auto h = NewHmacSha1(key.data(), key.size());
  if (!h) return "no hmac";
  for (size_t at = 0; at < msg.size(); at += piece) {
    size_t n = std::min(piece, msg.size() - at);
    if (!h->Update(reinterpret_cast<const uint8_t*>(msg.data()) + at, n)) return "update failed";
  }
  uint8_t out[kSha1Digest];
  if (!h->Final(out)) return "final failed";
  return Hex(out, sizeof out);
}

}  // namespace

TEST(Crypto, Pbkdf2HmacSha1GivesThePublishedKeys) {
  EXPECT_EQ(Pbkdf2("password", "salt", 1, 20), "0c60c80f961f0e71f3a9b524af6012062fe037a6");
  EXPECT_EQ(Pbkdf2("password", "salt", 2, 20), "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957");
  EXPECT_EQ(Pbkdf2("password", "salt", 4096, 20), "4b007901b765489abead49d926f721d065a429c1");
  // More than one block of output, as the archives' 66 bytes of keys need.
  EXPECT_EQ(Pbkdf2("passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25),
            "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038");
  EXPECT_EQ(Pbkdf2(std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, 16),
            "56fa6aa75548099dcc37d7f03425e0c3");
}

TEST(Crypto, Aes256EnciphersBlocksAsPublished) {
  uint8_t key[kAes256Key];
  for (int i = 0; i < 32; ++i) key[i] = uint8_t(i);
  auto aes = NewAes256Blocks(key);
  ASSERT_TRUE(aes);
  uint8_t block[3 * kAesBlock];
  for (int b = 0; b < 3; ++b)
    for (int i = 0; i < 16; ++i) block[b * 16 + i] = uint8_t(i * 0x11);
  // Several blocks in one call, in place: each is enciphered on its own.
  ASSERT_TRUE(aes->Encrypt(block, block, 3));
  for (int b = 0; b < 3; ++b) EXPECT_EQ(Hex(block + b * 16, 16), "8ea2b7ca516745bfeafc49904b496089") << b;
  uint8_t zero[kAesBlock] = {}, out[kAesBlock];
  uint8_t zeroKey[kAes256Key] = {};
  auto aes0 = NewAes256Blocks(zeroKey);
  ASSERT_TRUE(aes0);
  ASSERT_TRUE(aes0->Encrypt(zero, out, 1));
  EXPECT_EQ(Hex(out, 16), "dc95c078a2408989ad48a21492842087");
}

TEST(Crypto, HmacSha1GivesThePublishedCodesWhateverThePieces) {
  for (size_t piece : {size_t(1), size_t(7), size_t(1000)}) {
    EXPECT_EQ(Hmac(std::vector<uint8_t>(20, 0x0b), "Hi There", piece), "b617318655057264e28bc0b6fb378c8ef146be00");
    EXPECT_EQ(Hmac(Bytes("Jefe"), "what do ya want for nothing?", piece), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
    // A key longer than SHA-1's block is hashed first.
    EXPECT_EQ(Hmac(std::vector<uint8_t>(80, 0xaa), "Test Using Larger Than Block-Size Key - Hash Key First", piece),
              "aa4ae5e15272d00e95705637ce8a3b55ed402112");
  }
}

TEST(Crypto, RandomBytesDifferFromDrawToDraw) {
  uint8_t a[32] = {}, b[32] = {};
  ASSERT_TRUE(RandomBytes(a, sizeof a));
  ASSERT_TRUE(RandomBytes(b, sizeof b));
  EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
  const uint8_t zero[32] = {};
  EXPECT_NE(std::memcmp(a, zero, sizeof a), 0);
  std::vector<uint8_t> big(100000);
  ASSERT_TRUE(RandomBytes(big.data(), big.size()));
  size_t zeros = 0;
  for (uint8_t v : big) zeros += v == 0;
  EXPECT_LT(zeros, 1000u) << "about 390 zero bytes expected in 100,000";
}
