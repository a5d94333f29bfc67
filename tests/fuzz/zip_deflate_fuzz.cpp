// The first byte picks the level (1..8) and how the input is delivered (whole reads or short,
// uneven ones, as a pipe or a slow disk gives them); the rest is compressed and must inflate
// with zlib to exactly the same bytes.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zip/Deflate.h"

namespace {

struct Ctx {
  const uint8_t* data;
  size_t size;
  size_t pos;
  unsigned chunk;  // 0: as much as asked
  std::string out;
};

int Read(void* c, uint8_t* dst, unsigned max) {
  auto* x = static_cast<Ctx*>(c);
  size_t n = std::min<size_t>(max, x->size - x->pos);
  if (x->chunk) n = std::min<size_t>(n, x->chunk + (x->pos % 7));
  std::memcpy(dst, x->data + x->pos, n);
  x->pos += n;
  return int(n);
}

void Flush(void* c, const uint8_t* buf, unsigned* count) {
  static_cast<Ctx*>(c)->out.append(reinterpret_cast<const char*>(buf), *count);
  *count = 0;
}

vq::zip::DeflateState* g_state = vq::zip::DeflateStateCreate();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int level = 1 + data[0] % 8;
  const unsigned chunk = (data[0] & 0x80) ? 1 + (data[0] >> 3 & 0x0F) * 37 : 0;
  Ctx ctx{data + 1, size - 1, 0, chunk, {}};
  static uint8_t buf[16384];
  vq::zip::DeflateJob job;
  job.level = level;
  job.ctx = &ctx;
  job.read = Read;
  job.flush = Flush;
  job.out_buf = buf;
  job.out_size = sizeof buf;
  uint16_t flags = 0;
  job.gp_flags = &flags;
  uint64_t reported = vq::zip::DeflateRun(g_state, job);  // the state is reused, as in a writer
  if (vq::zip::DeflateError(g_state)) std::abort();
  if (reported != ctx.out.size()) std::abort();

  std::string back(ctx.size + 1, '\0');
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) std::abort();
  z.next_in = reinterpret_cast<Bytef*>(&ctx.out[0]);
  z.avail_in = uInt(ctx.out.size());
  z.next_out = reinterpret_cast<Bytef*>(&back[0]);
  z.avail_out = uInt(back.size());
  int rc = inflate(&z, Z_FINISH);
  size_t got = z.total_out;
  inflateEnd(&z);
  if (rc != Z_STREAM_END || z.avail_in != 0 || got != ctx.size) std::abort();
  if (std::memcmp(back.data(), ctx.data, ctx.size) != 0) std::abort();
  return 0;
}
