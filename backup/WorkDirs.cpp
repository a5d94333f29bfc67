#include "backup/WorkDirs.h"

#include "common/WFormat.h"
#include "platform/File.h"
#include "platform/Paths.h"
#include "settings/AppSettings.h"

namespace vq {

WorkDirs ComputeWorkDirs(const std::wstring& destDir, const std::wstring& tempPathLong, wchar_t separator) {
  WorkDirs d;
  d.temp = tempPathLong.empty() ? destDir : tempPathLong;
  // Plain joins: the destination always ends in a separator (defaults and the settings dialog
  // see to it), and a forward slash is used as it stands.
  d.list = destDir + L"mList" + separator;
  d.history = destDir + L"mHistory" + separator;
  d.folder = destDir + L"mScDir" + separator;
  return d;
}

void InitWorkDirs() {
  WorkDirs d = ComputeWorkDirs(AppSettings.S_DIR_DESTDATA.Get(), platform::TempPathLong(), platform::PathSeparator());
  AppSettings.S_DIR_TEMP.Set(d.temp);
  AppSettings.S_DIR_ST_LIST.Set(d.list);
  AppSettings.S_DIR_ST_HIST.Set(d.history);
  AppSettings.S_DIR_ST_DIR.Set(d.folder);
}

void CreateWorkDirs() {
  // Results are not examined: a directory that cannot be made shows up as a failed archive
  // write in the pass, which reports it.
  for (const SharedText* p : {&AppSettings.S_DIR_TEMP, &AppSettings.S_DIR_ST_LIST, &AppSettings.S_DIR_ST_HIST,
                              &AppSettings.S_DIR_ST_DIR, &AppSettings.S_DIR_DESTDATA, &AppSettings.S_DIR_SRCDATA}) {
    std::wstring dir = p->Get();
    if (!dir.empty()) platform::CreateDirectoryTree(dir);
  }
}

std::wstring FlattenedPath(const std::wstring& fullPath) {
  std::wstring f = fullPath;
  for (wchar_t& c : f)
    if (c == L'\\' || c == L'/' || c == L':') c = L'.';
  return f;
}

std::wstring DriveRelativePath(const std::wstring& fullPath, size_t rootLength) {
  return fullPath.size() > rootLength ? fullPath.substr(rootLength) : std::wstring();
}

std::wstring VersionStamp(const CalendarTime& c) {
  return WFormat(L".%04d.%02d.%02d.%02d.%02d.%02d", c.year, c.month, c.day, c.hour, c.minute, c.second);
}

ArchivePaths ArchivePathsFor(const WorkDirs& dirs, const std::wstring& fullPath, const std::wstring& fileName,
                             const CalendarTime& localWriteTime, size_t rootLength) {
  ArchivePaths a;
  std::wstring flat = FlattenedPath(fullPath);
  a.list = dirs.list + flat + L".zip";
  a.history = dirs.history + flat + VersionStamp(localWriteTime) + L".zip";
  a.folder = dirs.folder + DriveRelativePath(fullPath, rootLength) + L".zip";
  a.tempCopy = dirs.temp + fileName + L".temp";
  return a;
}

}  // namespace vq
