// CRC-32 of the ZIP format (reflected polynomial 0xEDB88320). Row 0 of the table is the classic
// byte table, which the cipher's key schedule also steps through; rows 1..7 let the running
// update consume eight bytes per round.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vq::zip {

struct CrcTables {
  uint32_t t[8][256];
};
extern const CrcTables kCrcTables;

// Continues a CRC over more bytes: start with 0, feed every piece in order, and the result is
// the CRC-32 of the concatenation. Runs of 64 bytes or more are folded with carry-less
// multiplies where the processor has them.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t n);
// The same through the tables alone: what runs on a processor without carry-less multiply.
uint32_t Crc32UpdateTable(uint32_t crc, const void* data, size_t n);

// One step of the raw register (no complement), as the cipher's key update uses it.
inline uint32_t Crc32Step(uint32_t reg, uint8_t byte) { return kCrcTables.t[0][(reg ^ byte) & 0xFF] ^ (reg >> 8); }

}  // namespace vq::zip
