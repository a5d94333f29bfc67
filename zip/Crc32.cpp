#include "zip/Crc32.h"

namespace vq::zip {

namespace {

constexpr CrcTables MakeTables() {
  CrcTables r{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    r.t[0][n] = c;
  }
  for (uint32_t n = 0; n < 256; ++n) {
    for (int k = 1; k < 8; ++k) r.t[k][n] = r.t[0][r.t[k - 1][n] & 0xFF] ^ (r.t[k - 1][n] >> 8);
  }
  return r;
}

inline uint32_t Load32LE(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

// Constant-initialised: no first-use race between threads and no start-up cost.
constexpr CrcTables kCrcTables = MakeTables();

uint32_t Crc32Update(uint32_t crc, const void* data, size_t n) {
  const auto& t = kCrcTables.t;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  uint32_t c = ~crc;
  while (n >= 8) {
    uint32_t lo = Load32LE(p) ^ c;
    uint32_t hi = Load32LE(p + 4);
    c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][hi & 0xFF] ^
        t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    p += 8;
    n -= 8;
  }
  while (n--) c = t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
  return ~c;
}

}  // namespace vq::zip
