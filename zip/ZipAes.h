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
#include <string>
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

// The keys of one entry made ahead of its data: a fresh salt from the system's random source and
// what PBKDF2 derives from it with the password. For a small file the derivation is nearly all
// the cost of its encryption (1000 rounds of HMAC-SHA1 for each of four blocks); made apart, it
// can run where the processor would otherwise wait for the disk. Keys are for one entry only:
// starting a cipher spends them (two entries under one key would share their key stream).
class AesEntryKeys {
 public:
  AesEntryKeys() = default;
  ~AesEntryKeys() { Clear(); }
  AesEntryKeys(const AesEntryKeys&) = delete;
  AesEntryKeys& operator=(const AesEntryKeys&) = delete;
  // A new salt and its keys, whatever the object held. False when the platform's primitives
  // failed: then only the password is held, and a cipher started from it fails.
  bool Make(std::string_view password);
  // True between a successful Make and the cipher that spends them.
  bool Ready() const { return ready_; }
  // The password given to the latest Make, until spent or cleared.
  const std::string& Password() const { return password_; }
  // Forgets the keys and the password, overwriting them.
  void Clear();

 private:
  friend class AesEntryCipher;
  bool ready_ = false;
  std::string password_;
  uint8_t salt_[kAesSaltLen] = {};
  uint8_t derived_[2 * platform::kAes256Key + kAesVerifierLen] = {};
};

// The counter-mode cipher and the authentication of one entry. The counter is little-endian and
// starts at 1, as the format has it.
class AesEntryCipher {
 public:
  // Derives the keys from the password's bytes (all of them) and the salt, and gives the
  // verifier. False when the platform's primitives failed.
  bool Start(std::string_view password, const uint8_t salt[kAesSaltLen], uint8_t verifier[kAesVerifierLen]);
  // The same from keys made beforehand, which it spends (false when they are not ready); gives
  // their salt and verifier.
  bool Start(AesEntryKeys& keys, uint8_t salt[kAesSaltLen], uint8_t verifier[kAesVerifierLen]);
  // In place. Encrypt authenticates the ciphered bytes it makes, Decrypt those it is given.
  bool Encrypt(uint8_t* data, size_t n);
  bool Decrypt(uint8_t* data, size_t n);
  // Only authenticates (bytes that are not deciphered, e.g. after the reader stopped).
  bool Authenticate(const uint8_t* data, size_t n);
  // The authentication code of all ciphered bytes so far; the cipher is spent afterwards.
  bool Finish(uint8_t mac[kAesMacLen]);

 private:
  bool Apply(uint8_t* data, size_t n);
  bool StartDerived(const uint8_t* derived, uint8_t verifier[kAesVerifierLen]);
  static constexpr size_t kStreamBlocks = 256;
  std::unique_ptr<platform::Aes256Blocks> aes_;
  std::unique_ptr<platform::HmacSha1> hmac_;
  uint64_t counter_ = 0;  // the last block number used
  uint8_t stream_[kStreamBlocks * platform::kAesBlock];
  size_t used_ = sizeof stream_;
};

}  // namespace vq::zip
