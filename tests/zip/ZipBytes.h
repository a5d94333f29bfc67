// Archives made byte by byte for the reader's tests and fuzzer: any field can be given a value
// the writer would never write, and the result is read from memory.
#pragma once

#include <cstring>
#include <string>

#include "platform/FileSystem.h"
#include "zip/Crc32.h"
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
};

inline std::string BuildZip(const ZipSpec& z) {
  const uint32_t crc = vq::zip::Crc32Update(0, z.plain.data(), z.plain.size());
  const uint32_t size = z.statedSize < 0 ? uint32_t(z.plain.size()) : uint32_t(z.statedSize);
  const bool enc = z.password != nullptr;
  std::string data = z.compressed;
  if (enc) {
    vq::zip::ZipCipherKeys keys;
    uint8_t header[12];
    vq::zip::MakeEncryptionHeader(&keys, z.password, 12345, uint16_t(z.dosTime), header);
    vq::zip::CipherEncrypt(&keys, reinterpret_cast<uint8_t*>(&data[0]), data.size());
    data.insert(0, reinterpret_cast<const char*>(header), 12);
  }
  const uint16_t flags = enc ? 0x0009 : 0x0000;
  std::string out;
  Put32(&out, 0x04034B50);
  Put16(&out, 20);
  Put16(&out, flags);
  Put16(&out, z.method);
  Put16(&out, z.dosTime);
  Put16(&out, z.dosDate);
  Put32(&out, enc ? 0 : crc);
  Put32(&out, enc ? 0 : uint32_t(data.size()));
  Put32(&out, enc ? 0 : size);
  Put16(&out, uint32_t(z.name.size()));
  Put16(&out, 9);
  out += z.name;
  Put16(&out, 0x5455);
  Put16(&out, 5);
  out.push_back(1);
  Put32(&out, z.modified);
  out += data;
  if (enc) {
    Put32(&out, 0x08074B50);
    Put32(&out, crc);
    Put32(&out, uint32_t(data.size()));
    Put32(&out, size);
  }
  const uint32_t cdStart = uint32_t(out.size());
  Put32(&out, 0x02014B50);
  Put16(&out, 0x0B17);
  Put16(&out, 20);
  Put16(&out, flags);
  Put16(&out, z.method);
  Put16(&out, z.dosTime);
  Put16(&out, z.dosDate);
  Put32(&out, crc);
  Put32(&out, uint32_t(data.size()));
  Put32(&out, size);
  Put16(&out, uint32_t(z.name.size()));
  Put16(&out, 9);
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
