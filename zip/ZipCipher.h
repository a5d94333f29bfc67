// Traditional ZIP encryption: the three-key stream cipher and the 12-byte header that starts
// every encrypted entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vq::zip {

struct ZipCipherKeys {
  uint32_t k0 = 0;
  uint32_t k1 = 0;
  uint32_t k2 = 0;
};

// Keys for a new entry: the initial values, then one update per password byte (no bytes leave
// the initial values).
void CipherInitKeys(ZipCipherKeys* keys, std::string_view password);
void CipherUpdateKeys(ZipCipherKeys* keys, uint8_t plain);
// The key-stream byte the current keys give.
inline uint8_t CipherStreamByte(const ZipCipherKeys& keys) {
  uint32_t t = (keys.k2 | 2) & 0xFFFF;
  return uint8_t((t * (t ^ 1)) >> 8);
}
inline uint8_t CipherEncryptByte(ZipCipherKeys* keys, uint8_t plain) {
  uint8_t out = plain ^ CipherStreamByte(*keys);
  CipherUpdateKeys(keys, plain);
  return out;
}
// Enciphers in place, in order.
void CipherEncrypt(ZipCipherKeys* keys, uint8_t* data, size_t n);

// The header's random bytes come from this generator: the one the Windows C runtime's rand()
// uses, so the POSIX build writes the same bytes for the same seed.
class CrtRand {
 public:
  explicit CrtRand(uint32_t seed) : state_(seed) {}
  // 0..0x7FFF, as rand() returns it.
  int Next() {
    state_ = state_ * 214013u + 2531011u;
    return int((state_ >> 16) & 0x7FFF);
  }

 private:
  uint32_t state_;
};

// Sets up the keys from the password and fills out[12] with the enciphered header: eleven
// generator bytes and, last, the check byte (high byte of the entry's DOS time), because the
// CRC is not known when the header is written. The keys then run on into the entry data.
void MakeEncryptionHeader(ZipCipherKeys* keys, std::string_view password, uint32_t seed, uint16_t dos_time,
                          uint8_t out[12]);

}  // namespace vq::zip
