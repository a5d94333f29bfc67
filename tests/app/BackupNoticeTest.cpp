// When the user hears about backups that fail: once when an outage begins, once when it ends,
// never on a good day.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/BackupNotice.h"
#include "backup/EngineState.h"
#include "common/Text.h"

using namespace vq;

namespace {
// The rule's answers to a run of reports: "" for silence, else "+text" (failing) or "-text".
std::vector<std::wstring> Notices(const std::vector<std::pair<BackupHealth, int32_t>>& reports) {
  BackupNoticeRule rule;
  std::vector<std::wstring> out;
  for (const auto& r : reports) {
    BackupNotice n;
    out.push_back(rule.Next(r.first, r.second, &n) ? (n.failing ? L"+" : L"-") + n.text : L"");
  }
  return out;
}

const BackupHealth kOk = BackupHealth::Ok;
const BackupHealth kFailed = BackupHealth::ArchivesFailed;
const BackupHealth kAway = BackupHealth::DestinationAway;
}  // namespace

TEST(BackupNoticeRule, GoodDaysAreQuietAndAnOutageIsToldOnceWhenItBeginsAndOnceWhenItEnds) {
  EXPECT_EQ(Notices({{kOk, 0}, {kOk, 0}, {kOk, 0}}), (std::vector<std::wstring>{L"", L"", L""}));
  const std::wstring away = L"+备份失败:无法访问目的目录,恢复后会自动继续";
  const std::wstring back = L"-备份已恢复正常";
  // A week of skipped passes is one notice; a different failure within the same outage adds none.
  EXPECT_EQ(Notices({{kOk, 0}, {kAway, 0}, {kAway, 0}, {kFailed, 3}, {kAway, 0}, {kOk, 0}, {kOk, 0}}),
            (std::vector<std::wstring>{L"", away, L"", L"", L"", back, L""}));
  // Every new outage is told again, with what it is.
  EXPECT_EQ(Notices({{kFailed, 2}, {kOk, 0}, {kAway, 0}, {kOk, 0}}),
            (std::vector<std::wstring>{L"+备份失败:2个文件未能写入存档,详见日志", back, away, back}));
}

TEST(BackupNoticeRule, TheWorkersReportsReachTheFrontEndUntilItStopsListening) {
  std::vector<std::wstring> shown;
  ListenForBackupHealth([&shown](const BackupNotice& n) { shown.push_back(n.text); });
  ReportBackupHealth(kOk, 0);
  ReportBackupHealth(kFailed, 5);
  ReportBackupHealth(kFailed, 6);
  ReportBackupHealth(kOk, 0);
  EXPECT_EQ(shown, (std::vector<std::wstring>{L"备份失败:5个文件未能写入存档,详见日志", L"备份已恢复正常"}));
  // Listening again starts from a clean slate: an outage that began before is not "ended".
  ReportBackupHealth(kAway, 0);
  ListenForBackupHealth([&shown](const BackupNotice& n) { shown.push_back(n.text); });
  ReportBackupHealth(kOk, 0);
  EXPECT_EQ(shown.size(), 3u);
  ListenForBackupHealth(nullptr);
  ReportBackupHealth(kFailed, 1);
  EXPECT_EQ(shown.size(), 3u) << "nobody listens any more";
}
