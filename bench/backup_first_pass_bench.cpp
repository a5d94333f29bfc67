// A first pass over 10,000 small files (1-20 KB, in 100 folders), as after a fresh install: every
// file is selected, copied, deflated once and written into its three archives. Reports files per
// second of the pass as the worker runs it, then, from the same pass made one file at a time so
// the parts add up, where the time goes per file:
//
//   - the file operations of the pass, timed through a file-system decorator (copy, source
//     reads, archive creates, writes, renames, removals, listing and looks);
//   - compression: one plain deflate-8 of each file's bytes, timed apart;
//   - log lines: the pass writes one line per file ("DoBackUp[1]:path"), timed apart by writing
//     the same lines to the same log;
//   - the rest (CRC, cipher, archive records, selection, settings) by difference.
//
//   cmake --preset bench && cmake --build --preset bench --target backup_first_pass_bench
//   ./build/bench/bench/backup_first_pass_bench [scratch-parent-dir] [files] [rounds] [passes-only]
//
// Each round runs the worker's pass twice per encryption, alternating (traditional, AES, AES,
// traditional), so a burst of load elsewhere on a shared machine falls on both; the best wall time
// of each counts, and the processor time (all threads, user and system) is shown beside it: on a
// busy machine it is the steadier figure. With passes-only, the breakdown that follows is left out.
// The scratch tree is generated under the given directory (default: the temporary directory)
// and removed afterwards.
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

// Processor time of the whole process, every thread: user and system.
struct Processor {
  double user = 0, system = 0;
};
Processor ProcessorSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto s = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return {s(u.ru_utime), s(u.ru_stime)};
}

enum Op { kCopy, kOpenRead, kRead, kCreate, kWrite, kFlush, kRename, kFolderFlush, kRemove, kLook, kOther, kOps };
const char* const kOpNames[kOps] = {"copy (temporary copy of the source)",
                                    "open for reading",
                                    "reads",
                                    "creates (partial archives, spill)",
                                    "writes",
                                    "flushes and closes (archives to the disk)",
                                    "renames",
                                    "folder flushes (once per folder and batch)",
                                    "removals",
                                    "listing and looks (list, stat, exists)",
                                    "other (folders, attributes, seeks)"};

struct Tally {
  double seconds[kOps] = {};
  long calls[kOps] = {};
};

template <typename F>
auto Timed(Tally* t, Op op, F f) {
  auto t0 = Clock::now();
  auto r = f();
  t->seconds[op] += Seconds(t0, Clock::now());
  t->calls[op]++;
  return r;
}

class TimedStream : public vq::platform::FileStream {
 public:
  TimedStream(std::unique_ptr<vq::platform::FileStream> inner, Tally* t) : inner_(std::move(inner)), t_(t) {}
  int64_t Read(void* buf, size_t n) override {
    return Timed(t_, kRead, [&] { return inner_->Read(buf, n); });
  }
  size_t Write(const void* buf, size_t n) override {
    return Timed(t_, kWrite, [&] { return inner_->Write(buf, n); });
  }
  bool SeekSet(uint64_t offset) override {
    return Timed(t_, kOther, [&] { return inner_->SeekSet(offset); });
  }
  bool Info(vq::platform::FileInfo* out) override {
    return Timed(t_, kLook, [&] { return inner_->Info(out); });
  }
  // Forwarded like the rest: without them the timed pass would skip the flush of every archive.
  bool Flush() override {
    return Timed(t_, kFlush, [&] { return inner_->Flush(); });
  }
  bool Close() override {
    return Timed(t_, kFlush, [&] { return inner_->Close(); });
  }
  bool SeekEnd() override {
    return Timed(t_, kOther, [&] { return inner_->SeekEnd(); });
  }

 private:
  std::unique_ptr<vq::platform::FileStream> inner_;
  Tally* t_;
};

