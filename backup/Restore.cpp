#include "backup/Restore.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "common/Text.h"
#include "common/WFormat.h"
#include "platform/Clock.h"
#include "platform/NewFile.h"
#include "platform/Paths.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"

namespace vq {

using zip::ReadStatus;

ArchiveHealth HealthOf(ReadStatus s) {
  if (s == ReadStatus::Sound) return ArchiveHealth::Sound;
  if (s == ReadStatus::WrongPassword) return ArchiveHealth::WrongPassword;
  return ArchiveHealth::Broken;
}

std::wstring ReadStatusReason(ReadStatus s) {
  switch (s) {
    case ReadStatus::Sound:
      return L"完好";
    case ReadStatus::WrongPassword:
      return L"密码不符";
    case ReadStatus::OpenFailed:
      return L"无法打开或读取";
    case ReadStatus::NotZip:
      return L"不是ZIP文件";
    case ReadStatus::EntryCount:
      return L"不是单个文件的ZIP";
    case ReadStatus::Unsupported:
      return L"不支持的压缩方式或加密";
    case ReadStatus::Damaged:
      return L"文件被截断或改动";
    case ReadStatus::BadData:
      return L"压缩数据损坏";
    case ReadStatus::TooLong:
      return L"数据超出标明的大小";
    case ReadStatus::SizeMismatch:
      return L"数据短于标明的大小";
    case ReadStatus::CrcMismatch:
      return L"CRC校验不符";
    case ReadStatus::OutputFailed:
      return L"写入失败";
    case ReadStatus::AuthFailed:
      return L"认证码不符(数据被改动)";
  }
  return L"?";
}

namespace {

bool IsDigits(const std::wstring& s, size_t at, size_t n) {
  for (size_t i = at; i < at + n; ++i)
    if (s[i] < L'0' || s[i] > L'9') return false;
  return true;
}

int Number(const std::wstring& s, size_t at, size_t n) {
  int v = 0;
  for (size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - L'0');
  return v;
}

bool EndsWithZip(const std::wstring& name) {
  return name.size() > 4 && EqualsIgnoreAsciiCase(std::wstring_view(name).substr(name.size() - 4), L".zip");
}

std::wstring WithSeparator(std::wstring dir) {
  if (!dir.empty() && !platform::IsSeparator(dir.back())) dir.push_back(platform::PathSeparator());
  return dir;
}

// The folder part of a path (with its separator) and the name after it.
void SplitPath(const std::wstring& path, std::wstring* folder, std::wstring* name) {
  size_t at = path.size();
  while (at > 0 && !platform::IsSeparator(path[at - 1])) --at;
  *folder = path.substr(0, at);
  *name = path.substr(at);
}

}  // namespace

bool ParseHistoryName(const std::wstring& name, const std::wstring& flattened, bool ignoreCase, CalendarTime* local) {
  // ".YYYY.MM.DD.HH.MM.SS" is 20 characters, ".zip" 4.
  if (name.size() != flattened.size() + 24) return false;
  const std::wstring_view head = std::wstring_view(name).substr(0, flattened.size());
  if (ignoreCase ? !EqualsIgnoreAsciiCase(head, flattened) : head != flattened) return false;
  const size_t s = flattened.size();
  static const size_t kDots[] = {0, 5, 8, 11, 14, 17, 20};
  for (size_t d : kDots)
    if (name[s + d] != L'.') return false;
  if (!IsDigits(name, s + 1, 4)) return false;
  for (size_t d : {5u, 8u, 11u, 14u, 17u})
    if (!IsDigits(name, s + d + 1, 2)) return false;
  if (name.compare(s + 21, 3, L"zip") != 0) return false;
  CalendarTime c;
  c.year = Number(name, s + 1, 4);
  c.month = Number(name, s + 6, 2);
  c.day = Number(name, s + 9, 2);
  c.hour = Number(name, s + 12, 2);
  c.minute = Number(name, s + 15, 2);
  c.second = Number(name, s + 18, 2);
  if (c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 || c.hour > 23 || c.minute > 59 || c.second > 60)
    return false;
  *local = c;
  return true;
}

std::wstring RestoredName(const std::wstring& fileName, const CalendarTime& t, int attempt) {
  size_t dot = fileName.rfind(L'.');
  if (dot == std::wstring::npos || dot == 0) dot = fileName.size();
  std::wstring name = fileName.substr(0, dot) +
                      WFormat(L" (%04d.%02d.%02d %02d.%02d.%02d)", t.year, t.month, t.day, t.hour, t.minute, t.second);
  if (attempt > 1) name += WFormat(L" (%d)", attempt);
  return name + fileName.substr(dot);
}

std::wstring LocalTimeText(UnixTime t) {
  CalendarTime c;
  if (!platform::ToLocalCalendar(t, &c)) return L"?";
  return WFormat(L"%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute, c.second);
}

// ---- Verify

std::vector<std::wstring> ViewArchives(platform::FileSystem& fs, const WorkDirs& dirs) {
  std::vector<std::wstring> out;
  std::vector<platform::DirEntry> entries;
  for (const std::wstring* flat : {&dirs.list, &dirs.history}) {
    entries.clear();
    if (flat->empty() || !fs.List(*flat, &entries)) continue;
    for (const platform::DirEntry& e : entries)
      if (!(e.attributes & platform::kAttrDirectory) && EndsWithZip(e.name)) out.push_back(*flat + e.name);
  }
  // The folder view mirrors the source tree; walked without recursion so depth costs no stack.
  std::vector<std::wstring> pending;
  if (!dirs.folder.empty()) pending.push_back(WithSeparator(dirs.folder));
  while (!pending.empty()) {
    std::wstring dir = pending.back();
    pending.pop_back();
    entries.clear();
    if (!fs.List(dir, &entries)) continue;
    for (const platform::DirEntry& e : entries) {
      if (e.attributes & platform::kAttrDirectory)
        pending.push_back(dir + e.name + platform::PathSeparator());
      else if (EndsWithZip(e.name))
        out.push_back(dir + e.name);
    }
  }
  return out;
}

VerifyReport RunVerify(platform::FileSystem& fs, const WorkDirs& dirs, const std::string& password, uint32_t progressMs,
                       unsigned threads) {
  VerifyReport rep;
  const uint32_t start = platform::TickCount();
  const std::vector<std::wstring> archives = ViewArchives(fs, dirs);
  WriteLog(L"校验备份开始:共 %d 个备份文件\r\n", int(archives.size()));
  const char* pw = password.empty() ? nullptr : password.c_str();
  if (threads == 0) threads = std::min(4u, std::max(1u, std::thread::hardware_concurrency()));
  threads = unsigned(std::min<size_t>(threads, std::max<size_t>(archives.size(), 1)));

  std::mutex lock;  // guards rep, done and lastProgress
  std::atomic<size_t> next{0};
  size_t done = 0;
  uint32_t lastProgress = start;
  auto work = [&] {
    for (size_t i = next++; i < archives.size(); i = next++) {
      const std::wstring& a = archives[i];
      zip::ZipEntryInfo info;
      ReadStatus s;
      {
        std::shared_lock<std::shared_mutex> g(ArchiveReplaceLock(a));
        s = zip::ZipExtractFile(fs, a, pw, {}, &info);
      }
      // An archive the pass replaced or removed since the listing is not a broken one.
      const bool gone = s == ReadStatus::OpenFailed && !fs.Exists(a);
      std::lock_guard<std::mutex> g(lock);
      ++done;
      if (!gone) {
        ++rep.checked;
        switch (HealthOf(s)) {
          case ArchiveHealth::Sound:
            ++rep.sound;
            rep.sourceBytes += info.size;
            break;
          case ArchiveHealth::WrongPassword:
            ++rep.wrongPassword;
            rep.wrongPasswordArchives.push_back(a);
            WriteLog(L"密码不符:%s\r\n", a);
            break;
          case ArchiveHealth::Broken:
            ++rep.broken;
            rep.brokenArchives.emplace_back(a, s);
            WriteLog(L"损坏:%s [%s]\r\n", a, ReadStatusReason(s));
            break;
        }
      }
      const uint32_t now = platform::TickCount();
      if (now - lastProgress >= progressMs && done < archives.size()) {
        lastProgress = now;
        WriteLog(L"校验进度:%d/%d, 已用 %u 秒\r\n", int(done), int(archives.size()), (now - start) / 1000);
      }
    }
  };
  std::vector<std::thread> helpers;
  for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(work);
  work();
  for (std::thread& t : helpers) t.join();
  rep.seconds = (platform::TickCount() - start) / 1000.0;
  WriteLog(L"校验备份结束:检查 %d 个, 完好 %d 个, 密码不符 %d 个, 损坏 %d 个, 用时 %.1f 秒\r\n", rep.checked, rep.sound,
           rep.wrongPassword, rep.broken, rep.seconds);
  return rep;
}

bool MaintenanceGate::BeginVerify(const std::function<void()>& onWait) {
  std::unique_lock<std::mutex> g(lock_);
  if (verifying_) return false;
  verifying_ = true;  // taken at once, so a cleaning asked for now waits for this verify
  if (cleanings_ > 0 && onWait) onWait();
  changed_.wait(g, [this] { return cleanings_ == 0; });
  return true;
}

void MaintenanceGate::EndVerify() {
  std::lock_guard<std::mutex> g(lock_);
  verifying_ = false;
  changed_.notify_all();
}

void MaintenanceGate::BeginClean(const std::function<void()>& onWait) {
  std::unique_lock<std::mutex> g(lock_);
  if (verifying_ && onWait) onWait();
  changed_.wait(g, [this] { return !verifying_; });
  ++cleanings_;
}

void MaintenanceGate::EndClean() {
  std::lock_guard<std::mutex> g(lock_);
  --cleanings_;
  changed_.notify_all();
}

MaintenanceGate& Maintenance() {
  // Lives as long as the process: engine threads may still use it while the process ends.
  static MaintenanceGate* gate = new MaintenanceGate();
  return *gate;
}

std::shared_mutex& ArchiveReplaceLock(const std::wstring& archive) {
  constexpr size_t kLocks = 16;
  static std::shared_mutex* locks = new std::shared_mutex[kLocks];
  // By the name alone: a reader and the pass may spell the folders before it differently.
  size_t start = archive.find_last_of(L"\\/");
  start = start == std::wstring::npos ? 0 : start + 1;
  uint32_t h = 2166136261u;
  for (size_t i = start; i < archive.size(); ++i) {
    wchar_t c = archive[i];
    if (c >= L'A' && c <= L'Z') c = wchar_t(c - L'A' + L'a');
    h = (h ^ uint32_t(c)) * 16777619u;
  }
  return locks[h % kLocks];
}

// ---- Versions

namespace {

UnixTime DosStampToUnix(uint32_t stamp, bool* ok) {
  CalendarTime c;
  c.year = int((stamp >> 25) & 0x7F) + 1980;
  c.month = int((stamp >> 21) & 0x0F);
  c.day = int((stamp >> 16) & 0x1F);
  c.hour = int((stamp >> 11) & 0x1F);
  c.minute = int((stamp >> 5) & 0x3F);
  c.second = int(stamp & 0x1F) * 2;
  UnixTime t = 0;
  *ok = platform::FromLocalCalendar(c, &t);
  return t;
}

ReadStatus LookAt(platform::FileSystem& fs, const std::wstring& archive, const std::string& password,
                  VersionCheck check, zip::ZipEntryInfo* info) {
  std::shared_lock<std::shared_mutex> g(ArchiveReplaceLock(archive));
  const char* pw = password.empty() ? nullptr : password.c_str();
  if (check == VersionCheck::Full) return zip::ZipExtractFile(fs, archive, pw, {}, info);
  std::unique_ptr<platform::FileStream> in = fs.OpenRead(archive);
  if (!in) return ReadStatus::OpenFailed;
  return check == VersionCheck::Opens ? zip::ZipCheckOpens(*in, pw, info) : zip::ZipReadInfo(*in, info);
}

}  // namespace

std::vector<FileVersion> ListVersions(platform::FileSystem& fs, const WorkDirs& dirs, const std::wstring& sourcePath,
                                      const std::string& password, VersionCheck check) {
  std::vector<FileVersion> out;
  const std::wstring flat = FlattenedPath(sourcePath);
  const bool ignoreCase = platform::PathSeparator() == L'\\';
  std::vector<platform::DirEntry> entries;
  if (!dirs.history.empty() && fs.List(dirs.history, &entries)) {
    for (const platform::DirEntry& e : entries) {
      CalendarTime local;
      if ((e.attributes & platform::kAttrDirectory) || !ParseHistoryName(e.name, flat, ignoreCase, &local)) continue;
      FileVersion v;
      v.view = FileVersion::View::History;
      v.archive = dirs.history + e.name;
      v.timeKnown = platform::FromLocalCalendar(local, &v.modified);
      zip::ZipEntryInfo info;
      v.status = LookAt(fs, v.archive, password, check, &info);
      v.size = info.size;
      out.push_back(v);
    }
  }
  const std::wstring list = dirs.list + flat + L".zip";
  if (!dirs.list.empty() && fs.Exists(list)) {
    FileVersion v;
    v.view = FileVersion::View::List;
    v.archive = list;
    zip::ZipEntryInfo info;
    v.status = LookAt(fs, list, password, check, &info);
    v.size = info.size;
    if (info.hasModified) {
      v.modified = info.modified;
      v.timeKnown = true;
    } else if (info.dosStamp) {
      v.modified = DosStampToUnix(info.dosStamp, &v.timeKnown);
    }
    out.push_back(v);
  }
  std::stable_sort(out.begin(), out.end(), [](const FileVersion& a, const FileVersion& b) {
    if (a.timeKnown != b.timeKnown) return a.timeKnown;
    if (a.modified != b.modified) return a.modified > b.modified;
    return a.view == FileVersion::View::List && b.view != FileVersion::View::List;
  });
  return out;
}

void LogVersions(const std::wstring& sourcePath, const std::vector<FileVersion>& versions) {
  if (versions.empty()) {
    WriteLog(L"没有找到备份版本:%s\r\n", sourcePath);
    return;
  }
  WriteLog(L"备份版本:%s\r\n", sourcePath);
  for (size_t i = 0; i < versions.size(); ++i) WriteLog(L"%s\r\n", VersionText(i + 1, versions[i]));
}

std::wstring VersionText(size_t number, const FileVersion& v) {
  const std::wstring state = v.status == ReadStatus::Sound ? std::wstring(L"可打开") : ReadStatusReason(v.status);
  return WFormat(L"[%d] %s %s %I64u 字节 %s", int(number), v.view == FileVersion::View::List ? L"最新" : L"历史",
                 v.timeKnown ? LocalTimeText(v.modified) : std::wstring(L"?"), v.size, state);
}

// ---- Restore

RestoreResult RestoreVersion(platform::FileSystem& fs, const FileVersion& version, const std::wstring& sourcePath,
                             const std::wstring& folder, const std::string& password) {
  RestoreResult r;
  std::wstring originalFolder, fileName;
  SplitPath(sourcePath, &originalFolder, &fileName);
  if (fileName.empty()) {
    r.reason = L"路径中没有文件名";
    return r;
  }
  std::wstring dir;
  if (folder.empty()) {
    dir = originalFolder;
    // The original's folder may have gone with the file; putting it back is part of restoring.
    if (dir.empty() || !fs.CreateDirectoryTree(dir)) {
      r.reason = L"无法创建原文件夹";
      return r;
    }
  } else {
    dir = WithSeparator(folder);
    if (!fs.IsDirectory(dir)) {
      r.reason = L"目标文件夹不存在";
      return r;
    }
  }

  // The bytes go to a partial file first, so no name a user sees ever holds half a file.
  std::wstring partial = dir + L"~" + fileName + L".vq.lumen.part";
  for (int n = 2; fs.Exists(partial) && n < 1000; ++n) partial = dir + WFormat(L"~%s.%d.vq.lumen.part", fileName, n);
  std::unique_ptr<platform::FileStream> out = fs.CreateAlways(partial);
  if (!out) {
    r.reason = WFormat(L"目标文件夹不可写[%d]", fs.LastError());
    return r;
  }
  zip::ZipEntryInfo info;
  ReadStatus s;
  {
    std::shared_lock<std::shared_mutex> g(ArchiveReplaceLock(version.archive));
    s = zip::ZipExtractFile(
        fs, version.archive, password.empty() ? nullptr : password.c_str(),
        [&](const uint8_t* p, size_t n) { return out->Write(p, n) == n; }, &info);
  }
  out.reset();
  if (s != ReadStatus::Sound) {
    fs.RemoveFile(partial);
    r.reason = ReadStatusReason(s);
    return r;
  }
  // The entry's own time is exact; the history name only knows the local second.
  const UnixTime modified = info.hasModified ? info.modified : version.modified;
  platform::SetLastWriteTime(partial, modified);
  CalendarTime local;
  if (!platform::ToLocalCalendar(modified, &local)) local = CalendarTime();

  for (int attempt = folder.empty() ? 1 : 0; attempt < 1000; ++attempt) {
    const std::wstring target = dir + (attempt == 0 ? fileName : RestoredName(fileName, local, attempt));
    if (fs.Exists(target)) continue;
    bool exists = false;
    if (platform::MoveNoReplace(partial, target, &exists)) {
      r.ok = true;
      r.target = target;
      return r;
    }
    if (!exists) break;  // taken meanwhile: try the next name; anything else ends the restore
  }
  fs.RemoveFile(partial);
  r.reason = L"无法以新名字保存";
  return r;
}

RestoreResult RestoreAndLog(platform::FileSystem& fs, const FileVersion& version, const std::wstring& sourcePath,
                            const std::wstring& folder, const std::string& password) {
  RestoreResult r = RestoreVersion(fs, version, sourcePath, folder, password);
  if (r.ok)
    WriteLog(L"恢复文件:%s -> %s\r\n", version.archive, r.target);
  else
    WriteLog(L"恢复失败:%s [%s]\r\n", version.archive, r.reason);
  return r;
}

FolderRestoreReport RestoreFolderAt(platform::FileSystem& fs, const WorkDirs& dirs, const std::wstring& sourceFolder,
                                    UnixTime at, const std::wstring& target, const std::string& password) {
  FolderRestoreReport rep;
  const std::wstring source = WithSeparator(sourceFolder);
  const std::wstring out = WithSeparator(target);
  WriteLog(L"恢复文件夹:%s (%s) -> %s\r\n", source, LocalTimeText(at), out);
  // The folder view mirrors the source tree with real separators, deleted files included; the
  // flat history names cannot tell a separator from a full stop, so they are found per file.
  std::vector<std::wstring> pending{L""};
  const std::wstring base = WithSeparator(dirs.folder) + DriveRelativePath(source, platform::RootLength());
  while (!pending.empty()) {
    const std::wstring rel = pending.back();
    pending.pop_back();
    std::vector<platform::DirEntry> entries;
    if (!fs.List(base + rel, &entries)) continue;
    for (const platform::DirEntry& e : entries) {
      if (e.attributes & platform::kAttrDirectory) {
        pending.push_back(rel + e.name + platform::PathSeparator());
        continue;
      }
      if (!EndsWithZip(e.name)) continue;
      const std::wstring file = source + rel + e.name.substr(0, e.name.size() - 4);
      const std::vector<FileVersion> versions = ListVersions(fs, dirs, file, password, VersionCheck::Headers);
      const FileVersion* chosen = nullptr;
      for (const FileVersion& v : versions)
        if (v.timeKnown && v.modified <= at) {
          chosen = &v;
          break;
        }
      if (!chosen) {
        ++rep.noVersion;
        continue;
      }
      if (!fs.CreateDirectoryTree(out + rel)) {
        ++rep.failed;
        WriteLog(L"恢复失败:%s [无法创建文件夹]\r\n", out + rel);
        continue;
      }
      if (RestoreAndLog(fs, *chosen, file, out + rel, password).ok)
        ++rep.restored;
      else
        ++rep.failed;
    }
  }
  WriteLog(L"恢复文件夹结束:恢复 %d 个, 失败 %d 个, 该时间之前没有版本 %d 个\r\n", rep.restored, rep.failed,
           rep.noVersion);
  return rep;
}

WorkDirs CurrentWorkDirs() {
  return WorkDirs{AppSettings.S_DIR_TEMP.Get(), AppSettings.S_DIR_ST_LIST.Get(), AppSettings.S_DIR_ST_HIST.Get(),
                  AppSettings.S_DIR_ST_DIR.Get()};
}

}  // namespace vq
