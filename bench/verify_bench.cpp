// Verify figures, on the backup benchmark's mixed tree (generated in a scratch directory and
// removed afterwards): one full pass writes the three encrypted archives of every file, then a
// verify of all of them (open, decipher, inflate, CRC and size checks) against plain zlib inflate
// of the same deflate streams from memory, in MB/s of source data. The verify runs as the program
// runs it (archives on several threads) and on one thread.
//
//   cmake --preset bench && cmake --build --preset bench --target verify_bench
//   ./build/bench/bench/verify_bench [scratch-parent-dir]
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "BackupBenchTree.h"
#include "backup/BackUp.h"
#include "backup/EngineState.h"
#include "backup/Restore.h"
#include "backup/WorkDirs.h"
#include "common/Text.h"
#include "platform/FileSystem.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"
#include "zip/Deflate.h"

namespace fs = std::filesystem;

using vqbench::Clock;
using vqbench::Configure;
using vqbench::Dir;
using vqbench::MixedTree;
using vqbench::Seconds;
using vqbench::Write;

namespace {

// Raw inflate of one stream into a reused buffer; false when zlib objects.
bool Inflate(const std::string& in, std::vector<unsigned char>* out) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = uInt(in.size());
  int r;
  do {
    z.next_out = out->data();
    z.avail_out = uInt(out->size());
    r = inflate(&z, Z_NO_FLUSH);
  } while (r == Z_OK);
  inflateEnd(&z);
  return r == Z_STREAM_END;
}

// Processor time of the calling thread: what a neighbour's load on a shared machine inflates
// far less than the wall clock.
double ThreadCpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path parent = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  fs::path root = vqbench::ScratchWorld(parent, "vq-verify-bench");

  fs::path src = root / "mixed";
  std::vector<std::string> contents = MixedTree(src);
  const vq::WorkDirs d = Configure(root, src);
  vq::AppSettings.timeLastBk.store(0);
  vq::RunBackUpPass(vq::platform::RealFileSystem());

  // The same deflate streams the archives hold (one per view), in memory.
  std::vector<std::string> streams;
  size_t largest = 0;
  for (const auto& c : contents) {
    std::string s;
    vq::zip::DeflateBuffer(8, c.data(), c.size(), &s);
    streams.push_back(std::move(s));
    largest = std::max(largest, c.size());
  }
  std::vector<unsigned char> buf(65536);
  double bestVerify = 1e9, bestSerial = 1e9, bestInflate = 1e9, cpuSerial = 1e9, cpuInflate = 1e9;
  uint64_t verified = 0;
  int checked = 0, sound = 0;
  // Both warmed by a first round; the best of five rounds counts.
  for (int round = 0; round < 6; ++round) {
    auto t0 = Clock::now();
    vq::VerifyReport rep = vq::RunVerify(vq::platform::RealFileSystem(), d, "739", 1u << 30);
    double v = Seconds(t0, Clock::now());
    t0 = Clock::now();
    double c0 = ThreadCpu();
    vq::RunVerify(vq::platform::RealFileSystem(), d, "739", 1u << 30, 1);
    double serial = Seconds(t0, Clock::now());
    const double cSerial = ThreadCpu() - c0;
    t0 = Clock::now();
    c0 = ThreadCpu();
    for (int view = 0; view < 3; ++view)
      for (const auto& s : streams)
        if (!Inflate(s, &buf)) std::printf("zlib refused a stream!\n");
    double z = Seconds(t0, Clock::now());
    const double cInflate = ThreadCpu() - c0;
    if (round == 0) continue;
    bestVerify = std::min(bestVerify, v);
    bestSerial = std::min(bestSerial, serial);
    bestInflate = std::min(bestInflate, z);
    cpuSerial = std::min(cpuSerial, cSerial);
    cpuInflate = std::min(cpuInflate, cInflate);
    verified = rep.sourceBytes;
    checked = rep.checked;
    sound = rep.sound;
  }
  double mb = double(verified) / 1048576.0;
  std::printf(
      "verify: %d archives (%d sound), %.1f MB of source, %u processors: verify %.3f s (%.1f MB/s), on one thread "
      "%.3f s (%.1f MB/s); plain zlib inflate %.3f s (%.1f MB/s): verify/inflate speed = %.2f (one thread: %.2f)\n",
      checked, sound, mb, std::thread::hardware_concurrency(), bestVerify, mb / bestVerify, bestSerial, mb / bestSerial,
      bestInflate, mb / bestInflate, bestInflate / bestVerify, bestInflate / bestSerial);
  std::printf(
      "by processor time on one thread: verify %.3f s, plain zlib inflate %.3f s: verify/inflate speed = %.2f\n",
      cpuSerial, cpuInflate, cpuInflate / cpuSerial);
  vq::SetLogDirectoryForTest(L"");
  fs::remove_all(root);
  return 0;
}