class TimedFileSystem : public vq::platform::ForwardingFileSystem {
 public:
  TimedFileSystem(vq::platform::FileSystem& inner, Tally* t) : ForwardingFileSystem(inner), t_(t) {}
  std::unique_ptr<vq::platform::FileStream> OpenRead(const std::wstring& p) override {
    auto s = Timed(t_, kOpenRead, [&] { return inner_.OpenRead(p); });
    return s ? std::make_unique<TimedStream>(std::move(s), t_) : nullptr;
  }
  std::unique_ptr<vq::platform::FileStream> CreateAlways(const std::wstring& p) override {
    auto s = Timed(t_, kCreate, [&] { return inner_.CreateAlways(p); });
    return s ? std::make_unique<TimedStream>(std::move(s), t_) : nullptr;
  }
  bool List(const std::wstring& d, std::vector<vq::platform::DirEntry>* out) override {
    return Timed(t_, kLook, [&] { return inner_.List(d, out); });
  }
  bool ListWithTimes(const std::wstring& d, std::vector<vq::platform::DirEntry>* out) override {
    return Timed(t_, kLook, [&] { return inner_.ListWithTimes(d, out); });
  }
  bool Stat(const std::wstring& p, vq::platform::DirEntry* out) override {
    return Timed(t_, kLook, [&] { return inner_.Stat(p, out); });
  }
  bool Exists(const std::wstring& p) override {
    return Timed(t_, kLook, [&] { return inner_.Exists(p); });
  }
  bool IsDirectory(const std::wstring& p) override {
    return Timed(t_, kLook, [&] { return inner_.IsDirectory(p); });
  }
  bool Copy(const std::wstring& f, const std::wstring& to) override {
    return Timed(t_, kCopy, [&] { return inner_.Copy(f, to); });
  }
  bool Rename(const std::wstring& f, const std::wstring& to) override {
    return Timed(t_, kRename, [&] { return inner_.Rename(f, to); });
  }
  // The pass moves its archives with these; Rename is left to a file taken alone.
  bool RenameUnflushed(const std::wstring& f, const std::wstring& to) override {
    return Timed(t_, kRename, [&] { return inner_.RenameUnflushed(f, to); });
  }
  bool FlushFolder(const std::wstring& d) override {
    return Timed(t_, kFolderFlush, [&] { return inner_.FlushFolder(d); });
  }
  bool RemoveFile(const std::wstring& p) override {
    return Timed(t_, kRemove, [&] { return inner_.RemoveFile(p); });
  }
  bool RemoveDir(const std::wstring& p) override {
    return Timed(t_, kRemove, [&] { return inner_.RemoveDir(p); });
  }
  bool CreateDirectoryTree(const std::wstring& p) override {
    return Timed(t_, kOther, [&] { return inner_.CreateDirectoryTree(p); });
  }
  bool GetAttributes(const std::wstring& p, uint32_t* out) override {
    return Timed(t_, kOther, [&] { return inner_.GetAttributes(p, out); });
  }
  bool SetAttributes(const std::wstring& p, uint32_t a) override {
    return Timed(t_, kOther, [&] { return inner_.SetAttributes(p, a); });
  }

 private:
  Tally* t_;
};

