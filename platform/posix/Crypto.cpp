#include "platform/Crypto.h"

#include <errno.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <sys/random.h>

#include <climits>

namespace vq::platform {

bool RandomBytes(uint8_t* out, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t k = getrandom(out + done, n - done, 0);
    if (k < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += size_t(k);
  }
  return true;
}

bool Pbkdf2HmacSha1(const uint8_t* password, size_t passwordLen, const uint8_t* salt, size_t saltLen,
                    uint32_t iterations, uint8_t* out, size_t outLen) {
  if (passwordLen > INT_MAX || saltLen > INT_MAX || outLen > INT_MAX || iterations == 0 || iterations > INT_MAX)
    return false;
  static const char kNothing = 0;
  const char* pw = passwordLen ? reinterpret_cast<const char*>(password) : &kNothing;
  return PKCS5_PBKDF2_HMAC_SHA1(pw, int(passwordLen), salt, int(saltLen), int(iterations), int(outLen), out) == 1;
}

namespace {

class OpenSslAes final : public Aes256Blocks {
 public:
  bool Init(const uint8_t* key) {
    ctx_ = EVP_CIPHER_CTX_new();
    if (!ctx_ || EVP_EncryptInit_ex(ctx_, EVP_aes_256_ecb(), nullptr, key, nullptr) != 1) return false;
    return EVP_CIPHER_CTX_set_padding(ctx_, 0) == 1;
  }
  ~OpenSslAes() override { EVP_CIPHER_CTX_free(ctx_); }
  bool Encrypt(const uint8_t* in, uint8_t* out, size_t blocks) override {
    // Without padding, ECB hands back exactly what it was given, block by block.
    while (blocks > 0) {
      const size_t now = blocks < size_t(INT_MAX / kAesBlock) ? blocks : size_t(INT_MAX / kAesBlock);
      int outLen = 0;
      if (EVP_EncryptUpdate(ctx_, out, &outLen, in, int(now * kAesBlock)) != 1 || size_t(outLen) != now * kAesBlock)
        return false;
      in += now * kAesBlock;
      out += now * kAesBlock;
      blocks -= now;
    }
    return true;
  }

 private:
  EVP_CIPHER_CTX* ctx_ = nullptr;
};

class OpenSslHmac final : public HmacSha1 {
 public:
  bool Init(const uint8_t* key, size_t keyLen) {
    mac_ = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (!mac_) return false;
    ctx_ = EVP_MAC_CTX_new(mac_);
    if (!ctx_) return false;
    char digest[] = "SHA1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_END};
    static const uint8_t kNoKey = 0;
    return EVP_MAC_init(ctx_, keyLen ? key : &kNoKey, keyLen, params) == 1;
  }
  ~OpenSslHmac() override {
    EVP_MAC_CTX_free(ctx_);
    EVP_MAC_free(mac_);
  }
  bool Update(const uint8_t* data, size_t n) override { return n == 0 || EVP_MAC_update(ctx_, data, n) == 1; }
  bool Final(uint8_t out[kSha1Digest]) override {
    size_t len = 0;
    return EVP_MAC_final(ctx_, out, &len, kSha1Digest) == 1 && len == kSha1Digest;
  }

 private:
  EVP_MAC* mac_ = nullptr;
  EVP_MAC_CTX* ctx_ = nullptr;
};

}  // namespace

std::unique_ptr<Aes256Blocks> NewAes256Blocks(const uint8_t key[kAes256Key]) {
  auto a = std::make_unique<OpenSslAes>();
  if (!a->Init(key)) return nullptr;
  return a;
}

std::unique_ptr<HmacSha1> NewHmacSha1(const uint8_t* key, size_t keyLen) {
  auto h = std::make_unique<OpenSslHmac>();
  if (!h->Init(key, keyLen)) return nullptr;
  return h;
}

}  // namespace vq::platform
