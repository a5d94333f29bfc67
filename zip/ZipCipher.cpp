#include "zip/ZipCipher.h"

#include "zip/Crc32.h"

namespace vq::zip {

void CipherInitKeys(ZipCipherKeys* keys, std::string_view password) {
  keys->k0 = 0x12345678u;
  keys->k1 = 0x23456789u;
  keys->k2 = 0x34567890u;
  for (char c : password) CipherUpdateKeys(keys, static_cast<uint8_t>(c));
}

void CipherUpdateKeys(ZipCipherKeys* keys, uint8_t plain) {
  keys->k0 = Crc32Step(keys->k0, plain);
  keys->k1 = (keys->k1 + (keys->k0 & 0xFF)) * 134775813u + 1;
  keys->k2 = Crc32Step(keys->k2, uint8_t(keys->k1 >> 24));
}

void CipherEncrypt(ZipCipherKeys* keys, uint8_t* data, size_t n) {
  ZipCipherKeys k = *keys;  // a local copy stays in registers through the loop
  for (size_t i = 0; i < n; ++i) data[i] = CipherEncryptByte(&k, data[i]);
  *keys = k;
}

void MakeEncryptionHeader(ZipCipherKeys* keys, std::string_view password, uint32_t seed, uint16_t dos_time,
                          uint8_t out[12]) {
  CipherInitKeys(keys, password);
  CrtRand rng(seed);
  for (int i = 0; i < 12; ++i) out[i] = uint8_t(rng.Next() >> 7);
  out[11] = uint8_t(dos_time >> 8);
  CipherEncrypt(keys, out, 12);
}

}  // namespace vq::zip
