// The flags the engine threads share. Each is one whole 32-bit value, read and written
// indivisibly; there are no locks.
#pragma once

#include <atomic>
#include <cstdint>

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

}  // namespace vq
