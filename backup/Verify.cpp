// Verify: read every archive of the three views; the gate that keeps verify and cleaning apart.
#include "backup/Restore.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "backup/OrderedWork.h"
#include "backup/RestoreInternal.h"
#include "common/WFormat.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "settings/Log.h"

namespace vq {

using zip::ReadStatus;
using namespace restore_detail;

std::vector<std::wstring> ViewArchives(platform::FileSystem& fs, const WorkDirs& dirs, std::vector<uint64_t>* sizes,
                                       std::vector<std::wstring>* unreachable) {
  std::vector<std::wstring> out;
  if (sizes) sizes->clear();
  // Plain listings give no sizes on POSIX; the ones with times do, for one look per file.
  auto list = [&](const std::wstring& dir, std::vector<platform::DirEntry>* entries) {
    return sizes ? fs.ListWithTimes(dir, entries) : fs.List(dir, entries);
  };
  std::vector<platform::DirEntry> entries;
  // A link or junction is never an archive and never walked into: two links to "." would make
  // the walk endless.
  const uint32_t skip = platform::kAttrDirectory | platform::kAttrReparsePoint;
  for (const std::wstring* flat : {&dirs.list, &dirs.history}) {
    entries.clear();
    if (flat->empty()) continue;
    if (!list(*flat, &entries)) {
      if (unreachable) unreachable->push_back(*flat);
      continue;
    }
    for (const platform::DirEntry& e : entries)
      if (!(e.attributes & skip) && EndsWithZip(e.name)) {
        out.push_back(*flat + e.name);
        if (sizes) sizes->push_back(e.size);
      }
  }
  // The folder view mirrors the source tree; walked without recursion so depth costs no stack.
  std::vector<std::wstring> pending;
  if (!dirs.folder.empty()) pending.push_back(WithSeparator(dirs.folder));
  bool top = true;
  while (!pending.empty()) {
    std::wstring dir = pending.back();
    pending.pop_back();
    entries.clear();
    if (!list(dir, &entries)) {
      if (top && unreachable) unreachable->push_back(dir);
      top = false;
      continue;
    }
    top = false;
    for (const platform::DirEntry& e : entries) {
      if (e.attributes & platform::kAttrReparsePoint) continue;
      if (e.attributes & platform::kAttrDirectory)
        pending.push_back(dir + e.name + platform::PathSeparator());
      else if (EndsWithZip(e.name)) {
        out.push_back(dir + e.name);
        if (sizes) sizes->push_back(e.size);
      }
    }
  }
  return out;
}

VerifyReport RunVerify(platform::FileSystem& fs, const WorkDirs& dirs, const std::string& password, uint32_t progressMs,
                       unsigned threads) {
  VerifyReport rep;
  const uint32_t start = platform::TickCount();
  std::vector<uint64_t> sizes;
  std::vector<std::wstring> unreachable;
  std::vector<std::wstring> archives = ViewArchives(fs, dirs, &sizes, &unreachable);
  // "Nothing there" and "cannot be reached" must not read alike.
  for (const std::wstring& view : unreachable) WriteLog(L"校验备份:无法访问 %s\r\n", view);
  const size_t views = size_t(!dirs.list.empty()) + size_t(!dirs.history.empty()) + size_t(!dirs.folder.empty());
  if (unreachable.size() == views) {
    rep.unreachable = true;
    WriteLog(L"校验备份失败:备份目录无法访问\r\n");
    return rep;
  }
  {
    // Largest first, so archives of about one size are checked side by side (the pieces of a
    // batch are deciphered together only as far as the shortest reaches) and the longest jobs
    // do not come last to one thread.
    std::vector<size_t> order(archives.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return sizes[a] > sizes[b]; });
    std::vector<std::wstring> sorted;
    sorted.reserve(archives.size());
    for (size_t i : order) sorted.push_back(std::move(archives[i]));
    archives.swap(sorted);
  }
  WriteLog(L"校验备份开始:共 %d 个备份文件\r\n", int(archives.size()));
  const char* pw = password.empty() ? nullptr : password.c_str();
  if (threads == 0) threads = std::min(4u, std::max(1u, std::thread::hardware_concurrency()));
  threads = unsigned(std::min<size_t>(threads, std::max<size_t>(archives.size(), 1)));

  // Each thread takes a few archives at a time and checks them side by side (their deciphering
  // interleaved), as long as that still leaves work for every thread.
  const size_t batch = std::clamp<size_t>(archives.size() / threads, 1, zip::kZipSideBySide);

