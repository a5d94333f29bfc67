// The flags the engine threads share. Each is one whole 32-bit value, read and written
// indivisibly; there are no locks.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>

namespace vq {

// Set (1) by the monitor, the schedule and the reset commands to ask the worker for a pass; the
// worker clears it after each pass.
extern std::atomic<int32_t> srcChanged;
// Set (1) once the change monitor watches the source; the worker's first pass waits for it.
extern std::atomic<int32_t> monitRunning;
// Files backed up by the pass that is running or ran last.
extern std::atomic<int32_t> backFileCount;

// How the last pass went, for a notice to a user who never reads the log. The worker reports at
// the end of every pass (and of every pass it had to skip); the front end that listens decides
// when a change is worth telling, so good days stay quiet.
enum class BackupHealth {
  Ok,               // every selected file has its archives
  ArchivesFailed,   // the pass ran, but some archives could not be written
  DestinationAway,  // the destination could not be reached; the pass was skipped
};
using BackupHealthListener = void (*)(BackupHealth health, int32_t failedFiles);
// One listener at a time; nullptr removes it. Safe to call from any thread.
void SetBackupHealthListener(BackupHealthListener listener);
// Called by the worker; does nothing without a listener.
void ReportBackupHealth(BackupHealth health, int32_t failedFiles);

// What the change monitor saw made, written or moved in since the worker last took it: a file
// renamed, moved or copied in keeps its old last-write time, and the last backup time alone
// would never select it. The next pass takes these paths whatever their time. Paths are kept in
// the form the file system compares them in (platform::FoldNameCase).
class ReportedPaths {
 public:
  struct Taken {
    std::unordered_set<std::wstring> files;  // a file at this path
    std::unordered_set<std::wstring> dirs;   // everything below this folder (ending in a separator)
    bool lost = false;                       // changes were lost: a pass must look for files without archives
    bool empty() const { return files.empty() && dirs.empty(); }
  };
  // A path the monitor reported (full path; a folder's without its final separator).
  void AddFile(const std::wstring& path);
  void AddDir(const std::wstring& path);
  // The watch lost changes (an overflow, a broken watch).
  void MarkLost();
  // Everything reported so far, leaving nothing behind.
  Taken Take();
  // A pass that did not get to the end gives back what it took.
  void PutBack(Taken&& taken);

  // More paths than this are not kept one by one: the pass then looks for files without archives.
  static constexpr size_t kMostPaths = 100000;

 private:
  void Insert(std::unordered_set<std::wstring>& set, std::wstring key);
  std::mutex lock_;
  Taken now_;
};
ReportedPaths& CurrentReports();

}  // namespace vq
