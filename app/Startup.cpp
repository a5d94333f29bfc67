#include "app/Startup.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/EngineHooks.h"
#include "backup/Schedule.h"
#include "backup/WorkDirs.h"
#include "common/WFormat.h"
#include "platform/Clock.h"
#include "platform/Instance.h"
#include "platform/NamedMutex.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"

namespace vq {

std::atomic<int> firstRun{0};

void StartupHost::PauseBeforeRun() { platform::SleepMs(1000); }

namespace {
bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

std::wstring WithSeparator(std::wstring p, wchar_t sep) {
  if (p.empty() || (p.back() != L'\\' && p.back() != L'/')) p.push_back(sep);
  return p;
}

void LogStoredTime(const wchar_t* fmt, int64_t t) {
  CalendarTime c = CalendarForLog(t);
  WriteLog(fmt, c.year, c.month, c.day, c.hour, c.minute, c.second);
}

std::wstring JoinNames(const std::vector<std::wstring>& names) {
  std::wstring out;
  for (const std::wstring& n : names) out += (out.empty() ? L"" : L" ") + n;
  return out;
}

void WriteProductDescription() {
  WriteLogText(BuildTimeLine(__DATE__, __TIME__));
  WriteLog(L"数据安全保护软件[%s]版本，让数据从源目录流动到目的目录\r\n", kProductVersion);
  WriteLog(std::wstring(L"-增加编译设计参数:") + L"_UNICODE " + L"UNICODE " +
           L",编译器是 VS2015，静态xp模式编译，纯绿色，适用于所有WINDOWS系统。\r\n");
  WriteLog(L"-第一次运行时注册表中读取不到timeLastBk数据，那么timeLastBk被设置成一周前\r\n");
  WriteLog(L"-增加了最后备份时间重置功能，可以重新备份一天内或一周内或一月内或一年内修改过的数据\r\n");
  WriteLog(L"-清理功能是删除历史视图中的文件\r\n");
  WriteLog(L"-重置备份时间后会重新备份从最后备份时间到现在的所有文件\r\n");
  WriteLog(L"\r\n");
}
}  // namespace

DefaultDirs ComputeDefaultDirs(const std::wstring& documents, const std::wstring& profile,
                               const std::wstring& programDir, bool windowsForm) {
  DefaultDirs d;
  std::wstring base = documents;
  if (base.empty()) {
    // Never start with empty directories: the profile folder, else the program's folder.
    base = !profile.empty() ? profile : programDir;
    d.fallback = true;
    d.fallbackFrom = base;
  }
  const wchar_t sep = windowsForm ? L'\\' : L'/';
  d.src = WithSeparator(base, sep);
  if (windowsForm) {
    // A documents folder on a network share has no drive letter; "\:\vq.l\" would be no path
    // at all, so the destination goes to the system drive's letter instead.
    wchar_t drive = base[0];
    if (!IsDriveLetter(drive) || base.size() < 2 || base[1] != L':') {
      drive = L'C';
      const char* sys = std::getenv("SystemDrive");
      if (sys && IsDriveLetter(static_cast<wchar_t>(sys[0]))) drive = static_cast<wchar_t>(sys[0]);
    }
    d.dest = WFormat(L"%c:\\vq.l\\", drive);
  } else {
    std::wstring home = !profile.empty() ? profile : base;
    d.dest = WithSeparator(home, sep) + L"vq.l/";
  }
  return d;
}

bool IsRestartCommandLine(const std::wstring& commandLine) {
  return commandLine.find(L"restart") != std::wstring::npos;
}

std::wstring BuildTimeLine(const char* date, const char* time) {
  // __DATE__ is "Mmm dd yyyy", __TIME__ "hh:mm:ss".
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int month = 0;
  for (int i = 0; i < 12; ++i)
    if (std::strncmp(date, months[i], 3) == 0) month = i + 1;
  int day = std::atoi(date + 4);
  int year = std::atoi(date + 7);
  int hour = std::atoi(time), minute = std::atoi(time + 3), second = std::atoi(time + 6);
  return WFormat(L"%s 编译时间:%d年%d月%d日 %d:%d:%d\r\n", kProductName, year, month, day, hour, minute, second);
}

StartupResult RunStartup(StartupHost& host) {
  // A second start hands over to the first and leaves without a trace: nothing logged, nothing
  // stored, no tray icon.
  // A process started for a restart was started by the instance that is just ending: handing
  // over to it would end both and leave nothing running. It waits for that process (not its
  // window, which may linger) and runs even if the old one is still on its way out.
  const bool restarted = IsRestartCommandLine(platform::CommandLine());
  uint32_t origin = 0;
  const bool startedForRestart = platform::TakeRestartOrigin(&origin);
  if (startedForRestart) platform::WaitForProcessEnd(origin, kRestartWaitMs);
  platform::InstanceMark mark = platform::InstanceMark::Failed;
  {
    // Two starts at one instant (a double click that counts twice) would each look, find no
    // mark and set their own: the Windows window mark cannot tell them apart. The look and the
    // mark are one step under this lock. Never destroyed: the process ends with it in place.
    static platform::NamedMutex* const startLock = new platform::NamedMutex(L"vq.lumen.start");
    platform::NamedMutexLock held(*startLock);
    if (!startedForRestart && platform::HandOverToRunningInstance()) return StartupResult::HandedOver;
    mark = platform::MarkRunningInstance(host.MainWindowHandle());
    if (mark == platform::InstanceMark::TakenByOther) {
      // Another start won the race between our check and our mark.
      if (!startedForRestart) {
        platform::HandOverToRunningInstance();
        return StartupResult::HandedOver;
      }
      mark = platform::InstanceMark::Failed;
    }
  }
  platform::CreateRunningMarker();
  host.SetWindowIcons();
  AppSettings.logFileName.Set(std::wstring(kProductName) + L".log.txt");
  host.RegisterTaskbarCreatedMessage();
  host.AttachLogView();

  const bool windowsForm = platform::RootLength() == 3;
  DefaultDirs defaults =
      ComputeDefaultDirs(platform::DocumentsFolder(), platform::ProfileFolder(), platform::ProgramDir(), windowsForm);
  AppSettings.defaultSrcDir.Set(defaults.src);
  AppSettings.defaultDestDir.Set(defaults.dest);

  host.ShowTopmostBottomRight();
  host.StartTimers();
  host.ConfigureLogView();
  host.AddTrayIcon();
  host.SetStatusFont();
  host.SetStatusAndTitle(std::wstring(kProductName) +
                             L"-数据的简单保护:让数据安全地实时地加密地多路线保留历史版本地从一个地方流动到另一地方",
                         std::wstring(kProductName) + L"-保护你的数据安全");

  WriteProductDescription();
  host.PauseBeforeRun();
  CalendarTime now = platform::LocalNow();
  WriteLog(L"[%04d.%02d.%02d-%02d:%02d:%02d]:run!\r\n", now.year, now.month, now.day, now.hour, now.minute, now.second);
  if (defaults.fallback) WriteLog(L"找不到用户的文档目录,默认源目录改用[%s]\r\n", defaults.fallbackFrom);
  if (!host.FindDesktopIconWnd()) WriteLog(L"findDesktopIconWnd failed\r\n");
  // Without the mark a second start cannot find this one; the program still does its work.
  if (mark == platform::InstanceMark::Failed) WriteLog(L"单实例标记失败,程序继续运行\r\n");

  std::vector<std::wstring> missing, unusable;
  const bool stored = LoadSettings(&missing, &unusable);
  // A store cut short or edited by hand: what it still holds is kept, and the log says what
  // took its default.
  if (!missing.empty() && missing.size() < kStoredValueCount) WriteLog(L"设置中缺少以下值:%s\r\n", JoinNames(missing));
  if (!unusable.empty()) WriteLog(L"设置中以下目录含有控制字符,已改用默认目录:%s\r\n", JoinNames(unusable));
  if (stored) {
    LogStoredTime(L"秒:timeLastBk 读取到上一次同步的时间 %d年%d月%d日 %d:%d:%d \r\n", AppSettings.timeLastBk.load());
    LogStoredTime(L"日:timeLastBkDayly %d年%d月%d日 %d:%d:%d \r\n", AppSettings.timeLastBkDayly.load());
    LogStoredTime(L"周:timeLastBkWeekly %d年%d月%d日 %d:%d:%d \r\n", AppSettings.timeLastBkWeekly.load());
    LogStoredTime(L"月:timeLastBkMonthly %d年%d月%d日 %d:%d:%d \r\n", AppSettings.timeLastBkMonthly.load());
    LogStoredTime(L"年:timeLastBkYearly %d年%d月%d日 %d:%d:%d \r\n", AppSettings.timeLastBkYearly.load());
  } else {
    // The first-run rule is about the times. Every other value LoadSettings found stays (a
    // missing one already has its default), so the dialog shows the user's own settings.
    firstRun.store(1);
    ApplyFirstRunRule();
    WriteLog(L"第一次运行设置:\r\n");
    host.RunFirstRunSettingsDialog();
    firstRun.store(0);
  }
  // Afterwards the store and the record agree and every value exists in the store.
  if (!SaveSettings()) WriteLog(L"设置保存失败\r\n");

  InitWorkDirs();
  CreateWorkDirs();
  ShowRunParameters();

  ListenForBackupHealth([&host](const BackupNotice& n) { host.ShowBackupNotice(n); });
  StartScheduleThread();
  if (!StartDirMonitThread()) WriteLog(L"hThreadDir == NULL \r\n");
  StartBackUpThread();

  if (restarted) {
    WriteLog(L"软件重启成功\r\n");
    host.ShowMessageBox(L"软件重启成功");
  }
  StartProductInfo();
  ApplyAutoRun(AppSettings.autoRunFlag.load());
  return StartupResult::Running;
}

}  // namespace vq