// Small files of the kinds people keep: text and source, some with random (already compressed)
// parts.
std::vector<std::pair<fs::path, std::string>> SmallTree(const fs::path& src, int count) {
  std::mt19937 g(17);
  const std::string words[] = {"int ", "return ", "value", "(x)",      ";\n",  "{\n",
                               "}\n",  "// note", "备份 ", "archive ", "the ", "\t"};
  std::vector<std::pair<fs::path, std::string>> files;
  for (int i = 0; i < count; ++i) {
    size_t size = 1024 + g() % (19 * 1024 + 1);
    std::string data;
    while (data.size() < size) {
      if (g() % 50 == 0) {
        for (int k = 0; k < 200; ++k) data += char(g());
      } else {
        data += words[g() % 12];
      }
    }
    data.resize(size);
    fs::path p = src / ("d" + std::to_string(i % 100)) / ("f" + std::to_string(i) + ".txt");
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(data.data(), std::streamsize(data.size()));
    files.emplace_back(p, std::move(data));
  }
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path parent = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  const int count = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10000;
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
  const bool breakdown = !(argc > 4 && std::string(argv[4]) == "passes-only");
  fs::path root = vqbench::ScratchWorld(parent, "vq-first-pass-bench");

  fs::path src = root / "small";
  auto files = SmallTree(src, count);
  vqbench::Settle();
  size_t total = 0;
  for (const auto& f : files) total += f.second.size();
  Configure(root, src);

  // The pass as the worker runs it (files compressed side by side), into an empty destination,
  // with each encryption in turn, twice over per round (the best of each counts): on a shared
  // disk the removal of the previous destination still weighs on the run after it.
  double worker[2] = {1e9, 1e9}, cpu[2] = {1e9, 1e9};
  int workerSelected = count;
  auto t0 = Clock::now();
  for (int round = 0; round < rounds; ++round) {
    for (int32_t encryption : {vq::kZipEncryptionTraditional, vq::kZipEncryptionAes256, vq::kZipEncryptionAes256,
                               vq::kZipEncryptionTraditional}) {
      fs::remove_all(root / "dest");
      Configure(root, src);
      vqbench::Settle();
      vq::AppSettings.zipEncryption.store(encryption);
      vq::AppSettings.timeLastBk.store(0);
      const Processor c0 = ProcessorSeconds();
      t0 = Clock::now();
      vq::RunBackUpPass(vq::platform::RealFileSystem());
      const double took = Seconds(t0, Clock::now());
      const Processor c1 = ProcessorSeconds();
      const double user = c1.user - c0.user, system = c1.system - c0.system, used = user + system;
      worker[encryption] = std::min(worker[encryption], took);
      cpu[encryption] = std::min(cpu[encryption], used);
      workerSelected = std::min(workerSelected, vq::backFileCount.load());
      std::printf(
          "first pass over %d files as the worker runs it (%u compressors), %-11s %.3f s, %.0f files/s, "
          "processor %.3f s (user %.3f, system %.3f)\n",
          count, vq::DefaultCompressors(), encryption ? "AES-256:" : "traditional:", took, double(count) / took, used,
          user, system);
    }
  }
  std::printf(
      "  AES-256/traditional speed (best of %d each) = %.2f; processor time AES-256 - traditional = %.1f us/file\n",
      2 * rounds, worker[0] / worker[1], (cpu[1] - cpu[0]) * 1e6 / double(count));
  vq::AppSettings.zipEncryption.store(vq::kZipEncryptionTraditional);
  if (!breakdown) {
    vq::SetLogDirectoryForTest(L"");
    fs::remove_all(root);
    return workerSelected == count ? 0 : 1;
  }

  // Where the time goes: the same pass with one file at a time, so the parts add up, into an
  // empty destination again.
  fs::remove_all(root / "dest");
  Configure(root, src);
  vqbench::Settle();
  Tally tally;
  TimedFileSystem timed(vq::platform::RealFileSystem(), &tally);
  vq::AppSettings.timeLastBk.store(0);
  t0 = Clock::now();
  vq::RunBackUpPass(timed, 0);
  const double pass = Seconds(t0, Clock::now());
  const int selected = vq::backFileCount.load();

  // Compression apart: one plain deflate-8 per file, as the pass does once per file.
  t0 = Clock::now();
  for (const auto& f : files) {
    std::string out;
    vq::zip::DeflateBuffer(8, f.second.data(), f.second.size(), &out);
  }
  const double compress = Seconds(t0, Clock::now());

  // The pass's own log line per file, written again to the same log.
  t0 = Clock::now();
  for (const auto& f : files) vq::WriteLog(L"DoBackUp[%d]:%s\r\n", 1, vq::Utf8ToWide(f.first.string()));
  const double log = Seconds(t0, Clock::now());

  const double per = 1e6 / double(count);
  std::printf(
      "one file at a time over %d files (%.1f MB, 1-20 KB each): %.3f s, %.0f files/s, %.1f us per file (selected "
      "%d)\n",
      count, double(total) / 1048576.0, pass, double(count) / pass, pass * per, selected);
  double fs_total = 0;
  for (int op = 0; op < kOps; ++op) {
    fs_total += tally.seconds[op];
    std::printf("  %-42s %8.1f us/file %5.1f%%  (%ld calls)\n", kOpNames[op], tally.seconds[op] * per,
                100 * tally.seconds[op] / pass, tally.calls[op]);
  }
  std::printf("  %-42s %8.1f us/file %5.1f%%\n", "file operations in all", fs_total * per, 100 * fs_total / pass);
  std::printf("  %-42s %8.1f us/file %5.1f%%  (timed apart)\n", "compression (one deflate-8 per file)", compress * per,
              100 * compress / pass);
  std::printf("  %-42s %8.1f us/file %5.1f%%  (timed apart)\n", "log lines (one per file)", log * per,
              100 * log / pass);
  const double rest = pass - fs_total - compress - log;
  std::printf("  %-42s %8.1f us/file %5.1f%%\n", "rest (CRC, cipher, records, selection)", rest * per,
              100 * rest / pass);
  vq::SetLogDirectoryForTest(L"");
  fs::remove_all(root);
  return selected == count && workerSelected == count ? 0 : 1;
}
