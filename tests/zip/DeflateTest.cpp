// The compressor: round trips through an independent inflater (zlib where it is linked, always
// the test decoder), and the encoder's own choices seen in the stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/zip/TestInflate.h"
#include "zip/Deflate.h"

#ifdef VQ_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

using vq::zip::DeflateBuffer;

std::string Random(size_t n, uint32_t seed) {
  std::mt19937 g(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = char(g());
  return s;
}

std::string Text(size_t n) {
  static const char* words[] = {"备份",  "the",   "archive", "window",  "slides", "over", "a",
                                "quick", "match", "lazy",    "deflate", "block",  "code", "\n"};
  std::mt19937 g(7);
  std::string s;
  while (s.size() < n) {
    s += words[g() % 14];
    s += ' ';
  }
  s.resize(n);
  return s;
}

// A random block repeated with period `period`, one byte in 97 changed so the matches break.
std::string Periodic(size_t n, size_t period) {
  std::string base = Random(period, uint32_t(period));
  std::string s;
  while (s.size() < n) s += base;
  s.resize(n);
  for (size_t i = period; i < n; i += 97) s[i] = char(s[i] + 1);
  return s;
}

#ifdef VQ_HAVE_ZLIB
bool ZlibInflate(const std::string& in, size_t expect, std::string* out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  out->assign(expect + 1, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = uInt(in.size());
  z.next_out = reinterpret_cast<Bytef*>(&(*out)[0]);
  z.avail_out = uInt(out->size());
  int rc = inflate(&z, Z_FINISH);
  out->resize(z.total_out);
  bool ok = rc == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return ok;
}
#endif

void ExpectRoundTrip(const std::string& data, int level, const std::string& what) {
  SCOPED_TRACE(what + " size " + std::to_string(data.size()) + " level " + std::to_string(level));
  std::string packed, error;
  ASSERT_TRUE(DeflateBuffer(level, data.data(), data.size(), &packed, &error)) << error;
#ifdef VQ_HAVE_ZLIB
  std::string z;
  ASSERT_TRUE(ZlibInflate(packed, data.size(), &z));
  EXPECT_TRUE(z == data);
#endif
  if (data.size() <= (1u << 16)) {  // the test decoder is slow; zlib covers the big ones
    vqtest::InflateResult r = vqtest::TestInflate(packed);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.consumed, packed.size());
    EXPECT_TRUE(r.out == data);
  }
}

bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  return false;
}

TEST(Deflate, RoundTripsEdgeSizesAndContentsAtEveryLevel) {
  // 65300 and 65535: the input ends close to the top of the window, where the match search
  // must not run without the window sliding first.
  const size_t sizes[] = {0,     1,     2,     3,     258,   262,   4096,    32506,  32767,
                          32768, 65274, 65300, 65535, 65536, 65537, 1 << 20, 5 << 20};
  for (size_t n : sizes) {
    const std::string contents[][2] = {
        {"random", Random(n, 1)},
        {"zero", std::string(n, '\0')},
        {"text", Text(n)},
        {"period 4095", Periodic(n, 4095)},
        {"period 4097", Periodic(n, 4097)},
        {"period 32506", Periodic(n, 32506)},
        {"period 32507", Periodic(n, 32507)},
    };
    for (const auto& c : contents) {
      for (int level = 1; level <= 8; ++level) {
        // Big inputs at three levels only: one per procedure plus the writer's level.
        if (n >= (1u << 20) && level != 1 && level != 4 && level != 8) continue;
        if (n >= (5u << 20) && Sanitized() && level != 8) continue;
        ExpectRoundTrip(c[1], level, c[0]);
      }
    }
  }
}

// Reads that deliver a few bytes at a time (a pipe, a slow share) move every refill and slide
// to other positions than whole-buffer reads do.
TEST(Deflate, ShortReadsRoundTrip) {
  struct Ctx {
    const std::string* in;
    size_t pos;
    unsigned chunk;
    std::string out;
  };
  auto read = [](void* c, uint8_t* dst, unsigned max) {
    auto* x = static_cast<Ctx*>(c);
    size_t n = std::min<size_t>({size_t(max), x->in->size() - x->pos, x->chunk + x->pos % 7});
    std::memcpy(dst, x->in->data() + x->pos, n);
    x->pos += n;
    return int(n);
  };
  auto flush = [](void* c, const uint8_t* b, unsigned* n) {
    static_cast<Ctx*>(c)->out.append(reinterpret_cast<const char*>(b), *n);
    *n = 0;
  };
  std::string data = Text(150000);
  for (size_t i = 0; i < data.size(); i += 3) data[i] = char(data[i] ^ (i % 5));
  vq::zip::DeflateState* s = vq::zip::DeflateStateCreate();
  ASSERT_NE(s, nullptr);
  uint8_t buf[16384];
  for (unsigned chunk : {1u, 40u, 1000u}) {
    for (int level : {1, 4, 8}) {
      SCOPED_TRACE(std::to_string(chunk) + " level " + std::to_string(level));
      Ctx ctx{&data, 0, chunk, {}};
      vq::zip::DeflateJob job;
      job.level = level;
      job.ctx = &ctx;
      job.read = read;
      job.flush = flush;
      job.out_buf = buf;
      job.out_size = sizeof buf;
      vq::zip::DeflateRun(s, job);
      ASSERT_EQ(vq::zip::DeflateError(s), nullptr) << vq::zip::DeflateError(s);
      vqtest::InflateResult r = vqtest::TestInflate(ctx.out);
      ASSERT_TRUE(r.ok) << r.error;
      EXPECT_TRUE(r.out == data);
    }
  }
  vq::zip::DeflateStateDestroy(s);
}

