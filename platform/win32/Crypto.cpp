#include "platform/Crypto.h"

#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <climits>
#include <vector>

namespace vq::platform {

namespace {

bool Ok(NTSTATUS s) { return s >= 0; }

// The algorithm providers are opened once and kept for the life of the process; CNG lets any
// number of threads make keys and hashes from one provider.
struct Providers {
  BCRYPT_ALG_HANDLE aes = nullptr;
  BCRYPT_ALG_HANDLE hmac = nullptr;
  Providers() {
    if (!Ok(BCryptOpenAlgorithmProvider(&aes, BCRYPT_AES_ALGORITHM, nullptr, 0)) ||
        !Ok(BCryptSetProperty(aes, BCRYPT_CHAINING_MODE,
                              reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_ECB)),
                              sizeof(BCRYPT_CHAIN_MODE_ECB), 0))) {
      aes = nullptr;
    }
    if (!Ok(BCryptOpenAlgorithmProvider(&hmac, BCRYPT_SHA1_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG)))
      hmac = nullptr;
  }
};

const Providers& TheProviders() {
  static Providers* p = new Providers();  // kept: threads may use it until the process ends
  return *p;
}

class CngAes final : public Aes256Blocks {
 public:
  bool Init(const uint8_t* key) {
    BCRYPT_ALG_HANDLE alg = TheProviders().aes;
    if (!alg) return false;
    return Ok(BCryptGenerateSymmetricKey(alg, &key_, nullptr, 0, const_cast<PUCHAR>(key), ULONG(kAes256Key), 0));
  }
  ~CngAes() override {
    if (key_) BCryptDestroyKey(key_);
  }
  bool Encrypt(const uint8_t* in, uint8_t* out, size_t blocks) override {
    while (blocks > 0) {
      const size_t now = blocks < size_t(0x10000000 / kAesBlock) ? blocks : size_t(0x10000000 / kAesBlock);
      ULONG done = 0;
      const ULONG len = ULONG(now * kAesBlock);
      if (!Ok(BCryptEncrypt(key_, const_cast<PUCHAR>(in), len, nullptr, nullptr, 0, out, len, &done, 0)) || done != len)
        return false;
      in += len;
      out += len;
      blocks -= now;
    }
    return true;
  }

 private:
  BCRYPT_KEY_HANDLE key_ = nullptr;
};

class CngHmac final : public HmacSha1 {
 public:
  bool Init(const uint8_t* key, size_t keyLen) {
    BCRYPT_ALG_HANDLE alg = TheProviders().hmac;
    if (!alg || keyLen > ULONG_MAX) return false;
    static UCHAR noKey = 0;
    return Ok(BCryptCreateHash(alg, &hash_, nullptr, 0, keyLen ? const_cast<PUCHAR>(key) : &noKey, ULONG(keyLen), 0));
  }
  ~CngHmac() override {
    if (hash_) BCryptDestroyHash(hash_);
  }
  bool Update(const uint8_t* data, size_t n) override {
    while (n > 0) {
      const ULONG now = n > 0x10000000 ? 0x10000000 : ULONG(n);
      if (!Ok(BCryptHashData(hash_, const_cast<PUCHAR>(data), now, 0))) return false;
      data += now;
      n -= now;
    }
    return true;
  }
  bool Final(uint8_t out[kSha1Digest]) override { return Ok(BCryptFinishHash(hash_, out, ULONG(kSha1Digest), 0)); }

 private:
  BCRYPT_HASH_HANDLE hash_ = nullptr;
};

}  // namespace

bool RandomBytes(uint8_t* out, size_t n) {
  while (n > 0) {
    const ULONG now = n > 0x10000000 ? 0x10000000 : ULONG(n);
    if (!Ok(BCryptGenRandom(nullptr, out, now, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
    out += now;
    n -= now;
  }
  return true;
}

bool Pbkdf2HmacSha1(const uint8_t* password, size_t passwordLen, const uint8_t* salt, size_t saltLen,
                    uint32_t iterations, uint8_t* out, size_t outLen) {
  BCRYPT_ALG_HANDLE alg = TheProviders().hmac;
  if (!alg || passwordLen > ULONG_MAX || saltLen > ULONG_MAX || outLen > ULONG_MAX || iterations == 0) return false;
  static UCHAR nothing = 0;
  return Ok(BCryptDeriveKeyPBKDF2(alg, passwordLen ? const_cast<PUCHAR>(password) : &nothing, ULONG(passwordLen),
                                  saltLen ? const_cast<PUCHAR>(salt) : &nothing, ULONG(saltLen), iterations, out,
                                  ULONG(outLen), 0));
}

std::unique_ptr<Aes256Blocks> NewAes256Blocks(const uint8_t key[kAes256Key]) {
  auto a = std::make_unique<CngAes>();
  if (!a->Init(key)) return nullptr;
  return a;
}

std::unique_ptr<HmacSha1> NewHmacSha1(const uint8_t* key, size_t keyLen) {
  auto h = std::make_unique<CngHmac>();
  if (!h->Init(key, keyLen)) return nullptr;
  return h;
}

}  // namespace vq::platform
