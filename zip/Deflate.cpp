// Hash-chain matcher over a sliding two-window buffer, lazy evaluation from level 4 up, and a
// per-block choice between stored, fixed-code and dynamic-code blocks.
//
// Internal checks never stop the work: a failed one records its message and compression goes
// on; the caller looks at the message once the stream is finished.

#include "zip/Deflate.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "zip/Alloc.h"

namespace vq::zip {

namespace {

constexpr unsigned kWSize = 32768;
constexpr unsigned kWMask = kWSize - 1;
constexpr unsigned kWindowBytes = 2 * kWSize;
// The match compare reads whole 8-byte words and may look up to 7 bytes past a 258-byte match.
constexpr unsigned kWindowPad = 16;
constexpr unsigned kHashSize = 32768;
constexpr unsigned kHashMask = kHashSize - 1;
constexpr unsigned kHash4Bits = 16;
constexpr unsigned kHash8Bits = 16;
constexpr unsigned kHash16Bits = 16;
// Input read in small pieces starts the links once this far in (see DeflateState::links_on).
constexpr unsigned kLinkAfter = 16384;
// The links are kept through the next half window only if at least this many searches in the
// half window before found a match (1 in 64 strings); see DeflateState::links_judged.
constexpr unsigned kLinksWorthy = 512;
// Stands for a link word (LinkTables::link) not loaded yet; no stored word has it, as no string
// starts at the last window offset.
constexpr uint32_t kLinkNotLoaded = 0xFFFFFFFFu;
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 258;
constexpr unsigned kMinLookahead = kMaxMatch + kMinMatch + 1;  // 262
constexpr unsigned kMaxDist = kWSize - kMinLookahead;          // 32506
constexpr unsigned kTooFar = 4096;
constexpr unsigned kLitBufSize = 32768;
constexpr unsigned kDistBufSize = 32768;

constexpr int kMaxBits = 15;
constexpr int kMaxBlBits = 7;
constexpr int kLengthCodes = 29;
constexpr int kLiterals = 256;
constexpr int kEndBlock = 256;
constexpr int kLCodes = kLiterals + 1 + kLengthCodes;  // 286
constexpr int kDCodes = 30;
constexpr int kBlCodes = 19;
constexpr int kHeapSize = 2 * kLCodes + 1;  // 573
constexpr int kRep3To6 = 16;
constexpr int kRepz3To10 = 17;
constexpr int kRepz11To138 = 18;

constexpr uint8_t kExtraLBits[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                               2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kExtraDBits[kDCodes] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                          6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kExtraBlBits[kBlCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
// Order in which the code-length code lengths are sent.
constexpr uint8_t kBlOrder[kBlCodes] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct LevelParams {
  uint16_t good, lazy, nice, chain;
};
constexpr LevelParams kLevels[10] = {{0, 0, 0, 0},         {4, 4, 8, 4},        {4, 5, 16, 8},     {4, 6, 32, 32},
                                     {4, 4, 16, 16},       {8, 16, 32, 32},     {8, 16, 128, 128}, {8, 32, 128, 256},
                                     {32, 128, 258, 1024}, {32, 258, 258, 4096}};

struct Node {
  uint32_t freq;  // frequency while building; unused afterwards
  uint16_t code;  // bit-reversed code, ready to send
  uint16_t len;   // code length (0 = symbol unused)
  uint16_t dad;
};

struct TreeDesc {
  Node* tree;
  const Node* stree;  // the matching fixed tree, or nullptr
  const uint8_t* extra;
  int extra_base;
  int elems;
  int max_length;
  int max_code;
};

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void Store32LE(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
// Number of equal leading bytes given the XOR of two words that differ.
inline unsigned EqualPrefixBytes(uint64_t x) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return unsigned(__builtin_clzll(x)) >> 3;
#else
  return unsigned(__builtin_ctzll(x)) >> 3;
#endif
}

unsigned BitReverse(unsigned code, int len) {
  unsigned r = 0;
  do {
    r = (r << 1) | (code & 1);
    code >>= 1;
  } while (--len > 0);
  return r;
}

}  // namespace

struct DeflateState {
  // Connection.
  int level = 0;
  void* ctx = nullptr;
  DeflateReadFn read = nullptr;
  DeflateFlushFn flush = nullptr;

  // Trees.
  Node dyn_ltree[kHeapSize];
  Node dyn_dtree[2 * kDCodes + 1];
  Node static_ltree[kLCodes + 2];
  Node static_dtree[kDCodes];
  Node bl_tree[2 * kBlCodes + 1];
  TreeDesc l_desc, d_desc, bl_desc;
  uint16_t bl_count[kMaxBits + 1];
  int heap[kHeapSize];
  int heap_len, heap_max;
  uint8_t depth[kHeapSize];

  // Derived tables.
  uint8_t length_code[256];
  uint8_t dist_code[512];
  int base_length[kLengthCodes];
  int base_dist[kDCodes];

  // Symbol buffers.
  uint8_t l_buf[kLitBufSize];
  uint16_t d_buf[kDistBufSize];
  uint8_t flag_buf[kLitBufSize / 8];
  unsigned last_lit, last_dist;

  // Block accounting, in bits.
  uint64_t opt_len, static_len, compressed_len, input_len;

  // Bit output. The bit buffer holds up to 63 bits and leaves in 32-bit steps.
  uint64_t bitbuf;
  int bitcount;
  uint8_t* out;
  unsigned outpos, outsize;
  uint64_t bytes_done;  // bytes handed to the flush callback (or dropped after a failure)
  bool out_failed;

  // Matching.
  uint8_t window[kWindowBytes + kWindowPad];
  // Window positions fit in 16 bits; half-size tables keep the chain walk in cache.
  uint16_t prev[kWSize];
  uint16_t head[kHashSize];
  unsigned data_end;  // window offset just past the bytes read so far
  long block_start;
  unsigned strstart, match_start, prev_length, lookahead;
  bool eofile;
  unsigned max_chain, max_lazy, good_match, nice_match;

  const char* error = nullptr;

  // Links by prefixes of 4, 8 and 16 bytes, kept from the first string of a long input on, or
  // from link_floor on for input that comes in small reads or where they start again (see
  // links_judged): a short input never pays for clearing them. A position's link names the
  // newest older position with the same hash of its first 4, 8 or 16 bytes. When that position
  // has the same bytes it is the newest older one that has them, and as it is in the same chain
  // the match search steps over the strings in between, which cannot be as long, in one go
  // instead of link by link.
  bool links_on;
  unsigned link_floor;  // positions below were inserted before the links were kept
  // Whether the links pay is judged again at every slide of the window, by how many searches
  // in the half window just passed found a match (matches_found). Data that is already packed,
  // or random, finds almost none, and a run of long matches inserts most of its strings
  // without a search: there the links are never followed and only cost four more table updates
  // per byte. The search finds the same match either way, so this decides speed alone. Once
  // judged, small reads no longer start them.
  bool links_judged;
  unsigned matches_found;
  struct LinkTables {
    // Per hash: how many positions went into its chain so far (wrapping), so that the distance
    // along a chain between two of its positions is the difference of their insertion numbers.
    uint16_t count[kHashSize];
    // Per position: its insertion number (bits 16-31) and its four-byte link (bits 0-15).
    uint32_t link[kWSize];
    // Per hash of four bytes: the newest position.
    uint16_t head4[1u << kHash4Bits];
    // The same for the first eight bytes, for runs of strings shorter than eight once the best
    // is 7 bytes or more.
    uint16_t link8[kWSize];
    uint16_t head8[1u << kHash8Bits];
    // And for sixteen, once the best is 15 or more: markup repeats long prefixes.
    uint16_t link16[kWSize];
    uint16_t head16[1u << kHash16Bits];
    // A string is linked by its first 8 or 16 bytes only once they have been read; until then it
    // waits here (the newest strings, in order: fewer than 16 of them).
    struct Pending {
      uint16_t pos[16];
      unsigned n;
    } pending8, pending16;
  } lt;
};

namespace {

using S = DeflateState;

inline void Fail(S* s, const char* msg) { s->error = msg; }

// ---------------------------------------------------------------- bit output

void FlushOut(S* s) {
  if (s->outpos == 0) return;
  if (!s->out_failed) {
    unsigned count = s->outpos;
    s->flush(s->ctx, s->out, &count);
    if (count != 0) {
      s->out_failed = true;
      Fail(s, "output write failed");
    }
  }
  s->bytes_done += s->outpos;
  s->outpos = 0;
}

inline void PutBits(S* s, uint32_t value, int len) {
  s->bitbuf |= uint64_t(value) << s->bitcount;
  s->bitcount += len;
  if (s->bitcount >= 32) {
    if (s->outpos + 4 > s->outsize) FlushOut(s);
    Store32LE(s->out + s->outpos, uint32_t(s->bitbuf));
    s->outpos += 4;
    s->bitbuf >>= 32;
    s->bitcount -= 32;
  }
}

inline void PutCode(S* s, const Node& n) {
  if (n.len == 0 || n.len > kMaxBits) Fail(s, "invalid length");
  PutBits(s, n.code, n.len);
}

uint64_t BitsSent(const S* s) { return (s->bytes_done + s->outpos) * 8 + unsigned(s->bitcount); }

// Byte-aligns the stream and hands everything buffered to the callback.
void AlignAndFlush(S* s) {
  while (s->bitcount > 0) {
    if (s->outpos + 1 > s->outsize) FlushOut(s);
    s->out[s->outpos++] = uint8_t(s->bitbuf);
    s->bitbuf >>= 8;
    s->bitcount = s->bitcount > 8 ? s->bitcount - 8 : 0;
  }
  s->bitbuf = 0;
  FlushOut(s);
}

// Stored bytes bypass the output buffer.
void WriteRaw(S* s, const uint8_t* data, unsigned n) {
  if (n && !s->out_failed) {
    unsigned count = n;
    s->flush(s->ctx, data, &count);
    if (count != 0) {
      s->out_failed = true;
      Fail(s, "output write failed");
    }
  }
  s->bytes_done += n;
}

// ---------------------------------------------------------------- tables and trees

void InitTables(S* s) {
  int length = 0;
  int code;
  for (code = 0; code < kLengthCodes - 1; ++code) {
    s->base_length[code] = length;
    for (int n = 0; n < (1 << kExtraLBits[code]); ++n) s->length_code[length++] = uint8_t(code);
  }
  if (length != 256) Fail(s, "ct_init: length != 256");
  // Length 258 has a code of its own; it overwrites the last slot of code 27.
  s->base_length[kLengthCodes - 1] = 255;
  s->length_code[255] = uint8_t(code);

  int dist = 0;
  for (code = 0; code < 16; ++code) {
    s->base_dist[code] = dist;
    for (int n = 0; n < (1 << kExtraDBits[code]); ++n) s->dist_code[dist++] = uint8_t(code);
  }
  if (dist != 256) Fail(s, "ct_init: dist != 256");
  dist >>= 7;
  for (; code < kDCodes; ++code) {
    s->base_dist[code] = dist << 7;
    for (int n = 0; n < (1 << (kExtraDBits[code] - 7)); ++n) {
      s->dist_code[256 + dist++] = uint8_t(code);
    }
  }
  if (dist != 256) Fail(s, "ct_init: 256+dist != 512");
}

inline unsigned DistCode(const S* s, unsigned dist) {
  return dist < 256 ? s->dist_code[dist] : s->dist_code[256 + (dist >> 7)];
}

// Canonical codes from the length counts, stored bit-reversed for sending.
void GenCodes(S* s, Node* tree, int max_code, const uint16_t* bl_count) {
  uint16_t next_code[kMaxBits + 1];
  unsigned code = 0;
  for (int bits = 1; bits <= kMaxBits; ++bits) {
    code = (code + bl_count[bits - 1]) << 1;
    next_code[bits] = uint16_t(code);
  }
  if (code + bl_count[kMaxBits] - 1 != (1u << kMaxBits) - 1) Fail(s, "inconsistent bit counts");
  for (int n = 0; n <= max_code; ++n) {
    int len = tree[n].len;
    if (len == 0) continue;
    tree[n].code = uint16_t(BitReverse(next_code[len]++, len));
  }
}

void InitFixedTrees(S* s) {
  uint16_t count[kMaxBits + 1] = {};
  int n = 0;
  for (; n <= 143; ++n) s->static_ltree[n].len = 8, count[8]++;
  for (; n <= 255; ++n) s->static_ltree[n].len = 9, count[9]++;
  for (; n <= 279; ++n) s->static_ltree[n].len = 7, count[7]++;
  for (; n <= 287; ++n) s->static_ltree[n].len = 8, count[8]++;
  GenCodes(s, s->static_ltree, kLCodes + 1, count);
  for (n = 0; n < kDCodes; ++n) {
    s->static_dtree[n].len = 5;
    s->static_dtree[n].code = uint16_t(BitReverse(unsigned(n), 5));
  }
}

void InitBlock(S* s) {
  for (int n = 0; n < kLCodes; ++n) s->dyn_ltree[n].freq = 0;
  for (int n = 0; n < kDCodes; ++n) s->dyn_dtree[n].freq = 0;
  for (int n = 0; n < kBlCodes; ++n) s->bl_tree[n].freq = 0;
  s->dyn_ltree[kEndBlock].freq = 1;
  s->opt_len = s->static_len = 0;
  s->last_lit = s->last_dist = 0;
  // A match sets its bit; a literal leaves it clear.
  std::memset(s->flag_buf, 0, sizeof s->flag_buf);
}

void TreeSetup(S* s) {
  s->compressed_len = 0;
  s->input_len = 0;
  s->l_desc = {s->dyn_ltree, s->static_ltree, kExtraLBits, kLiterals + 1, kLCodes, kMaxBits, 0};
  s->d_desc = {s->dyn_dtree, s->static_dtree, kExtraDBits, 0, kDCodes, kMaxBits, 0};
  s->bl_desc = {s->bl_tree, nullptr, kExtraBlBits, 0, kBlCodes, kMaxBlBits, 0};
  InitTables(s);
  InitFixedTrees(s);
  InitBlock(s);
}

// Heap order: smaller frequency first, ties to the shallower subtree.
inline bool Smaller(const S* s, const Node* tree, int n, int m) {
  return tree[n].freq < tree[m].freq || (tree[n].freq == tree[m].freq && s->depth[n] <= s->depth[m]);
}

void SiftDown(S* s, const Node* tree, int k) {
  int v = s->heap[k];
  int j = k << 1;
  while (j <= s->heap_len) {
    if (j < s->heap_len && Smaller(s, tree, s->heap[j + 1], s->heap[j])) j++;
    if (Smaller(s, tree, v, s->heap[j])) break;
    s->heap[k] = s->heap[j];
    k = j;
    j <<= 1;
  }
  s->heap[k] = v;
}

// Code lengths from the tree shape, limited to the descriptor's longest code. heap[heap_max..]
// holds the nodes in removal order (least frequent last), root first.
void GenBitLengths(S* s, TreeDesc* desc) {
  Node* tree = desc->tree;
  const Node* stree = desc->stree;
  const int max_code = desc->max_code;
  const int max_length = desc->max_length;
  int overflow = 0;

  for (int bits = 0; bits <= kMaxBits; ++bits) s->bl_count[bits] = 0;
  tree[s->heap[s->heap_max]].len = 0;  // the root

  int h;
  for (h = s->heap_max + 1; h < kHeapSize; ++h) {
    int n = s->heap[h];
    int bits = tree[tree[n].dad].len + 1;
    if (bits > max_length) bits = max_length, overflow++;
    tree[n].len = uint16_t(bits);
    if (n > max_code) continue;  // not a leaf
    s->bl_count[bits]++;
    int xbits = n >= desc->extra_base ? desc->extra[n - desc->extra_base] : 0;
    uint64_t f = tree[n].freq;
    s->opt_len += f * unsigned(bits + xbits);
    if (stree) s->static_len += f * unsigned(stree[n].len + xbits);
  }
  if (overflow == 0) return;

  // Each two leaves pushed up to the limit pair with one leaf moved down from the deepest
  // shorter length, which keeps the code space exactly full.
  do {
    int bits = max_length - 1;
    while (s->bl_count[bits] == 0) bits--;
    s->bl_count[bits]--;
    s->bl_count[bits + 1] += 2;
    s->bl_count[max_length]--;
    overflow -= 2;
  } while (overflow > 0);

  // Deal the lengths out again, longest to the least frequent leaves.
  h = kHeapSize;
  for (int bits = max_length; bits != 0; --bits) {
    int n = s->bl_count[bits];
    while (n != 0) {
      int m = s->heap[--h];
      if (m > max_code) continue;
      if (tree[m].len != bits) {
        s->opt_len += (int64_t(bits) - tree[m].len) * int64_t(tree[m].freq);
        tree[m].len = uint16_t(bits);
      }
      n--;
    }
  }
}

void BuildTree(S* s, TreeDesc* desc) {
  Node* tree = desc->tree;
  const Node* stree = desc->stree;
  const int elems = desc->elems;
  int max_code = -1;

  s->heap_len = 0;
  s->heap_max = kHeapSize;
  for (int n = 0; n < elems; ++n) {
    if (tree[n].freq != 0) {
      s->heap[++s->heap_len] = max_code = n;
      s->depth[n] = 0;
    } else {
      tree[n].len = 0;
    }
  }
  // A valid code needs two symbols at least: force extra ones with frequency 1.
  while (s->heap_len < 2) {
    int node = s->heap[++s->heap_len] = (max_code < 2 ? ++max_code : 0);
    tree[node].freq = 1;
    s->depth[node] = 0;
    s->opt_len--;
    if (stree) s->static_len -= stree[node].len;
  }
  desc->max_code = max_code;

  for (int n = s->heap_len / 2; n >= 1; --n) SiftDown(s, tree, n);

  int node = elems;
  do {
    int n = s->heap[1];
    s->heap[1] = s->heap[s->heap_len--];
    SiftDown(s, tree, 1);
    int m = s->heap[1];
    s->heap[--s->heap_max] = n;
    s->heap[--s->heap_max] = m;
    tree[node].freq = tree[n].freq + tree[m].freq;
    s->depth[node] = uint8_t((s->depth[n] >= s->depth[m] ? s->depth[n] : s->depth[m]) + 1);
    tree[n].dad = tree[m].dad = uint16_t(node);
    s->heap[1] = node++;
    SiftDown(s, tree, 1);
  } while (s->heap_len >= 2);
  s->heap[--s->heap_max] = s->heap[1];

  GenBitLengths(s, desc);
  GenCodes(s, tree, max_code, s->bl_count);
}

// Walks the run-length form of a tree's code lengths. emit(kind, length, count) is called once
// per step: kind 0 = `count` single lengths, 16/17/18 = a repeat code covering `count` lengths
// (for 16 the length was already sent or continues the previous run).
template <typename Emit>
void WalkLengths(const Node* tree, int max_code, Emit emit) {
  int prevlen = -1;
  int nextlen = tree[0].len;
  int count = 0;
  int max_count = 7, min_count = 4;
  if (nextlen == 0) max_count = 138, min_count = 3;
  for (int n = 0; n <= max_code; ++n) {
    int curlen = nextlen;
    nextlen = n + 1 <= max_code ? tree[n + 1].len : -1;
    if (++count < max_count && curlen == nextlen) continue;
    if (count < min_count) {
      emit(0, curlen, count);
    } else if (curlen != 0) {
      if (curlen != prevlen) {
        emit(0, curlen, 1);
        count--;
      }
      emit(kRep3To6, curlen, count);
    } else if (count <= 10) {
      emit(kRepz3To10, 0, count);
    } else {
      emit(kRepz11To138, 0, count);
    }
    count = 0;
    prevlen = curlen;
    if (nextlen == 0) {
      max_count = 138, min_count = 3;
    } else if (curlen == nextlen) {
      max_count = 6, min_count = 3;
    } else {
      max_count = 7, min_count = 4;
    }
  }
}

void ScanTree(S* s, const Node* tree, int max_code) {
  WalkLengths(tree, max_code, [s](int kind, int len, int count) {
    if (kind == 0) {
      s->bl_tree[len].freq += unsigned(count);
    } else {
      s->bl_tree[kind].freq++;
    }
  });
}

void SendTree(S* s, const Node* tree, int max_code) {
  WalkLengths(tree, max_code, [s](int kind, int len, int count) {
    switch (kind) {
      case 0:
        for (int i = 0; i < count; ++i) PutCode(s, s->bl_tree[len]);
        break;
      case kRep3To6:
        if (count < 3 || count > 6) Fail(s, " 3_6?");
        PutCode(s, s->bl_tree[kRep3To6]);
        PutBits(s, unsigned(count - 3) & 3, 2);
        break;
      case kRepz3To10:
        PutCode(s, s->bl_tree[kRepz3To10]);
        PutBits(s, unsigned(count - 3), 3);
        break;
      default:
        PutCode(s, s->bl_tree[kRepz11To138]);
        PutBits(s, unsigned(count - 11), 7);
        break;
    }
  });
}

int BuildBlTree(S* s) {
  ScanTree(s, s->dyn_ltree, s->l_desc.max_code);
  ScanTree(s, s->dyn_dtree, s->d_desc.max_code);
  BuildTree(s, &s->bl_desc);
  int max_blindex;
  for (max_blindex = kBlCodes - 1; max_blindex >= 3; --max_blindex) {
    if (s->bl_tree[kBlOrder[max_blindex]].len != 0) break;
  }
  // The header: 5 + 5 + 4 bits of counts and 3 bits per code-length code.
  s->opt_len += 3 * (uint64_t(max_blindex) + 1) + 5 + 5 + 4;
  return max_blindex;
}

void SendAllTrees(S* s, int lcodes, int dcodes, int blcodes) {
  if (lcodes < 257 || dcodes < 1 || blcodes < 4) Fail(s, "not enough codes");
  if (lcodes > kLCodes || dcodes > kDCodes || blcodes > kBlCodes) Fail(s, "too many codes");
  PutBits(s, unsigned(lcodes - 257), 5);
  PutBits(s, unsigned(dcodes - 1), 5);
  PutBits(s, unsigned(blcodes - 4), 4);
  for (int rank = 0; rank < blcodes; ++rank) PutBits(s, s->bl_tree[kBlOrder[rank]].len, 3);
  SendTree(s, s->dyn_ltree, lcodes - 1);
  SendTree(s, s->dyn_dtree, dcodes - 1);
}

void CompressBlock(S* s, const Node* ltree, const Node* dtree) {
  unsigned lx = 0, dx = 0, fx = 0;
  unsigned flag = 0;
  while (lx < s->last_lit) {
    if ((lx & 7) == 0) flag = s->flag_buf[fx++];
    unsigned lc = s->l_buf[lx++];
    if ((flag & 1) == 0) {
      PutCode(s, ltree[lc]);
    } else {
      unsigned code = s->length_code[lc];
      const Node& ln = ltree[code + kLiterals + 1];
      if (ln.len == 0) Fail(s, "invalid length");
      // Code and extra bits go out together (at most 15 + 5 bits).
      unsigned extra = kExtraLBits[code];
      PutBits(s, ln.code | ((lc - unsigned(s->base_length[code])) << ln.len), ln.len + int(extra));
      unsigned dist = s->d_buf[dx++];
      code = DistCode(s, dist);
      if (code >= unsigned(kDCodes)) {
        Fail(s, "bad d_code");
        code = kDCodes - 1;
      }
      const Node& dn = dtree[code];
      if (dn.len == 0) Fail(s, "invalid length");
      extra = kExtraDBits[code];
      PutBits(s, dn.code | ((dist - unsigned(s->base_dist[code])) << dn.len), dn.len + int(extra));
    }
    flag >>= 1;
  }
  PutCode(s, ltree[kEndBlock]);
}

// Ends the current block: picks the cheapest of stored, fixed and dynamic codes. `buf` is the
// block's input in the window, or nullptr once its start has slid out.
void FlushBlock(S* s, const uint8_t* buf, uint64_t stored_len, bool eof) {
  BuildTree(s, &s->l_desc);
  BuildTree(s, &s->d_desc);
  int max_blindex = BuildBlTree(s);

  uint64_t opt_lenb = (s->opt_len + 3 + 7) >> 3;
  uint64_t static_lenb = (s->static_len + 3 + 7) >> 3;
  s->input_len += stored_len;
  if (static_lenb <= opt_lenb) opt_lenb = static_lenb;

  if (buf != nullptr && stored_len + 4 <= opt_lenb) {
    // A stored block holds at most 65535 bytes; longer runs go out as several.
    uint64_t left = stored_len;
    do {
      unsigned chunk = left > 65535 ? 65535u : unsigned(left);
      left -= chunk;
      PutBits(s, (0u << 1) + (eof && left == 0 ? 1u : 0u), 3);
      s->compressed_len = (s->compressed_len + 3 + 7) & ~uint64_t(7);
      s->compressed_len += (uint64_t(chunk) + 4) << 3;
      AlignAndFlush(s);
      PutBits(s, chunk | (uint32_t(~chunk & 0xFFFF) << 16), 32);
      FlushOut(s);
      WriteRaw(s, buf, chunk);
      buf += chunk;
    } while (left > 0);
  } else if (static_lenb == opt_lenb) {
    PutBits(s, (1u << 1) + (eof ? 1u : 0u), 3);
    CompressBlock(s, s->static_ltree, s->static_dtree);
    s->compressed_len += 3 + s->static_len;
  } else {
    PutBits(s, (2u << 1) + (eof ? 1u : 0u), 3);
    SendAllTrees(s, s->l_desc.max_code + 1, s->d_desc.max_code + 1, max_blindex + 1);
    CompressBlock(s, s->dyn_ltree, s->dyn_dtree);
    s->compressed_len += 3 + s->opt_len;
  }
  if (s->compressed_len != BitsSent(s)) Fail(s, "bad compressed size");
  InitBlock(s);

  if (eof) {
    AlignAndFlush(s);
    s->compressed_len = (s->compressed_len + 7) & ~uint64_t(7);
    if (s->compressed_len != BitsSent(s)) Fail(s, "bad compressed size");
  }
}

inline void FlushCurrentBlock(S* s, bool eof) {
  const uint8_t* buf = s->block_start >= 0 ? s->window + s->block_start : nullptr;
  FlushBlock(s, buf, uint64_t(long(s->strstart) - s->block_start), eof);
  s->block_start = long(s->strstart);
}

// Whether the block should end after its last_lit-th symbol.
bool BlockEnds(const S* s) {
  if (s->level > 2 && (s->last_lit & 0xFFF) == 0) {
    // End early when the block compresses well and matches are rare: the statistics of what
    // follows are likely to differ.
    uint64_t out_length = uint64_t(s->last_lit) * 8;
    uint64_t in_length = uint64_t(long(s->strstart) - s->block_start);
    for (int dcode = 0; dcode < kDCodes; ++dcode) {
      out_length += uint64_t(s->dyn_dtree[dcode].freq) * (5u + kExtraDBits[dcode]);
    }
    out_length >>= 3;
    if (s->last_dist < s->last_lit / 2 && out_length < in_length / 2) return true;
  }
  return s->last_lit == kLitBufSize - 1 || s->last_dist == kDistBufSize;
}

// Records a literal (dist 0) or a match; true when the block should end here.
inline bool Tally(S* s, unsigned dist, unsigned lc) {
  const unsigned n = s->last_lit++;
  s->l_buf[n] = uint8_t(lc);
  if (dist == 0) {
    s->dyn_ltree[lc].freq++;
  } else {
    dist--;
    if (dist > kMaxDist - 1 || lc > kMaxMatch - kMinMatch || DistCode(s, dist) >= unsigned(kDCodes)) {
      Fail(s, "ct_tally: bad match");
    }
    s->dyn_ltree[s->length_code[lc & 0xFF] + kLiterals + 1].freq++;
    s->dyn_dtree[DistCode(s, dist & 0x7FFF)].freq++;
    s->d_buf[s->last_dist++] = uint16_t(dist);
    s->flag_buf[n >> 3] = uint8_t(s->flag_buf[n >> 3] | (1u << (n & 7)));
  }
  // A block ends only at a multiple of 4096 symbols (early) or when a buffer is full, which
  // the symbol buffer always is first (32767 symbols): both counts leave 0 or 4095 over 4096.
  if (((s->last_lit + 1) & 0xFFF) > 1) return false;
  return BlockEnds(s);
}

// ---------------------------------------------------------------- matching

inline unsigned Hash3(const uint8_t* w) { return ((unsigned(w[0]) << 10) ^ (unsigned(w[1]) << 5) ^ w[2]) & kHashMask; }

inline unsigned Hash4(uint32_t v) { return (v * 0x9E3779B1u) >> (32 - kHash4Bits); }
inline unsigned Hash8(uint64_t v) { return unsigned((v * 0x9E3779B97F4A7C15ull) >> (64 - kHash8Bits)); }
inline unsigned Hash16(uint64_t a, uint64_t b) {
  return unsigned(((a * 0x9E3779B97F4A7C15ull) ^ (b * 0xC2B2AE3D27D4EB4Full)) >> (64 - kHash16Bits));
}

inline void Link8(S* s, unsigned pos) {
  const unsigned h8 = Hash8(Load64(s->window + pos));
  s->lt.link8[pos & kWMask] = s->lt.head8[h8];
  s->lt.head8[h8] = uint16_t(pos);
}

inline void Link16(S* s, unsigned pos) {
  const uint8_t* w = s->window + pos;
  const unsigned h16 = Hash16(Load64(w), Load64(w + 8));
  s->lt.link16[pos & kWMask] = s->lt.head16[h16];
  s->lt.head16[h16] = uint16_t(pos);
}

inline unsigned InsertString(S* s, unsigned pos) {
  const uint8_t* w = s->window + pos;
  unsigned h = Hash3(w);
  // The heads of the next positions are almost always wanted soon; start loading one a few
  // positions ahead, as the tables are too big to stay in the first-level cache. (Near the end
  // of the input this hashes stale bytes, which only wastes the prefetch; the window has padding.)
  __builtin_prefetch(&s->head[Hash3(w + 4)]);
  const unsigned prev_head = s->head[h];
  s->prev[pos & kWMask] = uint16_t(prev_head);
  s->head[h] = uint16_t(pos);
  if (!s->links_on) return prev_head;
  const uint32_t number = ++s->lt.count[h];
  const unsigned h4 = Hash4(Load32(w));
  s->lt.link[pos & kWMask] = s->lt.head4[h4] | (number << 16);
  s->lt.head4[h4] = uint16_t(pos);
  // Mostly the strings near the end of what has been read, while a match is inserted just
  // before a refill.
  if (s->lt.pending8.n == 0 && pos + 8 <= s->data_end) {
    Link8(s, pos);
  } else {
    s->lt.pending8.pos[s->lt.pending8.n++ & 15] = uint16_t(pos);
  }
  if (s->lt.pending16.n == 0 && pos + 16 <= s->data_end) {
    Link16(s, pos);
  } else {
    s->lt.pending16.pos[s->lt.pending16.n++ & 15] = uint16_t(pos);
  }
  return prev_head;
}

// Inserts the strings at positions first..last (in order), as a match's strings go in. Without
// the links the loop keeps the hash rolling, one new byte per string, and leaves the loads of
// the heads to run ahead by themselves: most of the input of repetitive data passes here.
inline void InsertRun(S* s, unsigned first, unsigned last) {
  if (s->links_on) {
    for (unsigned pos = first; pos <= last; ++pos) InsertString(s, pos);
    return;
  }
  const uint8_t* const w = s->window;
  uint16_t* const head = s->head;
  uint16_t* const prev = s->prev;
  unsigned h = ((unsigned(w[first]) << 5) ^ w[first + 1]) & kHashMask;
  for (unsigned pos = first; pos <= last; ++pos) {
    h = ((h << 5) ^ w[pos + 2]) & kHashMask;
    prev[pos & kWMask] = head[h];
    head[h] = uint16_t(pos);
  }
}

// Links the waiting strings whose bytes have now been read, oldest first.
void LinkPending(S* s, S::LinkTables::Pending* p, unsigned len, void (*link)(S*, unsigned)) {
  unsigned i = 0;
  while (i < p->n && p->pos[i] + len <= s->data_end) link(s, p->pos[i++]);
  std::memmove(p->pos, p->pos + i, (p->n - i) * sizeof p->pos[0]);
  p->n -= i;
}

// From here on every inserted string is linked by its prefixes.
void StartLinks(S* s, unsigned floor) {
  std::memset(s->lt.count, 0, sizeof s->lt.count);
  std::memset(s->lt.link, 0, sizeof s->lt.link);
  std::memset(s->lt.head4, 0, sizeof s->lt.head4);
  std::memset(s->lt.head8, 0, sizeof s->lt.head8);
  std::memset(s->lt.head16, 0, sizeof s->lt.head16);
  s->lt.pending8.n = s->lt.pending16.n = 0;
  s->links_on = true;
  s->link_floor = floor;
}

// Positions that slid out become 0, "none".
void Rebase(uint16_t* t, unsigned n) {
  for (unsigned i = 0; i < n; ++i) t[i] = uint16_t(t[i] >= kWSize ? t[i] - kWSize : 0);
}

void Slide(S* s) {
  std::memcpy(s->window, s->window + kWSize, kWSize);
  s->match_start -= kWSize;
  s->strstart -= kWSize;
  s->block_start -= long(kWSize);
  s->data_end -= kWSize;
  Rebase(s->head, kHashSize);
  Rebase(s->prev, kWSize);
  s->link_floor = s->link_floor >= kWSize ? s->link_floor - kWSize : 0;
  if (!s->links_on) return;
  for (unsigned n = 0; n < kWSize; ++n) {
    uint32_t e = s->lt.link[n];
    unsigned m = e & 0xFFFF;
    s->lt.link[n] = (e & 0xFFFF0000u) | (m >= kWSize ? m - kWSize : 0);
  }
  Rebase(s->lt.head4, 1u << kHash4Bits);
  Rebase(s->lt.link8, kWSize);
  Rebase(s->lt.head8, 1u << kHash8Bits);
  Rebase(s->lt.link16, kWSize);
  Rebase(s->lt.head16, 1u << kHash16Bits);
  // Waiting strings are the newest, far above the half that slid out.
  Rebase(s->lt.pending8.pos, s->lt.pending8.n);
  Rebase(s->lt.pending16.pos, s->lt.pending16.n);
}

// Keeps the links through the next half window, starts them from here on, or drops them (their
// tables are cleared when they start again).
void JudgeLinks(S* s) {
  const bool worthy = s->matches_found >= kLinksWorthy;
  s->matches_found = 0;
  s->links_judged = true;
  if (!worthy) {
    s->links_on = false;
  } else if (!s->links_on) {
    StartLinks(s, s->strstart);
  }
}

// Brings the lookahead up to kMinLookahead while input lasts. The window slides whenever the
// position has reached its upper end, also after the input has ended: the match search reads up
// to 258 bytes ahead and must never be run that close to the end of the buffer.
void Refill(S* s) {
  while (s->lookahead < kMinLookahead) {
    if (s->strstart >= kWSize + kMaxDist) {
      Slide(s);
      JudgeLinks(s);
    }
    if (s->eofile) return;
    // A failed output ends the input too: nothing more could reach the archive.
    if (s->out_failed) {
      s->eofile = true;
      return;
    }
    unsigned more = kWindowBytes - s->lookahead - s->strstart;
    if (more < 2) Fail(s, "more < 2");
    int n = more ? s->read(s->ctx, s->window + s->strstart + s->lookahead, more) : 0;
    if (n <= 0) {
      s->eofile = true;
    } else {
      s->lookahead += unsigned(n) <= more ? unsigned(n) : more;
      s->data_end = s->strstart + s->lookahead;
      if (s->links_on) {
        LinkPending(s, &s->lt.pending8, 8, Link8);
        LinkPending(s, &s->lt.pending16, 16, Link16);
      } else if (!s->links_judged && s->strstart >= kLinkAfter) {
        // Input that comes in small reads: long enough now to be worth the links.
        StartLinks(s, s->strstart);
      }
    }
  }
}

// The best match of a walk so far, and the cheap rejects it gives: a candidate can only beat it
// if it agrees with the current string on bytes 0..len, so four of those at the end and four at
// the start are checked first (three at the start while len is 2).
struct Best {
  unsigned len;
  uint32_t mask;
  unsigned end_off;
  uint32_t scan_start, scan_end;

  Best(const uint8_t* scan, unsigned prev_length)
      : len(prev_length),
        mask(prev_length >= 3 ? 0xFFFFFFFFu : 0x00FFFFFFu),
        end_off(prev_length >= 3 ? prev_length - 3 : 0),
        scan_start(Load32(scan)),
        scan_end(Load32(scan + end_off) & mask) {}

  // Compares the candidate at cur_match (whose first four bytes are match_start) with the string
  // at scan; true when it is longer than the best, which it then becomes.
  inline __attribute__((always_inline)) bool Try(S* s, const uint8_t* scan, unsigned cur_match, uint32_t match_start) {
    const uint8_t* match = s->window + cur_match;
    if ((Load32(match + end_off) & mask) != scan_end || ((match_start ^ scan_start) & mask) != 0) return false;
    unsigned n = 2;
    for (;;) {
      uint64_t x = Load64(scan + n) ^ Load64(match + n);
      if (x != 0) {
        n += EqualPrefixBytes(x);
        break;
      }
      n += 8;
      if (n >= kMaxMatch) break;
    }
    if (n > kMaxMatch) n = kMaxMatch;
    if (n <= len) return false;
    if (s->strstart + n > kWindowBytes) Fail(s, "wild scan");
    s->match_start = cur_match;
    len = n;
    mask = 0xFFFFFFFFu;
    end_off = n - 3;
    scan_end = Load32(scan + end_off);
    return true;
  }
};

// The walk link by link, for stretches without prefix links (packed or random data, runs of
// long matches): the candidates the linked walk would compare, in the same order, without its
// set-up, which costs more than the walk itself where a search meets one candidate or none.
inline unsigned WalkPlain(S* s, unsigned cur_match) {
  unsigned chain = s->max_chain;
  const uint8_t* const win = s->window;
  const unsigned strstart = s->strstart;
  const uint8_t* const scan = win + strstart;
  const unsigned nice = s->nice_match;
  const unsigned limit = strstart > kMaxDist ? strstart - kMaxDist : 0;
  if (s->prev_length >= s->good_match) chain >>= 2;
  if (chain == 0) chain = 1;  // the head is compared whatever the budget
  if (strstart > kWindowBytes - kMinLookahead) Fail(s, "insufficient lookahead");
  Best best(scan, s->prev_length);
  do {
    if (cur_match >= strstart) {
      Fail(s, "no future");
      break;
    }
    if (best.Try(s, scan, cur_match, Load32(win + cur_match)) && best.len >= nice) break;
    cur_match = s->prev[cur_match & kWMask];
  } while (cur_match > limit && --chain != 0);
  return best.len;
}

__attribute__((noinline)) unsigned WalkChain(S* s, unsigned cur_match) {
  unsigned chain = s->max_chain;
  const uint8_t* const win = s->window;
  const unsigned strstart = s->strstart;
  const uint8_t* const scan = win + strstart;
  const unsigned nice = s->nice_match;
  const unsigned limit = strstart > kMaxDist ? strstart - kMaxDist : 0;
  if (s->prev_length >= s->good_match) chain >>= 2;
  if (strstart > kWindowBytes - kMinLookahead) Fail(s, "insufficient lookahead");

  Best best(scan, s->prev_length);
  const uint32_t scan_start = best.scan_start;

  // Once the best is 3 bytes or more, a candidate whose first four bytes differ cannot win, so
  // the walk follows the four-byte links over such runs (and the 8- and 16-byte links once the
  // best is 7 or 15). The budget is still counted in chain links (by insertion numbers, which
  // differ by less than 32768 within reach), so exactly the candidates of a link-by-link walk
  // are compared, in the same order. A link whose target has other bytes (the hash collided) is
  // not taken. One that reaches the limit ends the walk, as the string sought lies farther back
  // still, provided every string within reach was linked; otherwise the walk goes on link by
  // link. Links were made from input bytes only if every string involved has 4 (8, 16) bytes of
  // input, which holds while as many are ahead.
  const bool linked = s->links_on;
  const unsigned floor = s->link_floor;
  const bool all_linked = floor <= limit + 1;
  const unsigned lookahead = linked ? s->lookahead : 0;
  // The longest prefix link that may be followed: 16 bytes once the best is 15 or more, 8 from
  // 7, 4 from 3, each only while that many bytes are ahead; 0 while none may.
  auto skip_for = [lookahead](unsigned best) -> unsigned {
    if (best >= 15 && lookahead >= 16) return 16;
    if (best >= 7 && lookahead >= 8) return 8;
    if (best >= 3 && lookahead >= 4) return 4;
    return 0;
  };
  unsigned skip = skip_for(best.len);
  const uint64_t scan8 = Load64(scan);
  const uint64_t scan16 = Load64(scan + 8);
  const uint32_t own = linked ? s->lt.link[strstart & kWMask] : 0;
  const unsigned number = own >> 16;
  unsigned k = 1;  // place of cur_match in the chain, 1 for the head
  uint32_t cur_link = kLinkNotLoaded;
  if (skip != 0) {
    const unsigned c = own & 0xFFFF;
    // The head itself may sit exactly at the limit; no other candidate may.
    const bool reachable = c > limit || (c == cur_match && c >= floor);
    if (!reachable && all_linked) return best.len;
    if (reachable && Load32(win + c) == scan_start) {
      cur_link = s->lt.link[c & kWMask];
      k = (number - (cur_link >> 16)) & 0xFFFF;
      if (k > chain) return best.len;
      cur_match = c;
    }
  }
  for (;;) {
    if (cur_match >= strstart) {
      Fail(s, "no future");
      break;
    }
    // The next link is loaded before the window bytes are compared, so the two loads overlap.
    const unsigned next3 = s->prev[cur_match & kWMask];
    const uint8_t* match = win + cur_match;
    const uint32_t match_start = Load32(match);
    if (best.Try(s, scan, cur_match, match_start)) {
      if (best.len >= nice) break;
      skip = skip_for(best.len);
    }
    if (skip != 0 && cur_match >= floor) {
      unsigned next = 0;
      // The longest prefix the candidate shares with the current string picks the link; one
      // whose target has other bytes (the hash collided) gives way to the next shorter. A link
      // that names the very next string of the chain skips nothing: the plain step gets there
      // without checking the link's target and loading its insertion number, which in text
      // made of near-identical lines is almost every step.
      if (skip == 16 && Load64(match) == scan8 && Load64(match + 8) == scan16) {
        next = s->lt.link16[cur_match & kWMask];
        if (next == next3) goto step;
        if (next <= limit && all_linked) break;
        if (next <= limit || Load64(win + next) != scan8 || Load64(win + next + 8) != scan16) next = 0;
      }
      if (next == 0 && skip >= 8 && Load64(match) == scan8) {
        next = s->lt.link8[cur_match & kWMask];
        if (next == next3) goto step;
        if (next <= limit && all_linked) break;
        if (next <= limit || Load64(win + next) != scan8) next = 0;
      }
      if (next == 0 && match_start == scan_start) {
        if (cur_link == kLinkNotLoaded) cur_link = s->lt.link[cur_match & kWMask];
        next = cur_link & 0xFFFF;
        if (next == next3) goto step;
        if (next <= limit && all_linked) break;
        if (next <= limit || Load32(win + next) != scan_start) next = 0;
      }
      if (next != 0) {
        cur_link = s->lt.link[next & kWMask];
        k = (number - (cur_link >> 16)) & 0xFFFF;
        if (k > chain) break;
        cur_match = next;
        continue;
      }
    }
  step:
    if (next3 <= limit || ++k > chain) break;
    cur_match = next3;
    cur_link = kLinkNotLoaded;
  }
  return best.len;
}

// The plain walk is short and taken at nearly every position of packed data: it goes inline, the
// linked walk stays a call.
inline __attribute__((always_inline)) unsigned LongestMatch(S* s, unsigned cur_match) {
  const unsigned len = s->links_on ? WalkChain(s, cur_match) : WalkPlain(s, cur_match);
  s->matches_found += len >= kMinMatch;
  return len;
}

uint64_t FinishStream(S* s) {
  FlushCurrentBlock(s, true);
  return s->compressed_len >> 3;
}

// Greedy matching for the fast levels: a match is taken as soon as it is found.
uint64_t DeflateFast(S* s) {
  unsigned match_length = 0;
  s->prev_length = kMinMatch - 1;
  while (s->lookahead != 0) {
    unsigned hash_head = 0;
    if (s->lookahead >= kMinMatch) hash_head = InsertString(s, s->strstart);
    match_length = 0;
    if (hash_head != 0 && s->strstart - hash_head <= kMaxDist) {
      if (s->nice_match > s->lookahead) s->nice_match = s->lookahead;
      match_length = LongestMatch(s, hash_head);
      if (match_length > s->lookahead) match_length = s->lookahead;
    }
    bool flush;
    if (match_length >= kMinMatch) {
      flush = Tally(s, s->strstart - s->match_start, match_length - kMinMatch);
      s->lookahead -= match_length;
      if (match_length <= s->max_lazy && s->lookahead >= kMinMatch) {
        // The string at strstart is already in the chains.
        InsertRun(s, s->strstart + 1, s->strstart + match_length - 1);
        s->strstart += match_length;
      } else {
        s->strstart += match_length;
      }
    } else {
      flush = Tally(s, 0, s->window[s->strstart]);
      s->lookahead--;
      s->strstart++;
    }
    if (flush) FlushCurrentBlock(s, false);
    if (s->lookahead < kMinLookahead) Refill(s);
  }
  return FinishStream(s);
}

// Lazy evaluation: a match is kept back one position in case the next one is longer.
uint64_t DeflateLazy(S* s) {
  bool match_available = false;
  unsigned match_length = kMinMatch - 1;
  while (s->lookahead != 0) {
    unsigned hash_head = 0;
    if (s->lookahead >= kMinMatch) hash_head = InsertString(s, s->strstart);

    s->prev_length = match_length;
    unsigned prev_match = s->match_start;
    match_length = kMinMatch - 1;

    if (hash_head != 0 && s->prev_length < s->max_lazy && s->strstart - hash_head <= kMaxDist) {
      if (s->nice_match > s->lookahead) s->nice_match = s->lookahead;
      match_length = LongestMatch(s, hash_head);
      if (match_length > s->lookahead) match_length = s->lookahead;
      // A 3-byte match far back costs about as much as three literals.
      if (match_length == kMinMatch && s->strstart - s->match_start > kTooFar) {
        match_length = kMinMatch - 1;
      }
    }

    if (s->prev_length >= kMinMatch && match_length <= s->prev_length) {
      unsigned max_insert = s->strstart + s->lookahead - kMinMatch;
      bool flush = Tally(s, s->strstart - 1 - prev_match, s->prev_length - kMinMatch);
      s->lookahead -= s->prev_length - 1;
      // The match's strings after the current one, as far as three bytes of input remain.
      const unsigned last = s->strstart + s->prev_length - 2;
      if (s->strstart + 1 <= max_insert) InsertRun(s, s->strstart + 1, last < max_insert ? last : max_insert);
      match_available = false;
      match_length = kMinMatch - 1;
      s->strstart = last + 1;
      if (flush) FlushCurrentBlock(s, false);
    } else if (match_available) {
      if (Tally(s, 0, s->window[s->strstart - 1])) FlushCurrentBlock(s, false);
      s->strstart++;
      s->lookahead--;
    } else {
      match_available = true;
      s->strstart++;
      s->lookahead--;
    }
    if (s->lookahead < kMinLookahead) Refill(s);
  }
  if (match_available) Tally(s, 0, s->window[s->strstart - 1]);
  return FinishStream(s);
}

bool MatcherSetup(S* s, int level, uint16_t* gp_flags) {
  if (level < 1 || level > 8) {
    Fail(s, "bad pack level");
    return false;
  }
  std::memset(s->head, 0, sizeof s->head);
  const LevelParams& p = kLevels[level];
  s->max_lazy = p.lazy;
  s->good_match = p.good;
  s->nice_match = p.nice;
  s->max_chain = p.chain;
  if (gp_flags) {
    if (level <= 2) *gp_flags |= 4;
    if (level >= 8) *gp_flags |= 2;
  }
  s->strstart = 0;
  s->block_start = 0;
  s->match_start = 0;
  s->prev_length = kMinMatch - 1;
  s->eofile = false;
  s->lookahead = 0;
  s->data_end = 0;
  s->links_on = false;
  s->link_floor = 0;
  s->links_judged = false;
  s->matches_found = 0;
  // Bytes past the data may be compared (never used); keep them defined.
  std::memset(s->window + kWindowBytes, 0, kWindowPad);
  int n = s->read(s->ctx, s->window, kWindowBytes);
  if (n <= 0) {
    s->eofile = true;
    return true;
  }
  s->lookahead = unsigned(n) <= kWindowBytes ? unsigned(n) : kWindowBytes;
  s->data_end = s->lookahead;
  // A full window: the input is long enough to be worth the links from its first string on.
  if (s->lookahead == kWindowBytes) StartLinks(s, 0);
  Refill(s);
  return true;
}

}  // namespace

DeflateState* DeflateStateCreate() {
  void* mem = ZipAllocate(sizeof(DeflateState));
  if (!mem) return nullptr;
  // The link tables are cleared when a stream starts using them, and are most of the state.
  std::memset(mem, 0, offsetof(DeflateState, lt));
  return new (mem) DeflateState;
}

void DeflateStateDestroy(DeflateState* s) {
  if (!s) return;
  s->~DeflateState();
  ZipRelease(s);
}

uint64_t DeflateRun(DeflateState* s, const DeflateJob& job) {
  s->level = job.level;
  s->ctx = job.ctx;
  s->read = job.read;
  s->flush = job.flush;
  s->error = nullptr;
  s->out = job.out_buf;
  s->outsize = job.out_size;
  s->outpos = 0;
  s->bitbuf = 0;
  s->bitcount = 0;
  s->bytes_done = 0;
  s->out_failed = false;
  if (!job.read || !job.flush || !job.out_buf || job.out_size < 64) {
    Fail(s, "output buffer too small for in-memory compression");
    return 0;
  }
  TreeSetup(s);
  if (!MatcherSetup(s, job.level, job.gp_flags)) return 0;
  return job.level <= 3 ? DeflateFast(s) : DeflateLazy(s);
}

const char* DeflateError(const DeflateState* s) { return s->error; }

namespace {

struct BufferJob {
  const uint8_t* in;
  size_t left;
  std::string* out;
};

int BufferRead(void* ctx, uint8_t* dst, unsigned max) {
  auto* j = static_cast<BufferJob*>(ctx);
  size_t n = j->left < max ? j->left : max;
  std::memcpy(dst, j->in, n);
  j->in += n;
  j->left -= n;
  return int(n);
}

void BufferFlush(void* ctx, const uint8_t* buf, unsigned* count) {
  static_cast<BufferJob*>(ctx)->out->append(reinterpret_cast<const char*>(buf), *count);
  *count = 0;
}

}  // namespace

bool DeflateBuffer(int level, const void* data, size_t n, std::string* out, std::string* error) {
  out->clear();
  DeflateState* s = DeflateStateCreate();
  if (!s) {
    if (error) *error = "out of memory";
    return false;
  }
  uint8_t buf[16384];
  BufferJob bj{static_cast<const uint8_t*>(data), n, out};
  DeflateJob job;
  job.level = level;
  job.ctx = &bj;
  job.read = BufferRead;
  job.flush = BufferFlush;
  job.out_buf = buf;
  job.out_size = sizeof buf;
  DeflateRun(s, job);
  const char* msg = DeflateError(s);
  DeflateStateDestroy(s);
  if (msg) {
    if (error) *error = msg;
    return false;
  }
  return true;
}

}  // namespace vq::zip
