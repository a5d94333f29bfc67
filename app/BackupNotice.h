// A notice for a user who never reads the log: the backups stopped working, or work again.
// Quiet on good days and quiet while an outage lasts; the front end shows what is decided here
// (Windows: a balloon at the tray icon; terminal: a line of its own).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "backup/EngineState.h"

namespace vq {

struct BackupNotice {
  bool failing = false;  // an outage began (else: it ended)
  std::wstring text;
};

// Decides from the worker's reports, one after another, when there is something to tell: the
// first report of an outage (a pass with failed archives, or a destination out of reach), and
// the first good pass after one. Whatever else fails while the outage lasts stays quiet.
class BackupNoticeRule {
 public:
  // True when notice was filled and must be shown.
  bool Next(BackupHealth health, int32_t failedFiles, BackupNotice* notice);

 private:
  bool outage_ = false;
};

// Listens to the worker's reports from now on and hands every notice the rule decides on to
// show, on the worker's thread. An empty show stops listening.
void ListenForBackupHealth(std::function<void(const BackupNotice&)> show);

inline constexpr wchar_t kBackupNoticeTitle[] = L"vq.l 备份";

}  // namespace vq
