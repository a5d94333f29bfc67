// Our DEFLATE level 8 (with the writer's CRC-32 on the input, as an entry is written) against
// zlib's raw deflate at level 8, side by side on the same buffers in one run.
//
//   cmake --preset bench && cmake --build --preset bench --target zip_deflate_bench
//   ./build/bench/bench/zip_deflate_bench [extra files...]
//
// The corpus is taken from this machine (nothing is downloaded): C headers as text, program
// and library binaries, already-compressed .gz files, and generated repetitive and random data.
// Files that do not exist here are skipped.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "zip/Crc32.h"
#include "zip/Deflate.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kCap = 16u << 20;

std::string ReadFile(const fs::path& p, size_t cap = kCap) {
  std::ifstream f(p, std::ios::binary);
  std::string s(cap, '\0');
  f.read(&s[0], std::streamsize(cap));
  s.resize(size_t(f.gcount()));
  return s;
}

// Concatenates matching files under dir (sorted, so the corpus is the same each run).
std::string Gather(const fs::path& dir, const std::string& suffix, size_t cap) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it); it.increment(ec)) {
    if (it->is_regular_file(ec) && it->path().string().size() >= suffix.size() &&
        it->path().string().compare(it->path().string().size() - suffix.size(), suffix.size(), suffix) == 0) {
      files.push_back(it->path());
    }
  }
  std::sort(files.begin(), files.end());
  std::string out;
  for (const auto& f : files) {
    if (out.size() >= cap) break;
    out += ReadFile(f, cap - out.size());
  }
  return out;
}

struct Input {
  std::string name;
  std::string data;
};

struct Reader {
  const std::string* in;
  size_t pos;
  uint32_t crc;
  std::string out;
};

int ReadCb(void* c, uint8_t* dst, unsigned max) {
  auto* r = static_cast<Reader*>(c);
  size_t n = std::min<size_t>(max, r->in->size() - r->pos);
  std::memcpy(dst, r->in->data() + r->pos, n);
  r->pos += n;
  r->crc = vq::zip::Crc32Update(r->crc, dst, n);
  return int(n);
}

void FlushCb(void* c, const uint8_t* buf, unsigned* count) {
  static_cast<Reader*>(c)->out.append(reinterpret_cast<const char*>(buf), *count);
  *count = 0;
}

size_t Ours(vq::zip::DeflateState* s, const std::string& in) {
  static uint8_t buf[16384];
  Reader r{&in, 0, 0, {}};
  r.out.reserve(in.size() + in.size() / 8 + 64);
  vq::zip::DeflateJob job;
  job.level = 8;
  job.ctx = &r;
  job.read = ReadCb;
  job.flush = FlushCb;
  job.out_buf = buf;
  job.out_size = sizeof buf;
  vq::zip::DeflateRun(s, job);
  if (vq::zip::DeflateError(s)) std::fprintf(stderr, "error: %s\n", vq::zip::DeflateError(s));
  return r.out.size();
}

size_t Zlib(const std::string& in, std::string* out) {
  z_stream z{};
  deflateInit2(&z, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  out->resize(deflateBound(&z, uLong(in.size())));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = uInt(in.size());
  z.next_out = reinterpret_cast<Bytef*>(&(*out)[0]);
  z.avail_out = uInt(out->size());
  deflate(&z, Z_FINISH);
  size_t n = z.total_out;
  deflateEnd(&z);
  return n;
}

template <typename F>
double BestSeconds(int runs, F f) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Input> corpus;
  auto add = [&](const std::string& name, std::string data) {
    if (!data.empty()) corpus.push_back({name, std::move(data)});
  };
  add("text: /usr/include/*.h", Gather("/usr/include", ".h", 8u << 20));
  add("text: /usr/share/common-licenses", Gather("/usr/share/common-licenses", "", 1u << 20));
  add("binary: /usr/bin/cmake", ReadFile("/usr/bin/cmake"));
  add("binary: libstdc++.so.6", ReadFile("/usr/lib/x86_64-linux-gnu/libstdc++.so.6"));
  add("compressed: /usr/share/doc/**/*.gz", Gather("/usr/share/doc", ".gz", 4u << 20));
  {
    std::string rep;
    for (int i = 0; rep.size() < (8u << 20); ++i) {
      rep +=
          "2026-01-01 12:00:" + std::to_string(i % 60) + " backup pass done, files=" + std::to_string(i % 7) + "\r\n";
    }
    add("repetitive: generated log lines", rep);
  }
  {
    std::mt19937_64 g(1);
    std::string rnd(4u << 20, '\0');
    for (size_t i = 0; i + 8 <= rnd.size(); i += 8) {
      uint64_t v = g();
      std::memcpy(&rnd[i], &v, 8);
    }
    add("random: generated", rnd);
  }
  for (int i = 1; i < argc; ++i) add(argv[i], ReadFile(argv[i]));

  vq::zip::DeflateState* s = vq::zip::DeflateStateCreate();
  std::printf("%-36s %10s %10s %10s %8s %9s %9s %7s\n", "input", "bytes", "ours", "zlib-8", "size", "ours MB/s",
              "zlib MB/s", "speed");
  size_t total_in = 0, total_ours = 0, total_zlib = 0;
  double t_ours_all = 0, t_zlib_all = 0;
  std::string zout;
  for (const auto& in : corpus) {
    size_t ours = 0, zl = 0;
    double t_ours = BestSeconds(3, [&] { ours = Ours(s, in.data); });
    double t_zlib = BestSeconds(3, [&] { zl = Zlib(in.data, &zout); });
    double mb = double(in.data.size()) / 1e6;
    std::printf("%-36s %10zu %10zu %10zu %8.4f %9.1f %9.1f %6.2fx\n", in.name.c_str(), in.data.size(), ours, zl,
                double(ours) / double(zl), mb / t_ours, mb / t_zlib, t_zlib / t_ours);
    total_in += in.data.size();
    total_ours += ours;
    total_zlib += zl;
    t_ours_all += t_ours;
    t_zlib_all += t_zlib;
  }
  double mb = double(total_in) / 1e6;
  std::printf("%-36s %10zu %10zu %10zu %8.4f %9.1f %9.1f %6.2fx\n", "TOTAL", total_in, total_ours, total_zlib,
              double(total_ours) / double(total_zlib), mb / t_ours_all, mb / t_zlib_all, t_zlib_all / t_ours_all);
  vq::zip::DeflateStateDestroy(s);
  return 0;
}
