#include "app/BackupNotice.h"

#include <mutex>

#include "common/WFormat.h"

namespace vq {

bool BackupNoticeRule::Next(BackupHealth health, int32_t failedFiles, BackupNotice* notice) {
  if (health == BackupHealth::Ok) {
    if (!outage_) return false;
    outage_ = false;
    notice->failing = false;
    notice->text = L"备份已恢复正常";
    return true;
  }
  if (outage_) return false;
  outage_ = true;
  notice->failing = true;
  notice->text = health == BackupHealth::DestinationAway
                     ? std::wstring(L"备份失败:无法访问目的目录,恢复后会自动继续")
                     : WFormat(L"备份失败:%d个文件未能写入存档,详见日志", failedFiles);
  return true;
}

namespace {
struct Listening {
  std::mutex lock;
  BackupNoticeRule rule;
  std::function<void(const BackupNotice&)> show;
};

Listening& State() {
  // Never destroyed: the worker may report while the process ends.
  static auto* s = new Listening();
  return *s;
}

void OnBackupHealth(BackupHealth health, int32_t failedFiles) {
  Listening& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  BackupNotice notice;
  if (s.show && s.rule.Next(health, failedFiles, &notice)) s.show(notice);
}
}  // namespace

void ListenForBackupHealth(std::function<void(const BackupNotice&)> show) {
  Listening& s = State();
  {
    std::lock_guard<std::mutex> g(s.lock);
    s.rule = BackupNoticeRule();
    s.show = std::move(show);
  }
  SetBackupHealthListener(s.show ? OnBackupHealth : nullptr);
}

}  // namespace vq