TEST(Deflate, EmptyInputIsOneFixedBlockWithOnlyTheEndCode) {
  std::string packed;
  ASSERT_TRUE(DeflateBuffer(8, "", 0, &packed));
  EXPECT_EQ(packed, std::string("\x03\x00", 2));
}

TEST(Deflate, IncompressibleInputGoesOutAsStoredBlocks) {
  std::string data = Random(100000, 3);
  std::string packed;
  ASSERT_TRUE(DeflateBuffer(8, data.data(), data.size(), &packed));
  vqtest::InflateResult r = vqtest::TestInflate(packed);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_TRUE(r.out == data);
  for (const auto& b : r.blocks) EXPECT_EQ(b.type, 0);
  // Stored costs 5 bytes a block at most: 3 bits, alignment, length and its complement.
  EXPECT_LE(packed.size(), data.size() + 5 * r.blocks.size());
}

TEST(Deflate, FarThreeByteMatchesAreDroppedAtLazyLevelsButFourByteOnesKept) {
  // Random bytes from 64 values (so Huffman coding beats a stored block), with a 3-byte and a
  // 4-byte copy from 5000 bytes back.
  std::string data = Random(30000, 11);
  for (auto& c : data) c = char(c & 63);
  data.replace(12000, 3, data, 7000, 3);
  data.replace(20000, 4, data, 15000, 4);
  for (int level = 4; level <= 8; ++level) {
    SCOPED_TRACE(level);
    std::string packed;
    ASSERT_TRUE(DeflateBuffer(level, data.data(), data.size(), &packed));
    vqtest::InflateResult r = vqtest::TestInflate(packed);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_TRUE(r.out == data);
    ASSERT_EQ(r.blocks[0].type, 2);
    bool four_found = false;
    for (const auto& m : r.matches) {
      EXPECT_FALSE(m.length == 3 && m.distance > 4096) << "at " << m.pos;
      if (m.pos == 20000 && m.distance == 5000 && m.length >= 4) four_found = true;
    }
    EXPECT_TRUE(four_found);
  }
}

TEST(Deflate, MatchesNeverReachFartherThan32506AcrossSlides) {
  // Period 32507 is just out of reach: nothing may copy from there. Period 32506 is usable.
  for (size_t period : {size_t(32506), size_t(32507)}) {
    std::string data = Periodic(200000, period);
    for (int level : {1, 3, 4, 8}) {
      SCOPED_TRACE(std::to_string(period) + " level " + std::to_string(level));
      std::string packed;
      ASSERT_TRUE(DeflateBuffer(level, data.data(), data.size(), &packed));
      vqtest::InflateResult r = vqtest::TestInflate(packed);
      ASSERT_TRUE(r.ok) << r.error;
      ASSERT_TRUE(r.out == data);
      unsigned farthest = 0;
      for (const auto& m : r.matches) farthest = std::max(farthest, m.distance);
      EXPECT_LE(farthest, 32506u);
      if (period == 32506) {
        EXPECT_EQ(farthest, 32506u);
        EXPECT_LT(packed.size(), data.size() / 3);
      }
    }
  }
}

TEST(Deflate, BlocksHoldAtMost32767Symbols) {
  // Short random words: many symbols, few long matches, so the symbol buffer ends the blocks.
  std::mt19937 g(5);
  std::string data;
  while (data.size() < 300000) data += char('a' + g() % 4);
  for (int level : {2, 8}) {
    std::string packed;
    ASSERT_TRUE(DeflateBuffer(level, data.data(), data.size(), &packed));
    vqtest::InflateResult r = vqtest::TestInflate(packed);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_TRUE(r.out == data);
    EXPECT_GT(r.blocks.size(), 1u);
    for (const auto& b : r.blocks) EXPECT_LE(b.symbols, 32767u);
  }
}

