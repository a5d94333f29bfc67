// A small, slow DEFLATE decoder written for the tests: besides the bytes it reports every block
// and every match, so the tests can see the encoder's choices (distances, lengths, block types
// and sizes), which an ordinary inflater hides. It also works where zlib is not linked (the
// Windows build).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vqtest {

struct InflateBlock {
  int type = 0;          // 0 stored, 1 fixed, 2 dynamic
  size_t symbols = 0;    // literals and matches (not the end code); stored: bytes
  size_t out_start = 0;  // output offset where the block begins
};

struct InflateMatch {
  size_t pos;  // output offset of the match
  unsigned length;
  unsigned distance;
};

struct InflateResult {
  bool ok = false;
  std::string error;
  std::string out;
  std::vector<InflateBlock> blocks;
  std::vector<InflateMatch> matches;
  size_t consumed = 0;  // input bytes up to the end of the final block
};

class TestInflater {
 public:
  explicit TestInflater(const std::string& in) : in_(in) {}

  InflateResult Run() {
    InflateResult r;
    try {
      bool final = false;
      while (!final) {
        final = Bits(1) != 0;
        InflateBlock b;
        b.type = int(Bits(2));
        b.out_start = r.out.size();
        if (b.type == 0) {
          bitbuf_ = 0;
          bitcnt_ = 0;
          unsigned len = Byte() | Byte() << 8;
          unsigned nlen = Byte() | Byte() << 8;
          if ((len ^ 0xFFFF) != nlen) throw std::string("stored length check");
          for (unsigned i = 0; i < len; ++i) r.out.push_back(char(Byte()));
          b.symbols = len;
        } else if (b.type == 1) {
          std::vector<int> lens(288);
          for (int i = 0; i < 288; ++i) lens[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
          Huffman lit(lens), dist(std::vector<int>(30, 5));
          b.symbols = Codes(lit, dist, &r);
        } else if (b.type == 2) {
          unsigned nlen = Bits(5) + 257, ndist = Bits(5) + 1, ncode = Bits(4) + 4;
          static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
          std::vector<int> cl(19);
          for (unsigned i = 0; i < ncode; ++i) cl[order[i]] = int(Bits(3));
          Huffman clh(cl);
          std::vector<int> lens;
          while (lens.size() < nlen + ndist) {
            int sym = clh.Decode(*this);
            if (sym < 16) {
              lens.push_back(sym);
            } else if (sym == 16) {
              if (lens.empty()) throw std::string("repeat with no length");
              int prev = lens.back();
              for (unsigned n = 3 + Bits(2); n; --n) lens.push_back(prev);
            } else {
              for (unsigned n = sym == 17 ? 3 + Bits(3) : 11 + Bits(7); n; --n) lens.push_back(0);
            }
          }
          if (lens.size() != nlen + ndist) throw std::string("code lengths overrun");
          Huffman lit(std::vector<int>(lens.begin(), lens.begin() + nlen));
          Huffman dist(std::vector<int>(lens.begin() + nlen, lens.end()));
          b.symbols = Codes(lit, dist, &r);
        } else {
          throw std::string("block type 3");
        }
        r.blocks.push_back(b);
      }
      r.consumed = pos_;
      r.ok = true;
    } catch (const std::string& e) {
      r.error = e;
    }
    return r;
  }

 private:
  struct Huffman {
    std::vector<int> count = std::vector<int>(16), symbol;
    explicit Huffman(const std::vector<int>& lens) {
      for (int l : lens) count[l]++;
      count[0] = 0;
      std::vector<int> offs(16);
      for (int l = 1; l < 15; ++l) offs[l + 1] = offs[l] + count[l];
      symbol.resize(lens.size());
      for (size_t s = 0; s < lens.size(); ++s) {
        if (lens[s]) symbol[offs[lens[s]]++] = int(s);
      }
    }
    int Decode(TestInflater& in) const {
      int code = 0, first = 0, index = 0;
      for (int len = 1; len <= 15; ++len) {
        code |= int(in.Bits(1));
        int c = count[len];
        if (code - c < first) return symbol[index + (code - first)];
        index += c;
        first = (first + c) << 1;
        code <<= 1;
      }
      throw std::string("bad code");
    }
  };

  unsigned Byte() {
    if (pos_ >= in_.size()) throw std::string("input ended");
    return uint8_t(in_[pos_++]);
  }
  unsigned Bits(int n) {
    while (bitcnt_ < n) {
      bitbuf_ |= Byte() << bitcnt_;
      bitcnt_ += 8;
    }
    unsigned v = bitbuf_ & ((1u << n) - 1);
    bitbuf_ >>= n;
    bitcnt_ -= n;
    return v;
  }

  size_t Codes(const Huffman& lit, const Huffman& dist, InflateResult* r) {
    static const int lbase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int lext[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const int dbase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                  33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                  1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static const int dext[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    size_t symbols = 0;
    for (;;) {
      int sym = lit.Decode(*this);
      if (sym == 256) return symbols;
      symbols++;
      if (sym < 256) {
        r->out.push_back(char(sym));
        continue;
      }
      sym -= 257;
      if (sym >= 29) throw std::string("bad length code");
      unsigned len = unsigned(lbase[sym]) + Bits(lext[sym]);
      int dsym = dist.Decode(*this);
      if (dsym >= 30) throw std::string("bad distance code");
      unsigned d = unsigned(dbase[dsym]) + Bits(dext[dsym]);
      if (d > r->out.size()) throw std::string("distance too far back");
      r->matches.push_back({r->out.size(), len, d});
      for (unsigned i = 0; i < len; ++i) r->out.push_back(r->out[r->out.size() - d]);
    }
  }

  const std::string& in_;
  size_t pos_ = 0;
  unsigned bitbuf_ = 0;
  int bitcnt_ = 0;
};

inline InflateResult TestInflate(const std::string& in) { return TestInflater(in).Run(); }

}  // namespace vqtest
