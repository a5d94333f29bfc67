// The cryptographic primitives the archives' strong encryption is built from: random bytes from
// the system's source, PBKDF2 with HMAC-SHA1, the AES-256 block cipher and HMAC-SHA1. Each build
// takes them from the system's own well-kept library (CNG on Windows, libcrypto on POSIX); none
// of them is written here. Every call answers false (or null) when the library failed: callers
// must never go on with a key or a salt that was not made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vq::platform {

// Fills out[0..n) from the system's random source (Windows: the system-preferred generator;
// POSIX: getrandom).
bool RandomBytes(uint8_t* out, size_t n);

// PBKDF2 (RFC 8018) with HMAC-SHA1 as its pseudo-random function.
bool Pbkdf2HmacSha1(const uint8_t* password, size_t passwordLen, const uint8_t* salt, size_t saltLen,
                    uint32_t iterations, uint8_t* out, size_t outLen);

constexpr size_t kAesBlock = 16;
constexpr size_t kAes256Key = 32;
constexpr size_t kSha1Digest = 20;

// The AES-256 block function under one key: each 16-byte block enciphered on its own. Counter
// modes are made from it by the caller. One object is for one thread at a time.
class Aes256Blocks {
 public:
  virtual ~Aes256Blocks() = default;
  // in and out may be the same buffer.
  virtual bool Encrypt(const uint8_t* in, uint8_t* out, size_t blocks) = 0;
};
std::unique_ptr<Aes256Blocks> NewAes256Blocks(const uint8_t key[kAes256Key]);

// HMAC-SHA1 of a message given in pieces.
class HmacSha1 {
 public:
  virtual ~HmacSha1() = default;
  virtual bool Update(const uint8_t* data, size_t n) = 0;
  // The code of everything given so far; the object is spent afterwards.
  virtual bool Final(uint8_t out[kSha1Digest]) = 0;
};
std::unique_ptr<HmacSha1> NewHmacSha1(const uint8_t* key, size_t keyLen);

}  // namespace vq::platform