TEST(Deflate, LevelsSetTheZipFlagBitsAndBadLevelsFail) {
  struct Mem {
    std::string out;
  } mem;
  auto read = [](void*, uint8_t*, unsigned) { return 0; };
  auto flush = [](void* ctx, const uint8_t* b, unsigned* n) {
    static_cast<Mem*>(ctx)->out.append(reinterpret_cast<const char*>(b), *n);
    *n = 0;
  };
  vq::zip::DeflateState* s = vq::zip::DeflateStateCreate();
  ASSERT_NE(s, nullptr);
  uint8_t buf[1024];
  const uint16_t expected[10] = {0, 4, 4, 0, 0, 0, 0, 0, 2, 0};
  for (int level = 0; level <= 9; ++level) {
    uint16_t flags = 0x0008;
    vq::zip::DeflateJob job;
    job.level = level;
    job.ctx = &mem;
    job.read = read;
    job.flush = flush;
    job.out_buf = buf;
    job.out_size = sizeof buf;
    job.gp_flags = &flags;
    vq::zip::DeflateRun(s, job);
    EXPECT_EQ(flags, 0x0008 | expected[level]) << level;
    if (level >= 1 && level <= 8) {
      EXPECT_EQ(vq::zip::DeflateError(s), nullptr) << level;
    } else {
      ASSERT_NE(vq::zip::DeflateError(s), nullptr) << level;
      EXPECT_STREQ(vq::zip::DeflateError(s), "bad pack level");
    }
  }
  vq::zip::DeflateStateDestroy(s);
}

// A destination that never takes anything: the stream must fail, stop reading, and never hand
// out more than the output buffer holds.
TEST(Deflate, RefusedWritesFailTheStreamWithoutOverrunningTheBuffer) {
  struct Ctx {
    std::string in;
    size_t pos = 0;
    unsigned largest = 0;
    int flushes = 0;
  } ctx;
  ctx.in = Random(3 << 20, 9) + Text(1 << 20);
  auto read = [](void* c, uint8_t* dst, unsigned max) {
    auto* x = static_cast<Ctx*>(c);
    size_t n = std::min<size_t>(max, x->in.size() - x->pos);
    std::memcpy(dst, x->in.data() + x->pos, n);
    x->pos += n;
    return int(n);
  };
  auto flush = [](void* c, const uint8_t*, unsigned* n) {
    auto* x = static_cast<Ctx*>(c);
    x->largest = std::max(x->largest, *n);
    x->flushes++;
  };
  for (unsigned out_size : {64u, 16384u}) {
    ctx.pos = 0;
    ctx.largest = 0;
    ctx.flushes = 0;
    std::vector<uint8_t> buf(out_size);
    vq::zip::DeflateState* s = vq::zip::DeflateStateCreate();
    ASSERT_NE(s, nullptr);
    vq::zip::DeflateJob job;
    job.level = 8;
    job.ctx = &ctx;
    job.read = read;
    job.flush = flush;
    job.out_buf = buf.data();
    job.out_size = out_size;
    vq::zip::DeflateRun(s, job);
    ASSERT_NE(vq::zip::DeflateError(s), nullptr);
    EXPECT_STREQ(vq::zip::DeflateError(s), "output write failed");
    EXPECT_EQ(ctx.flushes, 1);  // nothing is offered again after the refusal
    EXPECT_LE(ctx.largest, out_size);
    EXPECT_LT(ctx.pos, ctx.in.size());  // reading stopped early
    vq::zip::DeflateStateDestroy(s);
  }
}

TEST(Deflate, StateIsReusableAcrossStreams) {
  // The writer keeps one state per archive; stale contents of a previous entry must not leak.
  vq::zip::DeflateState* s = vq::zip::DeflateStateCreate();
  ASSERT_NE(s, nullptr);
  struct Ctx {
    const std::string* in;
    size_t pos;
    std::string out;
  };
  auto read = [](void* c, uint8_t* dst, unsigned max) {
    auto* x = static_cast<Ctx*>(c);
    size_t n = std::min<size_t>(max, x->in->size() - x->pos);
    std::memcpy(dst, x->in->data() + x->pos, n);
    x->pos += n;
    return int(n);
  };
  auto flush = [](void* c, const uint8_t* b, unsigned* n) {
    static_cast<Ctx*>(c)->out.append(reinterpret_cast<const char*>(b), *n);
    *n = 0;
  };
  const std::string inputs[] = {Text(200000), Periodic(100000, 5000), "", Random(70000, 4), Text(1000)};
  uint8_t buf[16384];
  for (int round = 0; round < 2; ++round) {
    for (const auto& in : inputs) {
      Ctx ctx{&in, 0, {}};
      vq::zip::DeflateJob job;
      job.level = round == 0 ? 8 : 2;
      job.ctx = &ctx;
      job.read = read;
      job.flush = flush;
      job.out_buf = buf;
      job.out_size = sizeof buf;
      uint64_t size = vq::zip::DeflateRun(s, job);
      ASSERT_EQ(vq::zip::DeflateError(s), nullptr);
      EXPECT_EQ(size, ctx.out.size());
      std::string expect;
      ASSERT_TRUE(DeflateBuffer(job.level, in.data(), in.size(), &expect));
      EXPECT_TRUE(ctx.out == expect);
      vqtest::InflateResult r = vqtest::TestInflate(ctx.out);
      ASSERT_TRUE(r.ok) << r.error;
      EXPECT_TRUE(r.out == in);
    }
  }
  vq::zip::DeflateStateDestroy(s);
}

}  // namespace
