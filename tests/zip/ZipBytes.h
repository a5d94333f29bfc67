// Archives made byte by byte for the reader's tests and fuzzer: any field can be given a value
// the writer would never write, and the result is read from memory.
#pragma once

#include <cstring>
#include <string>

#include "platform/FileSystem.h"
#include "zip/Crc32.h"
#include "zip/ZipAes.h"
#include "zip/ZipCipher.h"

namespace vqtest {

class MemoryStream : public vq::platform::FileStream {
 public:
  explicit MemoryStream(std::string data) : data_(std::move(data)) {}
  int64_t Read(void* buf, size_t n) override {
    size_t k = pos_ < data_.size() ? std::min(n, data_.size() - pos_) : 0;
    std::memcpy(buf, data_.data() + pos_, k);
    pos_ += k;
    return int64_t(k);
  }
  size_t Write(const void*, size_t) override { return 0; }
  bool SeekSet(uint64_t offset) override {
    pos_ = size_t(offset);
    return true;
  }
  bool Info(vq::platform::FileInfo* out) override {
    *out = vq::platform::FileInfo();
    out->size = data_.size();
    return true;
  }

 private:
  std::string data_;
  size_t pos_ = 0;
};

inline void Put16(std::string* s, uint32_t v) {
  s->push_back(char(v & 0xFF));
  s->push_back(char((v >> 8) & 0xFF));
}
inline void Put32(std::string* s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

// One entry as our writer lays it out (extended timestamps, a descriptor when encrypted), from
// data already compressed with method. The stated size and CRC default to those of plain.
struct ZipSpec {
  std::string name = "a.txt";
  uint16_t method = 8;
  std::string plain;       // what the entry holds
  std::string compressed;  // its data as stored (before encryption)
  const char* password = nullptr;
  int64_t statedSize = -1;  // -1: plain's size
  uint32_t dosTime = 0x5A21, dosDate = 0x5227;
  uint32_t modified = 1609985284;
  int entries = 1;  // the count in the end record (the directory holds one header whatever it says)
  // AES (method 99, sizes in the local header, no descriptor) when set, with the password above.
  struct Aes {
    bool on = false;
    uint16_t vendor = 2;    // AE-2: CRC 0
    uint8_t strength = 3;   // AES-256
    uint16_t fieldLen = 7;  // the AES field's stated data length
    bool inLocal = true;    // the local header carries the field too
    uint8_t localStrength = 3;
    uint8_t salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    int verifierXor = 0;  // forges the verifier
    size_t macKept = 10;  // bytes of the code that stay (the sizes count only those)
    int macXor = 0;       // forges the code
  } aes;
};

// salt, verifier, the ciphered data and the code, as the writer makes them.
inline std::string AesData(const ZipSpec& z) {
  vq::zip::AesEntryCipher c;
  uint8_t verifier[2];
  std::string data = z.compressed;
  uint8_t mac[10] = {};
  if (!c.Start(z.password, z.aes.salt, verifier) || !c.Encrypt(reinterpret_cast<uint8_t*>(&data[0]), data.size()) ||
      !c.Finish(mac))
    return "crypto failed";
  verifier[0] ^= uint8_t(z.aes.verifierXor);
  mac[9] ^= uint8_t(z.aes.macXor);
  std::string out(reinterpret_cast<const char*>(z.aes.salt), 16);
  out.append(reinterpret_cast<const char*>(verifier), 2);
  out += data;
  out.append(reinterpret_cast<const char*>(mac), z.aes.macKept);
  return out;
}

inline std::string BuildZip(const ZipSpec& z) {
  const uint32_t crc = vq::zip::Crc32Update(0, z.plain.data(), z.plain.size());
  const uint32_t size = z.statedSize < 0 ? uint32_t(z.plain.size()) : uint32_t(z.statedSize);
  const bool enc = z.password != nullptr;
  const bool aes = enc && z.aes.on;
  std::string data = aes ? AesData(z) : z.compressed;
  if (enc && !aes) {
    vq::zip::ZipCipherKeys keys;
    uint8_t header[12];
    vq::zip::MakeEncryptionHeader(&keys, z.password, 12345, uint16_t(z.dosTime), header);
    vq::zip::CipherEncrypt(&keys, reinterpret_cast<uint8_t*>(&data[0]), data.size());
    data.insert(0, reinterpret_cast<const char*>(header), 12);
  }
  const uint16_t flags = aes ? 0x0001 : enc ? 0x0009 : 0x0000;
  const uint16_t method = aes ? 99 : z.method;
  const uint32_t storedCrc = aes && z.aes.vendor == 2 ? 0 : crc;
  const bool descriptor = enc && !aes;
  auto aesField = [&](std::string* o, uint8_t strength) {
    Put16(o, 0x9901);
    Put16(o, z.aes.fieldLen);
    std::string f;
    Put16(&f, z.aes.vendor);
    f += "AE";
    f.push_back(char(strength));
    Put16(&f, z.method);
    f.resize(z.aes.fieldLen, '\0');
    *o += f;
  };
  const uint32_t aesFieldLen = aes ? 4 + z.aes.fieldLen : 0;
  std::string out;
  Put32(&out, 0x04034B50);
  Put16(&out, aes ? 51 : 20);
  Put16(&out, flags);
  Put16(&out, method);
  Put16(&out, z.dosTime);
  Put16(&out, z.dosDate);
  Put32(&out, descriptor ? 0 : storedCrc);
  Put32(&out, descriptor ? 0 : uint32_t(data.size()));
  Put32(&out, descriptor ? 0 : size);
  Put16(&out, uint32_t(z.name.size()));
  Put16(&out, 9 + (aes && z.aes.inLocal ? aesFieldLen : 0));
  out += z.name;
  Put16(&out, 0x5455);
  Put16(&out, 5);
  out.push_back(1);
  Put32(&out, z.modified);
  if (aes && z.aes.inLocal) aesField(&out, z.aes.localStrength);
  out += data;
  if (descriptor) {
    Put32(&out, 0x08074B50);
    Put32(&out, crc);
    Put32(&out, uint32_t(data.size()));
    Put32(&out, size);
  }
  const uint32_t cdStart = uint32_t(out.size());
  Put32(&out, 0x02014B50);
  Put16(&out, 0x0B17);
  Put16(&out, aes ? 51 : 20);
  Put16(&out, flags);
  Put16(&out, method);
  Put16(&out, z.dosTime);
  Put16(&out, z.dosDate);
  Put32(&out, storedCrc);
  Put32(&out, uint32_t(data.size()));
  Put32(&out, size);
  Put16(&out, uint32_t(z.name.size()));
  Put16(&out, 9 + aesFieldLen);
  Put16(&out, 0);
  Put16(&out, 0);
  Put16(&out, 0);
  Put32(&out, 0x81800020);
  Put32(&out, 0);
  out += z.name;
  Put16(&out, 0x5455);
  Put16(&out, 5);
  out.push_back(1);
  Put32(&out, z.modified);
  if (aes) aesField(&out, z.aes.strength);
  const uint32_t cdSize = uint32_t(out.size()) - cdStart;
  Put32(&out, 0x06054B50);
  Put16(&out, 0);
  Put16(&out, 0);
  Put16(&out, uint32_t(z.entries));
  Put16(&out, uint32_t(z.entries));
  Put32(&out, cdSize);
  Put32(&out, cdStart);
  Put16(&out, 0);
  return out;
}

}  // namespace vqtest
