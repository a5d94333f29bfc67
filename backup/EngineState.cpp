#include "backup/EngineState.h"

#include "platform/Paths.h"

namespace vq {

std::atomic<int32_t> srcChanged{0};
std::atomic<int32_t> monitRunning{0};
std::atomic<int32_t> backFileCount{0};

namespace {
std::atomic<BackupHealthListener> healthListener{nullptr};
}

void SetBackupHealthListener(BackupHealthListener listener) { healthListener.store(listener); }

void ReportBackupHealth(BackupHealth health, int32_t failedFiles) {
  if (BackupHealthListener l = healthListener.load()) l(health, failedFiles);
}

void ReportedPaths::Insert(std::unordered_set<std::wstring>& set, std::wstring key) {
  std::lock_guard<std::mutex> g(lock_);
  if (now_.lost) return;
  if (now_.files.size() + now_.dirs.size() >= kMostPaths) {
    // A burst this large is met by the look for files without archives instead of a set that
    // grows without bound.
    now_.files.clear();
    now_.dirs.clear();
    now_.lost = true;
    return;
  }
  set.insert(std::move(key));
}

void ReportedPaths::AddFile(const std::wstring& path) {
  std::wstring key = platform::FoldNameCase(path);
  Insert(now_.files, std::move(key));
}

void ReportedPaths::AddDir(const std::wstring& path) {
  std::wstring key = platform::FoldNameCase(path);
  if (key.empty() || !platform::IsSeparator(key.back())) key += platform::PathSeparator();
  Insert(now_.dirs, std::move(key));
}

void ReportedPaths::MarkLost() {
  std::lock_guard<std::mutex> g(lock_);
  now_.files.clear();
  now_.dirs.clear();
  now_.lost = true;
}

ReportedPaths::Taken ReportedPaths::Take() {
  std::lock_guard<std::mutex> g(lock_);
  Taken t;
  std::swap(t, now_);
  return t;
}

void ReportedPaths::PutBack(Taken&& taken) {
  std::lock_guard<std::mutex> g(lock_);
  if (taken.lost || now_.lost) {
    now_.files.clear();
    now_.dirs.clear();
    now_.lost = true;
    return;
  }
  now_.files.merge(taken.files);
  now_.dirs.merge(taken.dirs);
}

ReportedPaths& CurrentReports() {
  static ReportedPaths* r = new ReportedPaths();  // the monitor's and the worker's; never destroyed
  return *r;
}

}  // namespace vq
