// Backup pass figures, on generated trees in a scratch directory (removed afterwards):
//
//   1. a full pass (every file selected: copy, deflate once, three encrypted archives, renames)
//      against one plain level-8 deflate of the same bytes, in MB/s of source;
//   2. a no-op pass (nothing selected) over 100,000 small files against `find DIR -newer X`;
//   3. (only when asked for, "noop-look") the same no-op pass with the list view holding an
//      archive name for each of the 100,000 files, as a pass started by a change runs it and as
//      the passes that look for files without archives run it (start-up, the long idle, lost
//      changes, a destination back), alternating, five of each.
//
//   cmake --preset bench && cmake --build --preset bench --target backup_pass_bench
//   ./build/bench/bench/backup_pass_bench [scratch-parent-dir] [full|noop|noop-look]
//
// The second argument runs one of them alone (to profile it).
//
// The latency from a saved file to its three archives is measured end to end by
// tests/e2e/backup_e2e.py, which prints it.
#include <sys/resource.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "BackupBenchTree.h"
#include "backup/BackUp.h"
#include "backup/EngineState.h"
#include "backup/WorkDirs.h"
#include "common/Text.h"
#include "platform/Clock.h"
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

int main(int argc, char** argv) {
  fs::path parent = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  const std::string only = argc > 2 ? argv[2] : "";
  fs::path root = vqbench::ScratchWorld(parent, "vq-backup-bench");
  vq::platform::FileSystem& fsys = vq::platform::RealFileSystem();

  // 1. Full pass against one plain deflate of the same bytes.
  if (only.empty() || only == "full") {
    fs::path src = root / "mixed";
    std::vector<std::string> contents = MixedTree(src);
    vqbench::Settle();
    size_t total = 0;
    for (const auto& c : contents) total += c.size();
    Configure(root, src);
    auto t0 = Clock::now();
    for (const auto& c : contents) {
      std::string out;
      vq::zip::DeflateBuffer(8, c.data(), c.size(), &out);
    }
    double deflate = Seconds(t0, Clock::now());
    double mb = double(total) / 1048576.0;
    std::printf("full pass: %zu files, %.1f MB; plain deflate-8 %.3f s (%.1f MB/s)\n", contents.size(), mb, deflate,
                mb / deflate);
    // One compressor shows what overlapping the archive writes with the compression gives; the
    // worker's own number shows what the pass does on this machine.
    // Each encryption in turn, into an empty destination each time, so the two stand side by side.
    for (unsigned compressors : {1u, vq::DefaultCompressors()}) {
      double seconds[2] = {};
      for (int32_t encryption : {vq::kZipEncryptionTraditional, vq::kZipEncryptionAes256}) {
        fs::remove_all(root / "dest");
        Configure(root, src);
        vqbench::Settle();
        vq::AppSettings.zipEncryption.store(encryption);
        vq::AppSettings.timeLastBk.store(0);
        t0 = Clock::now();
        vq::RunBackUpPass(fsys, compressors);
        double pass = Seconds(t0, Clock::now());
        seconds[encryption] = pass;
        std::printf("  pass with %u compressor(s), %-11s %.3f s (%.1f MB/s): pass/deflate speed = %.2f\n", compressors,
                    encryption ? "AES-256:" : "traditional:", pass, mb / pass, deflate / pass);
        if (vq::backFileCount.load() != int(contents.size()))
          std::printf("  (only %d files selected!)\n", vq::backFileCount.load());
      }
      std::printf("  AES-256/traditional speed with %u compressor(s) = %.2f\n", compressors, seconds[0] / seconds[1]);
    }
    vq::AppSettings.zipEncryption.store(vq::kZipEncryptionTraditional);
    fs::remove_all(root / "dest");
    fs::remove_all(src);
  }

  // 2. No-op pass over 100,000 small files against find -newer.
  if (only.empty() || only == "noop") {
    fs::path src = root / "many";
    for (int d = 0; d < 1000; ++d)
      for (int f = 0; f < 100; ++f) Write(src / ("d" + std::to_string(d)) / ("n" + std::to_string(f) + ".txt"), "x");
    fs::path marker = root / "marker";
    Write(marker, "m");
    vqbench::Settle();
    Configure(root, src);
    std::string find = "find '" + src.string() + "' -newer '" + marker.string() + "' > /dev/null";
    // Warm both the same way: one run of each before the measured ones.
    std::system(find.c_str());
    vq::AppSettings.timeLastBk.store(vq::platform::Now() + 100);
    vq::RunBackUpPass(fsys);
    double best_find = 1e9, best_pass = 1e9;
    for (int i = 0; i < 3; ++i) {
      auto t0 = Clock::now();
      std::system(find.c_str());
      best_find = std::min(best_find, Seconds(t0, Clock::now()));
      vq::AppSettings.timeLastBk.store(vq::platform::Now() + 100);
      t0 = Clock::now();
      vq::RunBackUpPass(fsys);
      best_pass = std::min(best_pass, Seconds(t0, Clock::now()));
    }
    std::printf("no-op pass over 100000 files: pass %.3f s, find -newer %.3f s: pass/find time = %.2f (selected %d)\n",
                best_pass, best_find, best_pass / best_find, vq::backFileCount.load());
    // The fixed part of a pass (settings saved with a flush to disk, stray partials looked for).
    fs::create_directories(root / "empty");
    Configure(root, root / "empty");
    auto t0 = Clock::now();
    vq::RunBackUpPass(fsys);
    std::printf("  of which fixed per pass (empty source): %.3f s\n", Seconds(t0, Clock::now()));
  }
  // 3. The no-op pass with and without the look for files without archives, over a list view
  // that names every file (empty stand-ins: the look reads names only).
  if (only == "noop-look") {
    fs::path src = root / "many";
    for (int d = 0; d < 1000; ++d)
      for (int f = 0; f < 100; ++f) Write(src / ("d" + std::to_string(d)) / ("n" + std::to_string(f) + ".txt"), "x");
    Configure(root, src);
    const std::wstring list = vq::AppSettings.S_DIR_ST_LIST.Get();
    fs::create_directories(fs::path(list));
    for (int d = 0; d < 1000; ++d)
      for (int f = 0; f < 100; ++f) {
        std::wstring file = Dir(src / ("d" + std::to_string(d))) + L"n" + std::to_wstring(f) + L".txt";
        std::ofstream(fs::path(list + vq::FlattenedPath(file) + L".zip"));
      }
    vqbench::Settle();
    // Processor time beside the wall time: on a shared machine the wall time says more about the
    // neighbours than about the pass.
    auto cpu = [] {
      rusage u{};
      getrusage(RUSAGE_SELF, &u);
      return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    std::vector<double> times[2], cpus[2];
    for (int i = 0; i < 6; ++i)
      for (int look = 0; look < 2; ++look) {
        vq::CurrentPassMemory().lookForMissing = look != 0;
        vq::AppSettings.timeLastBk.store(vq::platform::Now() + 100);
        const double c0 = cpu();
        auto t0 = Clock::now();
        vq::RunBackUpPass(fsys);
        if (i > 0) {  // the first round warms
          times[look].push_back(Seconds(t0, Clock::now()));
          cpus[look].push_back(cpu() - c0);
        }
        if (vq::backFileCount.load() != 0) std::printf("  (%d files selected!)\n", vq::backFileCount.load());
      }
    for (auto& t : times) std::sort(t.begin(), t.end());
    for (auto& t : cpus) std::sort(t.begin(), t.end());
    std::printf(
        "no-op pass over 100000 files, 100000 names in the list view: change-triggered %.3f s, "
        "with the look for files without archives %.3f s (medians of %zu)\n",
        times[0][times[0].size() / 2], times[1][times[1].size() / 2], times[0].size());
    std::printf("  processor time (user+system): change-triggered %.3f s, with the look %.3f s (medians)\n",
                cpus[0][cpus[0].size() / 2], cpus[1][cpus[1].size() / 2]);
    for (int look = 0; look < 2; ++look) {
      std::printf("  %s:", look ? "look" : "no look");
      for (double t : times[look]) std::printf(" %.3f", t);
      std::printf("\n");
    }
  }
  vq::SetLogDirectoryForTest(L"");
  fs::remove_all(root);
  return 0;
}
