// Our DEFLATE level 8 (with the writer's CRC-32 on the input, as an entry is written) against
// zlib's raw deflate at level 8 (memLevel 8), side by side on the same buffers in one run, and
// our output compared byte for byte (by digest) with the reference recorded before any speed
// work: the compressor's output must never change. Each input is timed in alternating samples,
// a small input's sample being several runs in a row; "speed" is zlib's time over ours by the
// wall clock, "cpu" by processor time.
//
//   cmake --preset bench && cmake --build --preset bench --target zip_deflate_bench
//   ./build/bench/bench/zip_deflate_bench [--rounds N] [--record FILE] [--reference FILE] [files...]
//
// The corpus is taken from this machine (nothing is downloaded): C headers as text, program
// and library binaries, already-compressed .gz files, and generated log lines, random data and
// office XML. Files that do not exist here are skipped. The reference (zip_deflate_reference.txt
// beside this file, or --reference) matches an input by the digest of its bytes, so an input
// that differs on another machine shows "no reference"; --record writes a new one. Exits 1 when
// an output changed or does not inflate.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

Reader g_last;

const std::string& LastOutput() { return g_last.out; }

size_t Ours(vq::zip::DeflateState* s, const std::string& in) {
  static uint8_t buf[16384];
  Reader& r = g_last;
  r = Reader{&in, 0, 0, {}};
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

bool ZlibInflates(const std::string& packed, const std::string& expect) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  std::string out(expect.size() + 1, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  z.avail_in = uInt(packed.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = uInt(out.size());
  int rc = inflate(&z, Z_FINISH);
  bool ok = rc == Z_STREAM_END && z.total_out == expect.size() && out.compare(0, expect.size(), expect) == 0;
  inflateEnd(&z);
  return ok;
}

uint64_t Fnv1a(const std::string& s) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (unsigned char c : s) h = (h ^ c) * 0x100000001B3ull;
  return h;
}

// Wall time of one run, and the process's processor time over the same run (what a neighbour's
// load on this shared machine does not inflate as much), each the mean of `reps` runs in a row:
// a sample of a small input is several runs, so that it is not a few milliseconds a neighbour's
// burst can double.
template <typename F>
double Time(F f, int reps, std::vector<double>* cpu) {
  auto t0 = std::chrono::steady_clock::now();
  std::clock_t c0 = std::clock();
  for (int i = 0; i < reps; ++i) f();
  cpu->push_back(double(std::clock() - c0) / CLOCKS_PER_SEC / reps);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / reps;
}

// Runs in a row per sample: about 4 MB of input each, at least one.
int RepsFor(size_t bytes) { return int(std::max<size_t>(1, (size_t(4) << 20) / std::max<size_t>(bytes, 1))); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Spreadsheet-like XML, as inside an office document: regular markup around varying numbers.
std::string OfficeXml(size_t n) {
  std::mt19937_64 g(3);
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<worksheet><sheetData>";
  char cell[128];
  for (unsigned r = 1; s.size() < n; ++r) {
    s += "<row r=\"" + std::to_string(r) + "\" spans=\"1:8\">";
    for (char col = 'A'; col <= 'H'; ++col) {
      if (g() % 3 == 0) {
        std::snprintf(cell, sizeof cell, "<c r=\"%c%u\" t=\"s\"><v>%u</v></c>", col, r, unsigned(g() % 3000));
      } else {
        std::snprintf(cell, sizeof cell, "<c r=\"%c%u\" s=\"%u\"><v>%u.%02u</v></c>", col, r, unsigned(g() % 4),
                      unsigned(g() % 100000), unsigned(g() % 100));
      }
      s += cell;
    }
    s += "</row>";
  }
  s.resize(n);
  return s;
}

// Reference digests of our output: one line per input, "digest-of-input size-in size-out
// digest-of-output name". The corpus comes from this machine, so a reference only applies to an
// input whose own digest matches.
struct Reference {
  uint64_t in_fnv, out_size, out_fnv;
};

std::vector<Reference> LoadReference(const std::string& path) {
  std::vector<Reference> r;
  std::ifstream f(path);
  std::string line;
  while (std::getline(f, line)) {
    unsigned long long a, b, c, d;
    if (std::sscanf(line.c_str(), "%llx %llu %llu %llx", &a, &b, &c, &d) == 4) r.push_back({a, c, d});
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  std::string record, reference = VQ_DEFLATE_REFERENCE;
  std::vector<std::string> extra;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--record" && i + 1 < argc) {
      record = argv[++i];
    } else if (a == "--reference" && i + 1 < argc) {
      reference = argv[++i];
    } else {
      extra.push_back(a);
    }
  }

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
  add("office XML: generated sheet", OfficeXml(8u << 20));
  for (const auto& f : extra) add(f, ReadFile(f));

  const std::vector<Reference> ref = LoadReference(reference);
  std::FILE* rec = record.empty() ? nullptr : std::fopen(record.c_str(), "w");
  vq::zip::DeflateState* s = vq::zip::DeflateStateCreate();
  std::printf(
      "median of %d alternating samples each (a small input's sample is several runs in a row); speed by wall "
      "clock, cpu by processor time; reference digests: %s (%zu)\n",
      rounds, reference.c_str(), ref.size());
  std::printf("%-36s %10s %10s %10s %8s %9s %9s %7s %7s  %s\n", "input", "bytes", "ours", "zlib-8", "size", "ours MB/s",
              "zlib MB/s", "speed", "cpu", "output");
  size_t total_in = 0, total_ours = 0, total_zlib = 0;
  double t_ours_all = 0, t_zlib_all = 0, cpu_ours_all = 0, cpu_zlib_all = 0;
  int changed = 0, unchecked = 0;
  std::string zout;
  for (const auto& in : corpus) {
    size_t ours = 0, zl = 0;
    std::vector<double> t_ours, t_zlib, c_ours, c_zlib;
    // Alternating, so a neighbour's burst on this shared machine falls on both sides alike.
    const int reps = RepsFor(in.data.size());
    for (int r = 0; r < rounds; ++r) {
      t_ours.push_back(Time([&] { ours = Ours(s, in.data); }, reps, &c_ours));
      t_zlib.push_back(Time([&] { zl = Zlib(in.data, &zout); }, reps, &c_zlib));
    }
    const std::string& packed = LastOutput();
    const uint64_t in_fnv = Fnv1a(in.data), out_fnv = Fnv1a(packed);
    const char* verdict = "no reference";
    for (const auto& r : ref) {
      if (r.in_fnv != in_fnv) continue;
      verdict = r.out_size == packed.size() && r.out_fnv == out_fnv ? "unchanged" : "CHANGED";
    }
    if (!ZlibInflates(packed, in.data)) verdict = "DOES NOT INFLATE";
    if (verdict[0] == 'C' || verdict[0] == 'D') changed++;
    if (verdict[0] == 'n') unchecked++;
    if (rec) {
      std::fprintf(rec, "%016llx %zu %zu %016llx %s\n", static_cast<unsigned long long>(in_fnv), in.data.size(),
                   packed.size(), static_cast<unsigned long long>(out_fnv), in.name.c_str());
    }
    const double mo = Median(t_ours), mz = Median(t_zlib), co = Median(c_ours), cz = Median(c_zlib);
    cpu_ours_all += co;
    cpu_zlib_all += cz;
    double mb = double(in.data.size()) / 1e6;
    std::printf("%-36s %10zu %10zu %10zu %8.4f %9.1f %9.1f %6.2fx %6.2fx  %s\n", in.name.c_str(), in.data.size(), ours,
                zl, double(ours) / double(zl), mb / mo, mb / mz, mz / mo, cz / co, verdict);
    total_in += in.data.size();
    total_ours += ours;
    total_zlib += zl;
    t_ours_all += mo;
    t_zlib_all += mz;
  }
  double mb = double(total_in) / 1e6;
  std::printf("%-36s %10zu %10zu %10zu %8.4f %9.1f %9.1f %6.2fx %6.2fx  %d changed, %d without reference\n", "TOTAL",
              total_in, total_ours, total_zlib, double(total_ours) / double(total_zlib), mb / t_ours_all,
              mb / t_zlib_all, t_zlib_all / t_ours_all, cpu_zlib_all / cpu_ours_all, changed, unchecked);
  std::printf("by processor time: ours %.3f s, zlib-8 %.3f s: speed %.2fx\n", cpu_ours_all, cpu_zlib_all,
              cpu_zlib_all / cpu_ours_all);
  if (rec) std::fclose(rec);
  vq::zip::DeflateStateDestroy(s);
  return changed ? 1 : 0;
}