  std::mutex lock;  // guards rep, done and lastProgress
  std::atomic<size_t> next{0};
  size_t done = 0;
  uint32_t lastProgress = start;
  auto work = [&] {
    for (size_t first = next.fetch_add(batch); first < archives.size(); first = next.fetch_add(batch)) {
      const size_t n = std::min(batch, archives.size() - first);
      zip::ZipEntryInfo info[zip::kZipSideBySide];
      ReadStatus status[zip::kZipSideBySide];
      {
        // Each archive's lock, shared; a lock two of them share is taken once, and all in one
        // order, so two readers never wait on each other behind a waiting writer.
        std::vector<std::shared_mutex*> locks;
        for (size_t j = 0; j < n; ++j) locks.push_back(&ArchiveReplaceLock(archives[first + j]));
        std::sort(locks.begin(), locks.end());
        locks.erase(std::unique(locks.begin(), locks.end()), locks.end());
        std::vector<std::shared_lock<std::shared_mutex>> held;
        for (std::shared_mutex* m : locks) held.emplace_back(*m);
        std::unique_ptr<platform::FileStream> files[zip::kZipSideBySide];
        platform::FileStream* in[zip::kZipSideBySide] = {};
        for (size_t j = 0; j < n; ++j) in[j] = (files[j] = fs.OpenReadRegular(archives[first + j])).get();
        zip::ZipCheckSideBySide(in, n, pw, status, info);
      }
      for (size_t j = 0; j < n; ++j) {
        const std::wstring& a = archives[first + j];
        const ReadStatus s = status[j];
        // An archive the pass replaced or removed since the listing is not a broken one.
        const bool gone = s == ReadStatus::OpenFailed && !fs.Exists(a);
        std::lock_guard<std::mutex> g(lock);
        ++done;
        if (gone) {
          ++rep.vanished;
        } else {
          ++rep.checked;
          switch (HealthOf(s)) {
            case ArchiveHealth::Sound:
              ++rep.sound;
              rep.sourceBytes += info[j].size;
              break;
            case ArchiveHealth::WrongPassword:
              ++rep.wrongPassword;
              rep.wrongPasswordArchives.push_back(a);
              WriteLog(L"密码不符:%s\r\n", a);
              break;
            case ArchiveHealth::Broken:
              ++rep.broken;
              rep.brokenArchives.emplace_back(a, s);
              WriteLog(L"损坏:%s [%s]\r\n", a, ReadStatusReason(s));
              break;
          }
        }
        const uint32_t now = platform::TickCount();
        if (now - lastProgress >= progressMs && done < archives.size()) {
          lastProgress = now;
          WriteLog(L"校验进度:%d/%d, 已用 %u 秒\r\n", int(done), int(archives.size()), (now - start) / 1000);
        }
      }
    }
  };
  // A helper that cannot start (a thread limit) leaves its share to those that did and to this
  // thread, as the pass's work queue does; the exception must not leave with threads joinable.
  std::vector<std::thread> helpers;
  try {
    for (unsigned t = 1; t < threads; ++t) {
      OrderedWork::CheckHelperMayStartForTest(t - 1);
      helpers.emplace_back(work);
    }
  } catch (...) {
  }
  work();
  for (std::thread& t : helpers) t.join();
  rep.seconds = (platform::TickCount() - start) / 1000.0;
  const std::wstring vanished = rep.vanished ? WFormat(L", 校验期间消失 %d 个", rep.vanished) : std::wstring();
  WriteLog(L"校验备份结束:检查 %d 个, 完好 %d 个, 密码不符 %d 个, 损坏 %d 个%s, 用时 %.1f 秒\r\n", rep.checked,
           rep.sound, rep.wrongPassword, rep.broken, vanished, rep.seconds);
  return rep;
}

bool MaintenanceGate::BeginVerify(const std::function<void()>& onWait) {
  std::unique_lock<std::mutex> g(lock_);
  if (verifying_) return false;
  verifying_ = true;  // taken at once, so a cleaning asked for now waits for this verify
  if (cleanings_ > 0 && onWait) onWait();
  changed_.wait(g, [this] { return cleanings_ == 0; });
  return true;
}

void MaintenanceGate::EndVerify() {
  std::lock_guard<std::mutex> g(lock_);
  verifying_ = false;
  changed_.notify_all();
}

bool MaintenanceGate::BeginRestore(const std::function<void()>& onWait) {
  // A restore reads the history view as a verify does, and the two together would only slow
  // each other on one disk: it takes the verify's place.
  return BeginVerify(onWait);
}

void MaintenanceGate::EndRestore() { EndVerify(); }

void MaintenanceGate::BeginClean(const std::function<void()>& onWait) {
  std::unique_lock<std::mutex> g(lock_);
  if (verifying_ && onWait) onWait();
  changed_.wait(g, [this] { return !verifying_; });
  ++cleanings_;
}

void MaintenanceGate::EndClean() {
  std::lock_guard<std::mutex> g(lock_);
  --cleanings_;
  changed_.notify_all();
}

MaintenanceGate& Maintenance() {
  // Lives as long as the process: engine threads may still use it while the process ends.
  static MaintenanceGate* gate = new MaintenanceGate();
  return *gate;
}

std::shared_mutex& ArchiveReplaceLock(const std::wstring& archive) {
  constexpr size_t kLocks = 16;
  static std::shared_mutex* locks = new std::shared_mutex[kLocks];
  // By the name alone: a reader and the pass may spell the folders before it differently.
  size_t start = archive.find_last_of(L"\\/");
  start = start == std::wstring::npos ? 0 : start + 1;
  uint32_t h = 2166136261u;
  // Folded as the file system compares names (every letter on Windows), so two spellings of one
  // archive always meet on one lock.
  const std::wstring name = platform::FoldNameCase(archive.substr(start));
  for (wchar_t c : name) h = (h ^ uint32_t(c)) * 16777619u;
  return locks[h % kLocks];
}

}  // namespace vq
