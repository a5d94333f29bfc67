#include "zip/Crc32.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VQ_CRC_CLMUL 1
#include <immintrin.h>
#endif

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

namespace {

// The raw register (no complement) over more bytes, eight per round.
uint32_t TableRegister(uint32_t c, const unsigned char* p, size_t n) {
  const auto& t = kCrcTables.t;
  while (n >= 8) {
    uint32_t lo = Load32LE(p) ^ c;
    uint32_t hi = Load32LE(p + 4);
    c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][hi & 0xFF] ^
        t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    p += 8;
    n -= 8;
  }
  while (n--) c = t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
  return c;
}

#ifdef VQ_CRC_CLMUL

// Folding with carry-less multiplies. The data is a polynomial over GF(2) with the first bit
// read as the highest power; a 128-bit block X followed by D more bits weighs X * x^D, and
// X * x^D mod P has the same CRC as X wherever it stands, so a block can be multiplied forward
// onto the block D bits later and added to it. With X = H * x^64 + L (H the first eight bytes,
// the low half of the register as the bits are reflected), X * x^D = H * x^(64+D) + L * x^D, and
// each part is one 64 x 32-bit carry-less product by a constant reduced mod P in advance. In the
// reflected order a 64 x 64-bit product comes out one place short of the 128-bit register, so
// the constants are x^(63+D) and x^(D-1) mod P, reflected into the upper 32 bits of a 64-bit
// word. Four blocks are folded side by side (D = 512) to keep the multiplier busy, then into
// one (D = 128); the last block and the tail go through the table. The register in hand is
// added to the first four bytes, where the table's register would meet them.
constexpr uint64_t kFold512H = 0x653d982200000000ull;  // x^575 mod P
constexpr uint64_t kFold512L = 0xcad38e8f00000000ull;  // x^511 mod P
constexpr uint64_t kFold128H = 0x65673b4600000000ull;  // x^191 mod P
constexpr uint64_t kFold128L = 0x9ba54c6f00000000ull;  // x^127 mod P

__attribute__((target("pclmul,sse2"))) inline __m128i FoldOnto(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

__attribute__((target("pclmul,sse2"))) inline __m128i Load128(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// n is at least 64; returns the raw register after all n bytes.
__attribute__((target("pclmul,sse2"))) uint32_t FoldRegister(uint32_t c, const unsigned char* p, size_t n) {
  const __m128i k512 = _mm_set_epi64x(int64_t(kFold512L), int64_t(kFold512H));
  const __m128i k128 = _mm_set_epi64x(int64_t(kFold128L), int64_t(kFold128H));
  __m128i x0 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(int(c)));
  __m128i x1 = Load128(p + 16), x2 = Load128(p + 32), x3 = Load128(p + 48);
  p += 64;
  n -= 64;
  while (n >= 64) {
    x0 = FoldOnto(x0, k512, Load128(p));
    x1 = FoldOnto(x1, k512, Load128(p + 16));
    x2 = FoldOnto(x2, k512, Load128(p + 32));
    x3 = FoldOnto(x3, k512, Load128(p + 48));
    p += 64;
    n -= 64;
  }
  x1 = FoldOnto(x0, k128, x1);
  x2 = FoldOnto(x1, k128, x2);
  x3 = FoldOnto(x2, k128, x3);
  while (n >= 16) {
    x3 = FoldOnto(x3, k128, Load128(p));
    p += 16;
    n -= 16;
  }
  alignas(16) unsigned char last[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(last), x3);
  return TableRegister(TableRegister(0, last, 16), p, n);
}

bool HasClmul() {
  static const bool has = __builtin_cpu_supports("pclmul") != 0;
  return has;
}

#endif

}  // namespace

uint32_t Crc32UpdateTable(uint32_t crc, const void* data, size_t n) {
  return ~TableRegister(~crc, static_cast<const unsigned char*>(data), n);
}

uint32_t Crc32Update(uint32_t crc, const void* data, size_t n) {
#ifdef VQ_CRC_CLMUL
  if (n >= 64 && HasClmul()) return ~FoldRegister(~crc, static_cast<const unsigned char*>(data), n);
#endif
  return Crc32UpdateTable(crc, data, n);
}

}  // namespace vq::zip
