#include "backup/BackUp.h"

#include <memory>
#include <stdexcept>
#include <vector>

#include "backup/EngineState.h"
#include "backup/Restore.h"
#include "backup/Schedule.h"
#include "backup/WorkDirs.h"
#include "common/Text.h"
#include "common/WFormat.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"
#include "zip/ZipWriter.h"

namespace vq {

namespace {
constexpr int kIdleSeconds = 18000;  // the idle ends after the 18001st second
constexpr uint32_t kIdlePollMs = 100;
const wchar_t kPartialName[] = L"~vq.lumen.part";
}  // namespace

std::wstring ExtensionOf(const std::wstring& name) {
  size_t dot = name.rfind(L'.');
  return dot == std::wstring::npos ? std::wstring() : name.substr(dot);
}

namespace {

// The selection with the filter already in lower case (the walk lowers it once per folder). It
// runs for every file of every pass, so it allocates nothing.
Selection Decide(const SelectionInput& in, const std::wstring& path, const std::wstring& name, uint64_t size,
                 UnixTime modified, UnixTime timeLastBk, std::wstring_view filterLower) {
  for (const std::wstring* part : {&in.logFileName, &in.tempDir, &in.destDir})
    if (!part->empty() && path.find(*part) != std::wstring::npos) return Selection::Excluded;
  size_t dot = name.rfind(L'.');
  size_t extLen = dot == std::wstring::npos ? 0 : name.size() - dot;
  if (extLen < 2) return Selection::NoExtension;
  // The extension in lower case followed by a full stop, so only whole entries of the list match.
  wchar_t small[64];
  std::wstring large;
  wchar_t* key = small;
  if (extLen + 1 > sizeof small / sizeof small[0]) {
    large.resize(extLen + 1);
    key = &large[0];
  }
  for (size_t i = 0; i < extLen; ++i) {
    wchar_t c = name[dot + i];
    key[i] = (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
  }
  key[extLen] = L'.';
  if (filterLower.find(std::wstring_view(key, extLen + 1)) == std::wstring_view::npos) return Selection::NotInFilter;
  if (size > uint64_t(in.maxFSize) * 1048576u) return Selection::TooLarge;
  if (modified <= timeLastBk) return Selection::NotNewer;
  return Selection::Selected;
}

}  // namespace

Selection SelectFile(const SelectionInput& in) {
  return Decide(in, in.path, in.name, in.size, in.modified, in.timeLastBk, AsciiLower(in.filter));
}

bool WalkSkips(const platform::DirEntry& e) {
  if (e.attributes & (platform::kAttrHidden | platform::kAttrSystem)) return true;
  return (e.attributes & platform::kAttrDirectory) && e.name == L"ups";
}

bool IsRecycleBinPattern(const std::wstring& pattern) {
  return pattern.size() >= 11 && EqualsIgnoreAsciiCase(std::wstring_view(pattern).substr(0, 11), L"E:\\$RECYCLE");
}

std::wstring PartialArchivePath(const std::wstring& viewDir) { return viewDir + kPartialName; }

namespace {

// Copies the source to its temporary copy. A read-only copy left from an earlier file of the same
// name would refuse to be replaced; it is made writable and removed, and the copy tried again.
bool CopyToTemp(platform::FileSystem& fs, const std::wstring& from, const std::wstring& to) {
  if (fs.Copy(from, to)) return true;
  uint32_t attrs = 0;
  if (!fs.GetAttributes(to, &attrs) || !(attrs & platform::kAttrReadOnly)) return false;
  fs.SetAttributes(to, attrs & ~uint32_t(platform::kAttrReadOnly));
  fs.RemoveFile(to);
  return fs.Copy(from, to);
}

void RemoveTempCopy(platform::FileSystem& fs, const std::wstring& path) {
  if (fs.RemoveFile(path)) return;
  uint32_t attrs = 0;
  if (fs.GetAttributes(path, &attrs) && (attrs & platform::kAttrReadOnly)) {
    fs.SetAttributes(path, attrs & ~uint32_t(platform::kAttrReadOnly));
    fs.RemoveFile(path);
  }
}

// Writes one archive under its partial name and moves it over the old archive only when the add
// and the close both succeeded, so a failure never costs the archive of an earlier backup.
uint32_t WriteArchive(platform::FileSystem& fs, const std::wstring& archive, const std::wstring& partial,
                      const zip::ZipPrepared* entry, const std::string& password) {
  zip::ZipHandle h = zip::ZipCreate(partial, password.empty() ? nullptr : password.c_str(), fs);
  uint32_t r = zip::ZipAddPrepared(h, entry);
  uint32_t closed = zip::ZipClose(h);
  if (!h) return r;  // nothing was created
  if (r == zip::kZipSuccess && closed != zip::kZipSuccess) r = closed;
  if (r == zip::kZipSuccess) {
    // Not while a verify or restore reads the old archive (Windows refuses to replace it then).
    std::lock_guard<std::shared_mutex> g(ArchiveReplaceLock());
    if (!fs.Rename(partial, archive)) r = zip::kZipWriteFailed;
  }
  if (r != zip::kZipSuccess) fs.RemoveFile(partial);
  return r;
}

void RemoveStrayPartials(platform::FileSystem& fs) {
  for (const SharedText* view : {&AppSettings.S_DIR_ST_LIST, &AppSettings.S_DIR_ST_HIST, &AppSettings.S_DIR_ST_DIR}) {
    std::wstring p = PartialArchivePath(view->Get());
    if (fs.Exists(p)) fs.RemoveFile(p);
  }
}

}  // namespace

namespace {

// The settings the selection reads, taken once per folder: each is a whole value, old or new,
// and a pass may use old values for some files and new ones for others. timeLastBk is not among
// them: it is read for every file.
struct SelectionSettings {
  SelectionInput base;
  std::wstring filterLower;
  static SelectionSettings Current() {
    SelectionSettings s;
    s.base.logFileName = AppSettings.logFileName.Get();
    s.base.tempDir = AppSettings.S_DIR_TEMP.Get();
    s.base.destDir = AppSettings.S_DIR_DESTDATA.Get();
    s.base.maxFSize = AppSettings.maxFSize.load();
    s.filterLower = AsciiLower(AppSettings.fFilterSr.Get());
    return s;
  }
};

void DoBackUpWith(platform::FileSystem& fs, const std::wstring& path, const platform::DirEntry& entry,
                  SelectionSettings& settings) {
  // One fresh look serves the existence test and the size and time tests.
  platform::DirEntry fresh;
  if (!fs.Stat(path, &fresh)) {
    WriteLog(L"[%d]不存在或者名字乱码%s\r\n", fs.LastError(), path);
    return;
  }
  const SelectionInput& in = settings.base;
  // timeLastBk is read now, per file: a reset during a pass applies to the files not yet visited.
  if (Decide(in, path, entry.name, fresh.size, fresh.modified, AppSettings.timeLastBk.load(), settings.filterLower) !=
      Selection::Selected)
    return;

  backFileCount.fetch_add(1);
  WriteLog(L"DoBackUp[%d]:%s\r\n", 1, path);

  CalendarTime local;
  if (!platform::ToLocalCalendar(fresh.modified, &local)) throw std::runtime_error("last-write time out of range");
  WorkDirs dirs{in.tempDir, AppSettings.S_DIR_ST_LIST.Get(), AppSettings.S_DIR_ST_HIST.Get(),
                AppSettings.S_DIR_ST_DIR.Get()};
  ArchivePaths a = ArchivePathsFor(dirs, path, entry.name, local, platform::RootLength());

  if (!CopyToTemp(fs, path, a.tempCopy)) {
    // Without a copy there is nothing to archive; an archive without the entry must not replace
    // a good one, so none is written in this pass.
    RemoveTempCopy(fs, a.tempCopy);
    WriteLog(L"ZipAdd 1 失败[%lu] [%s] \r\n", static_cast<unsigned long>(zip::kZipCouldNotOpen), path);
    WriteLog(L"ZipAdd 2 失败[%lu] [%s] \r\n", static_cast<unsigned long>(zip::kZipCouldNotOpen), path);
    WriteLog(L"ZipAdd 3 失败[%lu] [%s]  \r\n", static_cast<unsigned long>(zip::kZipCouldNotOpen), path);
    return;
  }
  const std::string password = platform::WideToAnsi(AppSettings.S_ZIP_PSW.Get());

  // The three archives hold the same deflated data: compress once, write three times.
  zip::ZipPrepared* raw = nullptr;
  uint32_t r = zip::ZipPrepare(entry.name, a.tempCopy, a.tempCopy + L".z", &raw, fs);
  std::unique_ptr<zip::ZipPrepared, void (*)(zip::ZipPrepared*)> prepared(raw, zip::ZipPreparedFree);
  if (r) {
    // Every add would fail alike; no archive is written.
    RemoveTempCopy(fs, a.tempCopy);
    WriteLog(L"ZipAdd 1 失败[%lu] [%s] \r\n", static_cast<unsigned long>(r), path);
    WriteLog(L"ZipAdd 2 失败[%lu] [%s] \r\n", static_cast<unsigned long>(r), path);
    WriteLog(L"ZipAdd 3 失败[%lu] [%s]  \r\n", static_cast<unsigned long>(r), path);
    return;
  }

  r = WriteArchive(fs, a.list, PartialArchivePath(dirs.list), prepared.get(), password);
  if (r) WriteLog(L"ZipAdd 1 失败[%lu] [%s] \r\n", static_cast<unsigned long>(r), path);

  r = WriteArchive(fs, a.history, PartialArchivePath(dirs.history), prepared.get(), password);
  if (r) WriteLog(L"ZipAdd 2 失败[%lu] [%s] \r\n", static_cast<unsigned long>(r), path);

  std::wstring folderBase = a.folder.substr(0, a.folder.size() - 4);  // without ".zip"
  fs.CreateDirectoryTree(folderBase.substr(0, folderBase.size() - entry.name.size()));
  r = WriteArchive(fs, a.folder, PartialArchivePath(dirs.folder), prepared.get(), password);
  if (r) WriteLog(L"ZipAdd 3 失败[%lu] [%s]  \r\n", static_cast<unsigned long>(r), path);

  prepared.reset();
  RemoveTempCopy(fs, a.tempCopy);
}

}  // namespace

void DoBackUp(platform::FileSystem& fs, const std::wstring& path, const platform::DirEntry& entry) {
  SelectionSettings settings = SelectionSettings::Current();
  DoBackUpWith(fs, path, entry, settings);
}

void BackUpDir(platform::FileSystem& fs, const std::wstring& dir, int depth) {
  std::wstring root = dir;
  if (root.empty() || !platform::IsSeparator(root.back())) root += platform::PathSeparator();
  if (IsRecycleBinPattern(root + L"*.*")) return;
  std::vector<platform::DirEntry> entries;
  if (!fs.List(root, &entries)) return;
  SelectionSettings settings = SelectionSettings::Current();
  for (const platform::DirEntry& e : entries) {
    if (WalkSkips(e)) continue;
    std::wstring full = root + e.name;
    if (e.attributes & platform::kAttrDirectory) {
      BackUpDir(fs, full, depth + 1);
      continue;
    }
    try {
      DoBackUpWith(fs, full, e, settings);
    } catch (...) {
      WriteLog(L"catch DoBackUp:...\r\n");
    }
  }
}

void RunBackUpPass(platform::FileSystem& fs) {
  backFileCount.store(0);
  const UnixTime start = platform::Now();
  const bool debug = AppSettings.vqDebug.load() != 0;
  if (debug) WriteLog(L"DO S_DIR_SRCDATA back...\r\n");
  // The request is taken now, not at the end: a file saved while the walk runs, after the walk
  // passed its folder, raises the flag again and gets the next pass within seconds instead of
  // waiting out the five-hour idle.
  srcChanged.store(0);
  RemoveStrayPartials(fs);
  BackUpDir(fs, AppSettings.S_DIR_SRCDATA.Get(), 0);
  // Times have whole seconds: a file saved in the pass's first second, after the walk passed it,
  // has a last-write time equal to the start and would never count as later. Ending one second
  // before the start takes it in the next pass, at the price of backing up again a file that
  // was written in that very second and already taken.
  {
    SettingsStoreTransaction transaction;
    AppSettings.timeLastBk.store(start - 1);
    SaveSettings();
  }
  int32_t count = backFileCount.load();
  if (count != 0 || debug) {
    CalendarTime c = CalendarForLog(start);
    std::wstring when = WFormat(L"%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute, c.second);
    WriteLog(L"back %d file at  %s\r\n", count, when);
  }
}

bool IdleStep(int* counter) {
  // The second is watched in tenths, so a change is taken up within a tenth of a second of the
  // poll rather than up to a whole one later; the count still runs in seconds.
  for (uint32_t waited = 0; waited < 1000; waited += kIdlePollMs) {
    platform::SleepMs(kIdlePollMs);
    if (srcChanged.load() != 0) break;
  }
  ++*counter;
  return *counter > kIdleSeconds || srcChanged.load() != 0;
}

void BackUpThreadFun() {
  platform::FileSystem& fs = platform::RealFileSystem();
  LoadSettings();
  while (monitRunning.load() == 0) platform::SleepMs(1000);
  platform::SleepMs(1000);
  for (;;) {
    platform::SleepMs(1000);
    RunBackUpPass(fs);
    int counter = 0;
    while (!IdleStep(&counter)) {
    }
  }
}

}  // namespace vq
