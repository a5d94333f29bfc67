// Strong encryption of an entry in the form other archive tools read and write: the AES extra
// field (0x9901) names AES-256 and the real compression method, the entry's method is 99, and its
// data is a 16-byte salt, a 2-byte password verifier, the compressed bytes in AES-256 counter
// mode and a 10-byte HMAC-SHA1 authentication code of those ciphered bytes. PBKDF2-HMAC-SHA1 with
// 1000 iterations turns password and salt into the cipher key, the authentication key and the
// verifier. The primitives are the platform's (platform/Crypto.h); only the format is made here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/Crypto.h"

namespace vq::zip {

constexpr uint16_t kAesMethod = 99;
constexpr uint16_t kAesExtraId = 0x9901;
constexpr uint16_t kAesExtraDataLen = 7;
constexpr size_t kAesExtraLen = 4 + kAesExtraDataLen;
constexpr uint8_t kAesStrength256 = 3;
// AE-2: the plaintext's CRC is not stored (it would tell anyone without the password whether a
// guess at a file's contents is right); the authentication code covers every ciphered byte.
constexpr uint16_t kAesVendorAe1 = 1;
constexpr uint16_t kAesVendorAe2 = 2;
constexpr uint16_t kAesVersionNeeded = 51;
constexpr size_t kAesSaltLen = 16;
constexpr size_t kAesVerifierLen = 2;
constexpr size_t kAesMacLen = 10;
// Salt and verifier before the data, the code after it.
constexpr size_t kAesOverhead = kAesSaltLen + kAesVerifierLen + kAesMacLen;
constexpr uint32_t kAesIterations = 1000;

// Writes the 11-byte AES extra field: AE-2, AES-256, and the method the data is compressed with.
void AesExtraField(uint8_t out[kAesExtraLen], uint16_t dataMethod);

// The counter-mode cipher and the authentication of one entry. The counter is little-endian and
// starts at 1, as the format has it.
class AesEntryCipher {
 public:
  // Derives the keys from the password's bytes (all of them) and the salt, and gives the
  // verifier. False when the platform's primitives failed.
  bool Start(std::string_view password, const uint8_t salt[kAesSaltLen], uint8_t verifier[kAesVerifierLen]);
  // In place. Encrypt authenticates the ciphered bytes it makes, Decrypt those it is given.
  bool Encrypt(uint8_t* data, size_t n);
  bool Decrypt(uint8_t* data, size_t n);
  // Only authenticates (bytes that are not deciphered, e.g. after the reader stopped).
  bool Authenticate(const uint8_t* data, size_t n);
  // The authentication code of all ciphered bytes so far; the cipher is spent afterwards.
  bool Finish(uint8_t mac[kAesMacLen]);

 private:
  bool Apply(uint8_t* data, size_t n);
  static constexpr size_t kStreamBlocks = 256;
  std::unique_ptr<platform::Aes256Blocks> aes_;
  std::unique_ptr<platform::HmacSha1> hmac_;
  uint64_t counter_ = 0;  // the last block number used
  uint8_t stream_[kStreamBlocks * platform::kAesBlock];
  size_t used_ = sizeof stream_;
};

}  // namespace vq::zip
