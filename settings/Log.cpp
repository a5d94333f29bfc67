#include "settings/Log.h"

#include <atomic>
#include <mutex>

#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/Paths.h"
#include "settings/AppSettings.h"
#include "settings/SettingsForm.h"

namespace vq {

namespace {
std::atomic<LogView*> g_view{nullptr};

// Never destroyed, like the mutex below: a worker may log while the process ends.
std::mutex& g_dirOverrideLock = *new std::mutex;
std::wstring& g_dirOverride = *new std::wstring;

// Created on the first file write and kept for the life of the process.
platform::NamedMutex& LogMutex() {
  static platform::NamedMutex* m = new platform::NamedMutex(L"vq.lumen");
  return *m;
}
}  // namespace

void SetLogView(LogView* view) { g_view.store(view); }

void SetLogDirectoryForTest(const std::wstring& dir) {
  std::lock_guard<std::mutex> g(g_dirOverrideLock);
  g_dirOverride = dir;
}

std::wstring JoinDirAndName(const std::wstring& dir, const std::wstring& name) {
  if (!dir.empty() && !platform::IsSeparator(dir.back()))
    return WFormat(L"%s%c%s", dir, platform::PathSeparator(), name);
  return WFormat(L"%s%s", dir, name);
}

std::wstring LogFilePath() {
  std::wstring dir;
  {
    std::lock_guard<std::mutex> g(g_dirOverrideLock);
    dir = g_dirOverride;
  }
  if (dir.empty()) dir = platform::LogDir();
  std::wstring name = AppSettings.logFileName.Get();
  if (name.empty()) name = std::wstring(kProductName) + L".log.txt";
  return JoinDirAndName(dir, name);
}

std::wstring LogTimePrefix() {
  CalendarTime c = platform::LocalNow();
  return WFormat(L"[%04d.%02d.%02d-%02d:%02d:%02d]:", c.year, c.month, c.day, c.hour, c.minute, c.second);
}

bool AppendLogEntry(const std::wstring& path, platform::NamedMutex& mutex, const std::wstring& text) {
  platform::NamedMutexLock hold(mutex);
  bool created = false;
  platform::File f = platform::File::OpenAppendExclusive(path, &created);
  if (!f.IsOpen()) return false;
  if (created) {
    static const unsigned char bom[2] = {0xFF, 0xFE};
    if (f.Write(bom, 2) != 2) return true;
  }
  std::string prefix = WideToUtf16LEBytes(LogTimePrefix());
  std::string body = WideToUtf16LEBytes(text);
  // A failed write drops the rest of the entry; the file is closed either way.
  if (!f.SeekEnd() || f.Write(prefix.data(), prefix.size()) != prefix.size()) return true;
  if (body.empty()) return true;
  if (!f.SeekEnd()) return true;
  f.Write(body.data(), body.size());
  return true;
}

void WriteLogFile(const std::wstring& text) { AppendLogEntry(LogFilePath(), LogMutex(), text); }

void WriteLogText(const std::wstring& text) {
  WriteLogFile(text);
  if (LogView* v = g_view.load()) v->AppendLogText(text);
}

void ShowRunParameters() {
  WriteLog(L"运行参数:\r\n");
  WriteLog(L"数据流动方向:S_DIR_SRCDATA >>> S_DIR_DESTDATA\r\n");
  WriteLog(L"REG_KEY:[%s]\r\n", kRegistryKeyName);
  WriteLog(L"fFilterSr:[%s]\r\n", AppSettings.fFilterSr.Get());
  WriteLog(L"AppName:[%s]\r\n", kAppName);
  WriteLog(L"autoRunFlag       [开机运行]     [%s]\r\n", AppSettings.autoRunFlag.load() != 0 ? L"是" : L"否");
  WriteLog(L"maxFSize          [文件大小限制] [%d]MB\r\n", AppSettings.maxFSize.load());
  WriteLog(L"S_ZIP_PSW         [Zip密码]      [%s]\r\n", std::wstring(AppSettings.S_ZIP_PSW.Get().size(), L'*'));
  WriteLog(L"zipEncryption     [Zip加密]      [%s]\r\n", ZipEncryptionName(AppSettings.zipEncryption.load()));
  WriteLog(L"logFileName       [日志文件]     [%s]\r\n", AppSettings.logFileName.Get());
  WriteLog(L"S_DIR_SRCDATA     [源目录]       [%s]\r\n", AppSettings.S_DIR_SRCDATA.Get());
  WriteLog(L"S_DIR_DESTDATA    [目的目录]     [%s]\r\n", AppSettings.S_DIR_DESTDATA.Get());
  WriteLog(L"S_DIR_TEMP        [临时目录]     [%s]\r\n", AppSettings.S_DIR_TEMP.Get());
  WriteLog(L"S_DIR_ST_LIST     [列表视图]     [%s]\r\n", AppSettings.S_DIR_ST_LIST.Get());
  WriteLog(L"S_DIR_ST_HIST     [历史视图]     [%s]\r\n", AppSettings.S_DIR_ST_HIST.Get());
  WriteLog(L"S_DIR_ST_DIR      [文件夹视图]   [%s]\r\n", AppSettings.S_DIR_ST_DIR.Get());
  WriteLog(L"手动备份所有数据的方法:菜单->重置->重置最后备份时间为1980年1月1日\r\n");
  WriteLog(L"中断备份所有数据的方法:菜单->重置->重置最后备份时间为一天前\r\n");
}

}  // namespace vq
