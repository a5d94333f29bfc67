#include "app/RestoreCommands.h"

#include <map>
#include <mutex>

#include "app/CommandIds.h"
#include "app/Commands.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"

namespace vq {

namespace {
std::string Password() { return platform::WideToAnsi(AppSettings.S_ZIP_PSW.Get()); }

class NoHost : public CommandHost {
 public:
  void QuitMessageLoop() override {}
};

// The last listing shown of each path: the numbers a user reads there are the numbers a restore
// takes, whatever backups came since.
std::mutex g_shownLock;
std::map<std::wstring, std::vector<FileVersion>>& Shown() {
  static auto* shown = new std::map<std::wstring, std::vector<FileVersion>>();
  return *shown;
}
}  // namespace

std::vector<FileVersion> FindVersions(const std::wstring& sourcePath, VersionCheck check, bool log) {
  std::vector<FileVersion> v =
      ListVersions(platform::RealFileSystem(), CurrentWorkDirs(), sourcePath, Password(), check);
  if (log) {
    LogVersions(sourcePath, v);
    std::lock_guard<std::mutex> g(g_shownLock);
    Shown()[sourcePath] = v;
  }
  return v;
}

void ForgetShownVersions() {
  std::lock_guard<std::mutex> g(g_shownLock);
  Shown().clear();
}

RestoreResult RestoreNumbered(const std::wstring& sourcePath, int n, const std::wstring& folder) {
  std::vector<FileVersion> v;
  {
    std::lock_guard<std::mutex> g(g_shownLock);
    auto it = Shown().find(sourcePath);
    if (it == Shown().end()) {
      RestoreResult r;
      r.reason = L"请先用 versions 列出版本";
      WriteLog(L"恢复失败:%s [请先用 versions 列出版本]\r\n", sourcePath);
      return r;
    }
    v = it->second;
  }
  if (n < 1 || size_t(n) > v.size()) {
    RestoreResult r;
    r.reason = L"没有这个版本";
    WriteLog(L"恢复失败:%s [没有第 %d 个版本, 共 %d 个]\r\n", sourcePath, n, int(v.size()));
    return r;
  }
  return RestoreChosen(v[size_t(n - 1)], sourcePath, folder);
}

RestoreResult RestoreChosen(const FileVersion& version, const std::wstring& sourcePath, const std::wstring& folder) {
  return RestoreAndLog(platform::RealFileSystem(), version, sourcePath, folder, Password());
}

bool ParseRestoreTime(const std::wstring& text, CalendarTime* local) {
  int v[6] = {0, 0, 0, 23, 59, 59};
  const wchar_t seps[] = {L'-', L'-', L' ', L':', L':'};
  size_t at = 0;
  int fields = 0;
  while (fields < 6) {
    size_t digits = 0;
    int n = 0;
    while (at < text.size() && text[at] >= L'0' && text[at] <= L'9' && digits < 4) {
      n = n * 10 + (text[at++] - L'0');
      ++digits;
    }
    if (digits == 0) return false;
    v[fields++] = n;
    if (at == text.size()) break;
    if (fields == 6 || text[at] != seps[fields - 1]) return false;
    ++at;
  }
  if (at != text.size() || (fields != 3 && fields != 5 && fields != 6)) return false;
  if (fields == 5) v[5] = 0;
  if (v[1] < 1 || v[1] > 12 || v[3] > 23 || v[4] > 59 || v[5] > 59) return false;
  // 2021-02-30 is no day at all, not March 2.
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (v[0] % 4 == 0 && v[0] % 100 != 0) || v[0] % 400 == 0;
  if (v[2] < 1 || v[2] > kDays[v[1] - 1] + (v[1] == 2 && leap ? 1 : 0)) return false;
  *local = CalendarTime();
  local->year = v[0];
  local->month = v[1];
  local->day = v[2];
  local->hour = v[3];
  local->minute = v[4];
  local->second = v[5];
  return true;
}

std::wstring CleanTypedPath(const std::wstring& text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == L' ' || text[b] == L'\t')) ++b;
  while (e > b && (text[e - 1] == L' ' || text[e - 1] == L'\t' || text[e - 1] == L'\r' || text[e - 1] == L'\n')) --e;
  if (e - b >= 2 && text[b] == L'"' && text[e - 1] == L'"') ++b, --e;
  return text.substr(b, e - b);
}

std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
  std::vector<std::wstring> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i >= line.size()) break;
    std::wstring w;
    if (line[i] == L'"') {
      size_t end = line.find(L'"', i + 1);
      if (end == std::wstring::npos) end = line.size();
      w = line.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {
      while (i < line.size() && line[i] != L' ' && line[i] != L'\t') w.push_back(line[i++]);
    }
    words.push_back(w);
  }
  return words;
}

bool RunRestoreCommand(const std::wstring& line) {
  const std::vector<std::wstring> w = SplitCommandLine(line);
  if (w.empty()) return false;
  if (w[0] == L"verify" || w[0] == L"校验备份") {
    NoHost host;
    OnMenuCommand(ID_MENUITEM_VERIFY, host);
    return true;
  }
  if (w[0] == L"versions") {
    if (w.size() != 2)
      WriteLog(L"用法: versions PATH\r\n");
    else
      FindVersions(CleanTypedPath(w[1]), VersionCheck::Full, true);
    return true;
  }
  if (w[0] == L"restore-folder") {
    CalendarTime local;
    UnixTime at = 0;
    if (w.size() != 4 || !ParseRestoreTime(w[2], &local) || !platform::FromLocalCalendar(local, &at))
      WriteLog(L"用法: restore-folder FOLDER \"YYYY-MM-DD[ HH:MM[:SS]]\" TARGET\r\n");
    else
      RestoreFolderAt(platform::RealFileSystem(), CurrentWorkDirs(), CleanTypedPath(w[1]), at, CleanTypedPath(w[3]),
                      Password());
    return true;
  }
  if (w[0] == L"restore") {
    int n = 0;
    bool number = w.size() >= 3 && !w[2].empty();
    if (number)
      for (wchar_t c : w[2]) {
        if (c < L'0' || c > L'9' || n > 100000) {
          number = false;
          break;
        }
        n = n * 10 + (c - L'0');
      }
    if (!number || w.size() > 4)
      WriteLog(L"用法: restore PATH N [FOLDER]\r\n");
    else
      RestoreNumbered(CleanTypedPath(w[1]), n, w.size() == 4 ? CleanTypedPath(w[3]) : std::wstring());
    return true;
  }
  return false;
}

}  // namespace vq
