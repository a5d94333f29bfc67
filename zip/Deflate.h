// Raw DEFLATE compressor (RFC 1951, no zlib or gzip framing) for the ZIP writer's method 8.
// A pure library: input comes through a read callback, output leaves through a flush callback,
// and the whole working state is one block that a writer allocates once and reuses for every
// entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vq::zip {

// Delivers at most max bytes into dst; 0 or -1 means the input has ended.
using DeflateReadFn = int (*)(void* ctx, uint8_t* dst, unsigned max);
// Writes *count bytes of buf. Sets *count to 0 once all of them are written; leaving it
// non-zero reports that the write failed, which fails the stream (nothing is appended past the
// output buffer and no more input is read).
using DeflateFlushFn = void (*)(void* ctx, const uint8_t* buf, unsigned* count);

struct DeflateState;

// The state is large (about 1 MiB, of which the links of long inputs take 700 KiB, cleared only
// when a stream is long enough to use them); nullptr when memory is short.
DeflateState* DeflateStateCreate();
void DeflateStateDestroy(DeflateState* s);

struct DeflateJob {
  int level = 8;  // 1..8; 1..3 greedy, 4..8 lazy
  void* ctx = nullptr;
  DeflateReadFn read = nullptr;
  DeflateFlushFn flush = nullptr;
  uint8_t* out_buf = nullptr;  // at least 64 bytes; the ZIP writer gives its 16 KiB buffer
  unsigned out_size = 0;
  uint16_t* gp_flags = nullptr;  // optional: gains the ZIP level bits (4 for 1..2, 2 for 8)
};

// Compresses the whole input into one stream. Returns the stream's size in bytes. Afterwards
// DeflateError() is the message of the last internal check that failed, or nullptr when the
// stream is sound; callers must treat a message as a failed stream.
uint64_t DeflateRun(DeflateState* s, const DeflateJob& job);
const char* DeflateError(const DeflateState* s);

// Whole-buffer convenience for the tool, tests and benchmarks. Returns false (and the message
// in *error when given) if the compressor reported a failure.
bool DeflateBuffer(int level, const void* data, size_t n, std::string* out, std::string* error = nullptr);

}  // namespace vq::zip
