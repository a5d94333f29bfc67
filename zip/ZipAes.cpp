#include "zip/ZipAes.h"

#include <cstring>

namespace vq::zip {

void AesExtraField(uint8_t out[kAesExtraLen], uint16_t dataMethod) {
  out[0] = uint8_t(kAesExtraId);
  out[1] = uint8_t(kAesExtraId >> 8);
  out[2] = uint8_t(kAesExtraDataLen);
  out[3] = 0;
  out[4] = uint8_t(kAesVendorAe2);
  out[5] = 0;
  out[6] = 'A';
  out[7] = 'E';
  out[8] = kAesStrength256;
  out[9] = uint8_t(dataMethod);
  out[10] = uint8_t(dataMethod >> 8);
}

namespace {

void WipeBytes(uint8_t* p, size_t n) {
  volatile uint8_t* wipe = p;
  for (size_t i = 0; i < n; ++i) wipe[i] = 0;
}

}  // namespace

bool AesEntryKeys::Make(std::string_view password) {
  Clear();
  password_.assign(password.data(), password.size());
  ready_ = platform::RandomBytes(salt_, kAesSaltLen) &&
           platform::Pbkdf2HmacSha1(reinterpret_cast<const uint8_t*>(password.data()), password.size(), salt_,
                                    kAesSaltLen, kAesIterations, derived_, sizeof derived_);
  // The password stays: what was meant to be ciphered with it must fail, not go out in clear.
  if (!ready_) WipeBytes(derived_, sizeof derived_);
  return ready_;
}

void AesEntryKeys::Clear() {
  ready_ = false;
  WipeBytes(derived_, sizeof derived_);
  WipeBytes(reinterpret_cast<uint8_t*>(password_.data()), password_.size());
  password_.clear();
}

bool AesEntryCipher::StartDerived(const uint8_t* derived, uint8_t verifier[kAesVerifierLen]) {
  aes_ = platform::NewAes256Blocks(derived);
  hmac_ = platform::NewHmacSha1(derived + platform::kAes256Key, platform::kAes256Key);
  std::memcpy(verifier, derived + 2 * platform::kAes256Key, kAesVerifierLen);
  counter_ = 0;
  used_ = sizeof stream_;
  return aes_ && hmac_;
}

bool AesEntryCipher::Start(std::string_view password, const uint8_t salt[kAesSaltLen],
                           uint8_t verifier[kAesVerifierLen]) {
  uint8_t keys[2 * platform::kAes256Key + kAesVerifierLen];
  aes_.reset();
  hmac_.reset();
  bool ok = platform::Pbkdf2HmacSha1(reinterpret_cast<const uint8_t*>(password.data()), password.size(), salt,
                                     kAesSaltLen, kAesIterations, keys, sizeof keys);
  if (ok) ok = StartDerived(keys, verifier);
  // The keys stay in the objects made from them; the copy here is not left on the stack.
  WipeBytes(keys, sizeof keys);
  return ok;
}

bool AesEntryCipher::Start(AesEntryKeys& keys, uint8_t salt[kAesSaltLen], uint8_t verifier[kAesVerifierLen]) {
  aes_.reset();
  hmac_.reset();
  if (!keys.ready_) return false;
  std::memcpy(salt, keys.salt_, kAesSaltLen);
  const bool ok = StartDerived(keys.derived_, verifier);
  keys.Clear();
  return ok;
}

bool AesEntryCipher::Apply(uint8_t* data, size_t n) {
  while (n > 0) {
    if (used_ == sizeof stream_) {
      // The key stream for the next blocks at once: the library pipelines many blocks well.
      for (size_t b = 0; b < kStreamBlocks; ++b) {
        uint64_t c = ++counter_;
        uint8_t* block = stream_ + b * platform::kAesBlock;
        for (int i = 0; i < 8; ++i) block[i] = uint8_t(c >> (8 * i));
        std::memset(block + 8, 0, 8);
      }
      if (!aes_->Encrypt(stream_, stream_, kStreamBlocks)) return false;
      used_ = 0;
    }
    size_t take = sizeof stream_ - used_;
    if (take > n) take = n;
    const uint8_t* s = stream_ + used_;
    size_t i = 0;
    for (; i + 8 <= take; i += 8) {
      uint64_t a, b;
      std::memcpy(&a, data + i, 8);
      std::memcpy(&b, s + i, 8);
      a ^= b;
      std::memcpy(data + i, &a, 8);
    }
    for (; i < take; ++i) data[i] ^= s[i];
    used_ += take;
    data += take;
    n -= take;
  }
  return true;
}

bool AesEntryCipher::Encrypt(uint8_t* data, size_t n) {
  if (!aes_ || !hmac_) return false;
  return Apply(data, n) && hmac_->Update(data, n);
}

bool AesEntryCipher::Decrypt(uint8_t* data, size_t n) {
  if (!aes_ || !hmac_) return false;
  return hmac_->Update(data, n) && Apply(data, n);
}

bool AesEntryCipher::Authenticate(const uint8_t* data, size_t n) { return hmac_ && hmac_->Update(data, n); }

bool AesEntryCipher::Finish(uint8_t mac[kAesMacLen]) {
  if (!hmac_) return false;
  uint8_t full[platform::kSha1Digest];
  const bool ok = hmac_->Final(full);
  hmac_.reset();
  aes_.reset();
  std::memcpy(mac, full, kAesMacLen);
  return ok;
}

}  // namespace vq::zip
