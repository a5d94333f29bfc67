#include "backup/EngineState.h"

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

}  // namespace vq
