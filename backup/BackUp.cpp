#include "backup/BackUp.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_set>
#include <vector>

#include "backup/EngineState.h"
#include "backup/OrderedWork.h"
#include "backup/Restore.h"
#include "backup/Schedule.h"
#include "backup/WorkDirs.h"
#include "common/Text.h"
#include "common/WFormat.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/SettingsStore.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"
#include "zip/ZipAes.h"
#include "zip/ZipWriter.h"

namespace vq {

namespace {
constexpr int kIdleSeconds = 18000;  // the idle ends after the 18001st second
constexpr int kAwayRetrySeconds = 60;
constexpr int kFailedRetrySeconds = 600;
constexpr uint32_t kIdlePollMs = 100;
constexpr UnixTime kAbandonedAfter = 86400;
constexpr unsigned kExtraWriters = 4;
const wchar_t kWorkPrefix[] = L"~vq.lumen.";
const wchar_t kLegacyPartialName[] = L"~vq.lumen.part";
const wchar_t kPartialSuffix[] = L".part";
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

namespace {
// Only letters, digits, '-' and '_' of the host name: it becomes part of a file name, the full
// stop is the separator before the process id and the '+' the one before a writer's number.
std::wstring SafeHost(const std::wstring& host) {
  std::wstring safe;
  for (wchar_t c : host)
    safe += (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'-' ? c : L'_';
  if (safe.empty()) safe = L"_";
  return safe;
}
}  // namespace

std::wstring WorkTag(const std::wstring& host, uint32_t pid) {
  return kWorkPrefix + SafeHost(host) + WFormat(L".%u", pid);
}

std::wstring OwnWorkTag() {
  static const std::wstring tag = WorkTag(platform::HostName(), platform::ProcessId());
  return tag;
}

std::wstring PartialArchivePath(const std::wstring& viewDir, uint32_t writer) {
  static const std::wstring host = kWorkPrefix + SafeHost(platform::HostName());
  return viewDir + host + WFormat(L"+%u.%u", writer, platform::ProcessId()) + kPartialSuffix;
}

std::wstring OwnTempDir(const std::wstring& tempDir) { return tempDir + OwnWorkTag() + platform::PathSeparator(); }

bool IsStrayWorkFile(const std::wstring& name, const std::wstring& suffix, UnixTime modified, UnixTime now,
                     const std::wstring& ownHost, uint32_t ownPid, const std::function<bool(uint32_t)>& running) {
  const bool old = now - modified > kAbandonedAfter;
  if (!suffix.empty() && name == kLegacyPartialName) return old;
  const std::wstring prefix = kWorkPrefix;
  if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  std::wstring body = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  size_t dot = body.rfind(L'.');
  if (dot == std::wstring::npos || dot == 0 || dot + 1 == body.size() || body.size() - dot > 11) return false;
  uint64_t pid = 0;
  for (size_t i = dot + 1; i < body.size(); ++i) {
    if (body[i] < L'0' || body[i] > L'9') return false;
    pid = pid * 10 + uint64_t(body[i] - L'0');
  }
  if (pid > 0xFFFFFFFFu) return false;
  if (old) return true;
  // The tag of this computer: the same text WorkTag makes of its name, with or without a writer's
  // number after it.
  size_t hostEnd = dot;
  const size_t plus = body.rfind(L'+', dot);
  if (plus != std::wstring::npos && plus + 1 < dot) {
    bool number = dot - plus <= 11;
    for (size_t i = plus + 1; i < dot; ++i) number = number && body[i] >= L'0' && body[i] <= L'9';
    if (!number) return false;
    hostEnd = plus;
  }
  if (SafeHost(ownHost) != body.substr(0, hostEnd)) return false;
  return uint32_t(pid) == ownPid || !running(uint32_t(pid));
}

int IdleLimitAfter(PassOutcome outcome, bool filesFailed) {
  if (outcome == PassOutcome::DestinationAway) return kAwayRetrySeconds;
  return filesFailed ? kFailedRetrySeconds : kIdleSeconds;
}

std::wstring EncodeRetryList(const std::set<std::wstring>& retry) {
  std::wstring out;
  for (const std::wstring& path : retry) {
    for (wchar_t c : path) {
      if (c == L'%')
        out += L"%25";
      else if (c == L'\n')
        out += L"%0A";
      else if (c == L'\r')
        out += L"%0D";
      else
        out += c;
    }
    out += L'\n';
  }
  return out;
}

std::set<std::wstring> DecodeRetryList(const std::wstring& text) {
  std::set<std::wstring> out;
  std::wstring path;
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c == L'\n') {
      if (!path.empty()) out.insert(path);
      path.clear();
    } else if (c == L'%' && text.compare(i, 3, L"%25") == 0) {
      path += L'%';
      i += 2;
    } else if (c == L'%' && text.compare(i, 3, L"%0A") == 0) {
      path += L'\n';
      i += 2;
    } else if (c == L'%' && text.compare(i, 3, L"%0D") == 0) {
      path += L'\r';
      i += 2;
    } else {
      path += c;
    }
  }
  if (!path.empty()) out.insert(path);
  return out;
}

namespace {
const wchar_t kRetryValue[] = L"retryFiles";
}

void SaveRetryList(const std::set<std::wstring>& retry) {
  SettingsStoreTransaction transaction;
  platform::SettingsKey key;
  std::wstring stored;
  // An empty list leaves no value behind; an unchanged one is not written again.
  const bool had = key.GetString(kRetryValue, &stored);
  if (retry.empty()) {
    if (had) key.Delete(kRetryValue);
  } else {
    const std::wstring text = EncodeRetryList(retry);
    if (!had || stored != text) key.SetString(kRetryValue, text);
  }
  key.Close();
}

std::set<std::wstring> LoadRetryList() {
  SettingsStoreTransaction transaction;
  platform::SettingsKey key;
  std::wstring stored;
  if (!key.GetString(kRetryValue, &stored)) return {};
  return DecodeRetryList(stored);
}

PassMemory& CurrentPassMemory() {
  static PassMemory* m = new PassMemory();  // the worker's; never destroyed while it may run
  return *m;
}

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
// With flushFolder false the move is left for the caller to flush with its folder.
uint32_t WriteArchive(platform::FileSystem& fs, const std::wstring& archive, const std::wstring& partial,
                      const zip::ZipPrepared* entry, const std::string& password, zip::ZipEncryption encryption,
                      bool flushFolder) {
  zip::ZipHandle h = zip::ZipCreate(partial, password, fs);
  if (h) zip::ZipSetEncryption(h, encryption);
  uint32_t r = zip::ZipAddPrepared(h, entry);
  uint32_t closed = zip::ZipClose(h);
  if (!h) return r;  // nothing was created
  if (r == zip::kZipSuccess && closed != zip::kZipSuccess) r = closed;
  if (r == zip::kZipSuccess) {
    // Not while a verify or restore reads the old archive (Windows refuses to replace it then).
    std::lock_guard<std::shared_mutex> g(ArchiveReplaceLock(archive));
    if (!(flushFolder ? fs.Rename(partial, archive) : fs.RenameUnflushed(partial, archive))) r = zip::kZipWriteFailed;
  }
  if (r != zip::kZipSuccess) fs.RemoveFile(partial);
  return r;
}

// Removes a folder of working files with all it holds. A link inside is removed as a link.
void RemoveWorkTree(platform::FileSystem& fs, const std::wstring& dir) {
  std::vector<platform::DirEntry> entries;
  if (fs.List(dir, &entries)) {
    for (const platform::DirEntry& e : entries) {
      std::wstring child = dir + e.name;
      if ((e.attributes & platform::kAttrDirectory) && !(e.attributes & platform::kAttrReparsePoint))
        RemoveWorkTree(fs, child + platform::PathSeparator());
      else if (e.attributes & platform::kAttrDirectory)
        fs.RemoveDir(child);
      else
        RemoveTempCopy(fs, child);
    }
  }
  fs.RemoveDir(dir);
}

}  // namespace

bool DestinationReachable(platform::FileSystem& fs, const std::wstring& destDir, std::vector<std::wstring>* made) {
  if (destDir.empty()) return false;
  if (fs.IsDirectory(destDir)) return true;
  std::vector<std::wstring> madeHere;
  if (!CreateFolderTree(fs, destDir, &madeHere)) return false;
  if (made) made->insert(made->end(), madeHere.begin(), madeHere.end());
  return true;
}

bool CreateFolderTree(platform::FileSystem& fs, const std::wstring& dir, std::vector<std::wstring>* made) {
  // The missing folders, from the deepest up to the first that exists.
  std::vector<std::wstring> missing;
  std::wstring at = dir;
  while (!at.empty() && platform::IsSeparator(at.back())) at.pop_back();
  while (!at.empty() && at.size() > platform::RootLength() && !fs.IsDirectory(at)) {
    missing.push_back(at);
    const size_t sep = at.find_last_of(L"\\/");
    if (sep == std::wstring::npos) break;
    at.erase(sep);
  }
  if (missing.empty()) return true;
  fs.CreateDirectoryTree(dir);
  bool made_all = true;
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!fs.IsDirectory(*it)) {
      made_all = false;
      break;
    }
    made->push_back(*it);
  }
  return made_all;
}

std::vector<std::wstring> FoldersToFlushFor(const std::vector<std::wstring>& made) {
  // A new folder's name is an entry of its parent: the parent is flushed for it. A folder made
  // here whose own entries came later is flushed where they are moved or made.
  std::vector<std::wstring> out;
  for (const std::wstring& m : made) {
    out.push_back(m + platform::PathSeparator());
    const size_t sep = m.find_last_of(L"\\/");
    if (sep != std::wstring::npos) out.push_back(m.substr(0, sep + 1));
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

void RemoveStrayWorkFiles(platform::FileSystem& fs, UnixTime now, std::vector<platform::DirEntry>* listView) {
  const std::wstring host = platform::HostName();
  const uint32_t pid = platform::ProcessId();
  auto running = [](uint32_t p) { return platform::ProcessRunning(p); };
  // Only names that start with the mark are looked at again, so the views' archives cost nothing
  // but the listing.
  auto stray = [&](const std::wstring& dir, const platform::DirEntry& e, const wchar_t* suffix) {
    if (e.name.compare(0, 10, kWorkPrefix) != 0) return false;
    platform::DirEntry fresh;
    if (!fs.Stat(dir + e.name, &fresh)) return false;
    return IsStrayWorkFile(e.name, suffix, fresh.modified, now, host, pid, running);
  };
  std::vector<platform::DirEntry> entries;
  for (const SharedText* view : {&AppSettings.S_DIR_ST_LIST, &AppSettings.S_DIR_ST_HIST, &AppSettings.S_DIR_ST_DIR}) {
    std::wstring dir = view->Get();
    if (!fs.List(dir, &entries)) continue;
    for (const platform::DirEntry& e : entries)
      if (!(e.attributes & platform::kAttrDirectory) && stray(dir, e, kPartialSuffix)) fs.RemoveFile(dir + e.name);
    if (listView && view == &AppSettings.S_DIR_ST_LIST) listView->swap(entries);
  }
  std::wstring temp = AppSettings.S_DIR_TEMP.Get();
  if (temp.empty() || !fs.List(temp, &entries)) return;
  for (const platform::DirEntry& e : entries)
    if ((e.attributes & platform::kAttrDirectory) && !(e.attributes & platform::kAttrReparsePoint) &&
        stray(temp, e, L""))
      RemoveWorkTree(fs, temp + e.name + platform::PathSeparator());
}

namespace {

// The names of a view's listing, in the form the file system compares them in. A view that could
// not be listed leaves the set empty: every file then lacks its archive, as it does.
void ArchivedNames(const std::vector<platform::DirEntry>& entries, std::unordered_set<std::wstring>* out) {
  out->reserve(entries.size());
  for (const platform::DirEntry& e : entries)
    if (!(e.attributes & platform::kAttrDirectory)) out->insert(platform::FoldNameCase(e.name));
}

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

// Files whose archives failed in the last pass (taken whatever their time) and in this one, and
// what else selects a file whatever its time in this pass.
struct PassRetries {
  std::set<std::wstring> earlier, failed;
  ReportedPaths::Taken reported;         // what the monitor saw made, written or moved in
  std::vector<std::wstring> madeBefore;  // folders to flush for what the pass made before the walk
  bool lookForMissing = false;
  std::unordered_set<std::wstring> listed;  // with lookForMissing: the list view's names, folded

  bool Reported(const std::wstring& path) const {
    return !reported.files.empty() && reported.files.count(platform::FoldNameCase(path)) != 0;
  }
  bool ReportedDir(const std::wstring& dir) const {
    return !reported.dirs.empty() && reported.dirs.count(platform::FoldNameCase(dir)) != 0;
  }
  // Whether the file has no list archive: one was never written for this path (a file renamed,
  // moved or copied in with an older time), or the view lost it.
  bool LacksArchive(const std::wstring& path) const {
    return lookForMissing && listed.count(platform::FoldNameCase(FlattenedPath(path) + L".zip")) == 0;
  }
};

// The failure line of view 1 (list), 2 (history) or 3 (folder); the third has two blanks.
void LogFailed(int view, uint32_t code, const std::wstring& path) {
  static const wchar_t* const kLines[] = {L"ZipAdd 1 失败[%lu] [%s] \r\n", L"ZipAdd 2 失败[%lu] [%s] \r\n",
                                          L"ZipAdd 3 失败[%lu] [%s]  \r\n"};
  WriteLog(kLines[view - 1], static_cast<unsigned long>(code), path);
}

// Lets at most a given number of threads through at once: the helpers that write archives also
// compress, and compressing stays at the pass's number of compressors.
class Gate {
 public:
  explicit Gate(unsigned open) : open_(open) {}
  class Pass {
   public:
    explicit Pass(Gate* gate) : gate_(gate) {
      if (!gate_) return;
      std::unique_lock<std::mutex> g(gate_->lock_);
      gate_->freed_.wait(g, [this] { return gate_->open_ > 0; });
      --gate_->open_;
    }
    ~Pass() {
      if (!gate_) return;
      {
        std::lock_guard<std::mutex> g(gate_->lock_);
        ++gate_->open_;
      }
      gate_->freed_.notify_one();
    }
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;

   private:
    Gate* const gate_;
  };

 private:
  std::mutex lock_;
  std::condition_variable freed_;
  unsigned open_;
};

// The folders a walk moved archives into, flushed once for a batch of files instead of once per
// archive: on a disk a folder's flush costs about as much as an archive's own. Until then a power
// cut may undo a move, which leaves the old archive whole. The walk ends only after the last
// batch is flushed, so a pass never counts as done before its moves are on the disk; a folder
// that cannot be flushed sends the batch's files in it to the next pass again.
class FolderFlushes {
 public:
  FolderFlushes(platform::FileSystem& fs, PassRetries& retries) : fs_(fs), retries_(retries) {}

  // In walk order, once the file's archives are moved.
  // made: folders made for the file, whose entries need one flush after they were made.
  void Moved(const std::wstring& path, std::vector<std::wstring> folders, std::vector<std::wstring> made = {}) {
    batch_.push_back({path, std::move(folders), std::move(made)});
    if (batch_.size() >= kFilesPerFlush) Flush();
  }

  // Folders the pass made before the walk (views made again): flushed with every batch, and
  // every file of a batch counts as failed when one of them cannot be flushed.
  void Always(const std::vector<std::wstring>& folders) {
    always_.insert(always_.end(), folders.begin(), folders.end());
  }

  void Flush() {
    std::map<std::wstring, bool> flushed;
    auto flush = [&](const std::wstring& folder) {
      auto at = flushed.find(folder);
      if (at == flushed.end()) at = flushed.emplace(folder, FlushOne(folder)).first;
      return at->second;
    };
    bool always = true;
    for (const std::wstring& folder : always_) always = flush(folder) && always;
    for (const MovedFile& f : batch_) {
      bool ok = always;
      for (const std::wstring& folder : f.folders) ok = flush(folder) && ok;
      for (const std::wstring& folder : f.made) {
        if (durable_.count(folder)) continue;
        const bool done = flush(folder);
        if (done) durable_.insert(folder);
        ok = done && ok;
      }
      if (!ok) {
        // Its own lines said the archives were written; this one says they may not last.
        WriteLog(L"存档目录刷新失败,稍后重试 [%s]\r\n", f.path);
        retries_.failed.insert(f.path);
      }
    }
    batch_.clear();
  }

 private:
  // A power cut may undo the moves of this many files and of those still in flight. Each batch
  // costs a flush of the list and history views and of every mirrored folder it touched.
  static constexpr size_t kFilesPerFlush = 64;
  struct MovedFile {
    std::wstring path;
    std::vector<std::wstring> folders, made;
  };
  std::set<std::wstring> durable_;  // made folders whose entries were flushed after they were made
  // A flush that throws is a flush that failed: the batch's files are retried, none is lost.
  bool FlushOne(const std::wstring& folder) {
    try {
      return fs_.FlushFolder(folder);
    } catch (...) {
      return false;
    }
  }
  platform::FileSystem& fs_;
  PassRetries& retries_;
  std::vector<MovedFile> batch_;
  std::vector<std::wstring> always_;
};

class MirroredFolders;

// How a walk writes its archives; a single file taken alone has neither, and flushes each
// archive's folder at once.
struct ArchiveWriting {
  Gate* compressing = nullptr;
  FolderFlushes* flushes = nullptr;
  MirroredFolders* mirrored = nullptr;
};

// Each archive written gets a partial file of its own: files are written side by side.
uint32_t NextWriter() {
  static std::atomic<uint32_t> next{0};
  return next.fetch_add(1, std::memory_order_relaxed);
}

// The mirrored folders of one walk: each is made once, and the folders that making it created
// are remembered, so that every file moved into it flushes them too (a file whose folder's entry
// was lost in a power cut is lost with it). Two writers making one folder tree at once could
// each find a part missing, and Windows may fail the slower one; folders are made one at a time.
class MirroredFolders {
 public:
  // The folders to flush with an archive moved into dir (dir itself not among them).
  std::vector<std::wstring> Make(platform::FileSystem& fs, const std::wstring& dir) {
    std::lock_guard<std::mutex> g(lock_);
    auto at = known_.find(dir);
    if (at != known_.end()) return at->second;
    std::vector<std::wstring> made;
    std::vector<std::wstring> flush;
    if (CreateFolderTree(fs, dir, &made)) {
      flush = FoldersToFlushFor(made);
      known_.emplace(dir, flush);
    } else {
      // Not remembered: the next file tries again. What was made still has its entries flushed.
      flush = FoldersToFlushFor(made);
    }
    return flush;
  }

 private:
  std::mutex lock_;
  std::map<std::wstring, std::vector<std::wstring>> known_;
};

// One selected file on its way to its three archives. The copy, the compression and the three
// archives are its first half and may run beside other files': on a disk each archive waits for
// its flush, and flushes of several files at once cost little more than one. Its log lines and
// the pass's bookkeeping are its second half, done in walk order, so the log reads as if each
// file were done before the next began. Files that share a working file or an archive are never
// in their first halves at once (ConflictsWith), so the later one's archive is the one kept.
class FileJob : public OrderedWork::Job {
 public:
  FileJob(platform::FileSystem& fs, std::wstring path, std::wstring name, PassRetries* retries, ArchiveWriting writing)
      : fs_(fs), path_(std::move(path)), name_(std::move(name)), retries_(retries), writing_(writing) {
    movedInto_.reserve(8);
  }

  // The archive paths need the local time of the last write, which may not exist: then the file
  // is logged as taken and the exception's line follows, as when it is thrown in the walk.
  void Plan(const std::wstring& tempDir, UnixTime modified) {
    CalendarTime local;
    if (!platform::ToLocalCalendar(modified, &local)) {
      planFailed_ = true;
      return;
    }
    dirs_ = WorkDirs{OwnTempDir(tempDir), AppSettings.S_DIR_ST_LIST.Get(), AppSettings.S_DIR_ST_HIST.Get(),
                     AppSettings.S_DIR_ST_DIR.Get()};
    a_ = ArchivePathsFor(dirs_, path_, name_, local, platform::RootLength());
    password_ = platform::WideToAnsi(AppSettings.S_ZIP_PSW.Get());
    encryption_ = AppSettings.zipEncryption.load() == kZipEncryptionAes256 ? zip::ZipEncryption::Aes256
                                                                           : zip::ZipEncryption::Traditional;
    // A temporary copy and a spill file of this job's own: two files whose names the file system
    // takes for one (every letter folded on Windows, not only A-Z) can never share them. The name
    // is kept after the number where it fits, for whoever looks into the folder.
    static std::atomic<uint32_t> jobs{0};
    const uint32_t job = jobs.fetch_add(1, std::memory_order_relaxed);
    a_.tempCopy = dirs_.temp + (name_.size() <= 200 ? WFormat(L"%u.%s.temp", job, name_) : WFormat(L"%u.temp", job));
    // The archives' names as the file system compares them, for ConflictsWith.
    for (const std::wstring* a : {&a_.list, &a_.history, &a_.folder}) folded_.push_back(platform::FoldNameCase(*a));
    fs_.CreateDirectoryTree(dirs_.temp);
  }

  void Prepare() override {
    if (planFailed_) return;
    // The AES keys before the compressors' gate: their derivation is most of a small file's
    // processor time, and here it runs beside the copies, compressions and archive flushes of
    // the other files instead of holding a compressor's place.
    if (sealing()) keys_.Make(password_);
    {
      Gate::Pass compressing(writing_.compressing);
      Compress();
    }
    if (code_ == zip::kZipSuccess) WriteArchives();
    prepared_.reset();  // removes the spill file
  }

  void Finish() override {
    // The pass's bookkeeping comes before the lines, so that a line that cannot be written costs
    // no file its retry or its folders' flush. A job that threw may have moved an archive or two
    // already: its folders are flushed all the same, and it is a failed file.
    bool ok = !planFailed_ && !prepareThrew;
    for (int view = 1; ok && view <= 3; ++view)
      ok = code_ == zip::kZipSuccess && written_[view - 1] == zip::kZipSuccess;
    if (!ok && retries_) retries_->failed.insert(path_);
    if (writing_.flushes && (!movedInto_.empty() || !made_.empty()))
      writing_.flushes->Moved(path_, std::move(movedInto_), std::move(made_));
    WriteLog(L"DoBackUp[%d]:%s\r\n", 1, path_);
    if (planFailed_ || prepareThrew) {
      WriteLog(L"catch DoBackUp:...\r\n");
      return;
    }
    // Every add fails alike when there is no copy or no compressed data: each view gets that
    // code's line and no archive is written.
    for (int view = 1; view <= 3; ++view) {
      const uint32_t r = code_ != zip::kZipSuccess ? code_ : written_[view - 1];
      if (r) LogFailed(view, r, path_);
    }
  }

  bool ConflictsWith(const Job& other) const override {
    const auto& o = static_cast<const FileJob&>(other);
    if (planFailed_ || o.planFailed_) return false;
    // The flattened paths of the list and history views can coincide ("a.b\c" and "a\b.c"), in
    // the file system's own comparison of names. Working files are the job's own.
    for (size_t i = 0; i < folded_.size() && i < o.folded_.size(); ++i)
      if (folded_[i] == o.folded_[i]) return true;
    return false;
  }

 private:
  void Compress() {
    if (!CopyToTemp(fs_, path_, a_.tempCopy)) {
      // Without a copy there is nothing to archive; an archive without the entry must not
      // replace a good one, so none is written in this pass.
      RemoveTempCopy(fs_, a_.tempCopy);
      code_ = zip::kZipCouldNotOpen;
      return;
    }
    // The three archives hold the same deflated data: compress once, write three times. With
    // AES it is encrypted once too, under one salt: the three archives are then copies of one
    // another, which tells nobody more than one of them. The data is in memory or in the spill
    // file now, so the copy can go at once.
    zip::ZipPrepared* raw = nullptr;
    code_ = sealing()
                ? zip::ZipPrepareWithKeys(name_, a_.tempCopy, a_.tempCopy + L".z", &keys_, &raw, fs_)
                : zip::ZipPrepareEncrypted(name_, a_.tempCopy, a_.tempCopy + L".z", encryption_, password_, &raw, fs_);
    prepared_.reset(raw);
    RemoveTempCopy(fs_, a_.tempCopy);
  }

  bool sealing() const { return encryption_ == zip::ZipEncryption::Aes256 && !password_.empty(); }

  void WriteArchives() {
    const std::wstring* const archives[] = {&a_.list, &a_.history, &a_.folder};
    const std::wstring* const views[] = {&dirs_.list, &dirs_.history, &dirs_.folder};
    const std::wstring folderBase = a_.folder.substr(0, a_.folder.size() - 4);  // without ".zip"
    const std::wstring folders[] = {dirs_.list, dirs_.history, folderBase.substr(0, folderBase.size() - name_.size())};
    for (int view = 1; view <= 3; ++view) {
      if (view == 3) {
        MirroredFolders alone;
        MirroredFolders& mirrored = writing_.mirrored ? *writing_.mirrored : alone;
        for (const std::wstring& made : mirrored.Make(fs_, folders[2])) {
          if (writing_.flushes)
            made_.push_back(made);
          else
            fs_.FlushFolder(made);
        }
      }
      // Noted before the move: should anything throw after it, the folder is flushed all the same.
      if (writing_.flushes) movedInto_.push_back(folders[view - 1]);
      const uint32_t r = WriteArchive(fs_, *archives[view - 1], PartialArchivePath(*views[view - 1], NextWriter()),
                                      prepared_.get(), password_, encryption_, !writing_.flushes);
      if (r != zip::kZipSuccess && writing_.flushes) movedInto_.pop_back();
      written_[view - 1] = r;
    }
  }

  platform::FileSystem& fs_;
  const std::wstring path_, name_;
  PassRetries* const retries_;
  const ArchiveWriting writing_;
  bool planFailed_ = false;
  WorkDirs dirs_;
  ArchivePaths a_;
  std::string password_;
  zip::ZipEncryption encryption_ = zip::ZipEncryption::Traditional;
  zip::AesEntryKeys keys_;  // made in Prepare, spent by the compression
  uint32_t code_ = zip::kZipSuccess;
  uint32_t written_[3] = {zip::kZipSuccess, zip::kZipSuccess, zip::kZipSuccess};
  std::vector<std::wstring> folded_;     // the three archives, as the file system compares names
  std::vector<std::wstring> movedInto_;  // folders whose flush is left to the walk
  std::vector<std::wstring> made_;       // folders made for it, flushed by the walk once
  std::unique_ptr<zip::ZipPrepared, void (*)(zip::ZipPrepared*)> prepared_{nullptr, zip::ZipPreparedFree};
};

// Offers one listed file: when it is selected, its job is handed to the work. With listed, the
// entry carries the listing's size and time and they decide first: in most passes almost no
// file is newer, and a second look at every file would cost as much as the walk itself. A file
// they select is looked at again, because it may have changed or gone since.
void OfferFile(platform::FileSystem& fs, const std::wstring& path, const platform::DirEntry& entry,
               SelectionSettings& settings, PassRetries* retries, bool listed, bool belowReported, OrderedWork& work,
               ArchiveWriting writing) {
  const SelectionInput& in = settings.base;
  // timeLastBk is read now, per file: a reset during a pass applies to the files not yet visited.
  // A file that failed last time is taken again without waiting for its next change, and so is
  // one the monitor reported: renamed, moved or copied in, it may be older than the last backup.
  UnixTime since = AppSettings.timeLastBk.load();
  if (retries &&
      (belowReported || (!retries->earlier.empty() && retries->earlier.count(path)) || retries->Reported(path)))
    since = 0;
  if (listed) {
    const Selection s = Decide(in, path, entry.name, entry.size, entry.modified, since, settings.filterLower);
    if (s == Selection::NotNewer && retries && retries->LacksArchive(path))
      since = 0;
    else if (s != Selection::Selected)
      return;
  }
  // One fresh look serves the existence test and the size and time tests.
  platform::DirEntry fresh;
  if (!fs.Stat(path, &fresh)) {
    const int error = fs.LastError();
    work.FinishAll();  // the lines of the files before come first
    WriteLog(L"[%d]不存在或者名字乱码%s\r\n", error, path);
    return;
  }
  if (Decide(in, path, entry.name, fresh.size, fresh.modified, since, settings.filterLower) != Selection::Selected)
    return;

  backFileCount.fetch_add(1);
  auto job = std::make_unique<FileJob>(fs, path, entry.name, retries, writing);
  job->Plan(in.tempDir, fresh.modified);
  work.Add(std::move(job));
}

// How many files may be taken and not yet written. A large file ahead holds the ones behind it
// until it is compressed; with room for eight more the other compressor keeps busy meanwhile
// (with room for two, a pass over mixed sizes ran about a fifth slower). Each may hold up to the
// writer's memory bound of compressed data (4 MiB), so a pass holds 40 MiB at the very worst.
size_t InFlight(unsigned compressors) { return compressors + 8; }

// How many helpers prepare files: the compressors, and four more that write archives while the
// others compress. Most of an archive's time on a disk is its flushes, and four writers at once
// each waited less than half as long per archive as one writer alone.
unsigned Writers(unsigned compressors) { return compressors ? compressors + kExtraWriters : 0; }

// One listing per depth of the walk, kept from folder to folder so their names keep their storage
// (a deque: growing it for a deeper folder leaves the listings of the folders above in place).
using ListingPool = std::deque<std::vector<platform::DirEntry>>;

// The walk of one directory within a pass.
void WalkDir(platform::FileSystem& fs, const std::wstring& dir, int depth, PassRetries* retries, bool belowReported,
             ListingPool& pool, OrderedWork& work, ArchiveWriting writing) {
  std::wstring root = dir;
  if (root.empty() || !platform::IsSeparator(root.back())) root += platform::PathSeparator();
  if (IsRecycleBinPattern(root + L"*.*")) return;
  if (pool.size() <= size_t(depth)) pool.resize(size_t(depth) + 1);
  std::vector<platform::DirEntry>& entries = pool[size_t(depth)];
  if (!fs.ListWithTimes(root, &entries)) return;
  SelectionSettings settings = SelectionSettings::Current();
  std::wstring full = root;
  for (const platform::DirEntry& e : entries) {
    if (WalkSkips(e)) continue;
    full.replace(root.size(), std::wstring::npos, e.name);
    if (e.attributes & platform::kAttrDirectory) {
      const bool reported = belowReported || (retries && retries->ReportedDir(full + platform::PathSeparator()));
      WalkDir(fs, full, depth + 1, retries, reported, pool, work, writing);
      continue;
    }
    try {
      OfferFile(fs, full, e, settings, retries, true, belowReported, work, writing);
    } catch (...) {
      work.FinishAll();
      WriteLog(L"catch DoBackUp:...\r\n");
    }
  }
}

// A whole walk: every file selected in it has its archives written when this returns.
void WalkTree(platform::FileSystem& fs, const std::wstring& dir, int depth, PassRetries* retries,
              unsigned compressors) {
  ListingPool pool;
  Gate compressing(compressors ? compressors : 1);  // without helpers the caller compresses
  std::unique_ptr<FolderFlushes> flushes;
  if (retries) {
    flushes = std::make_unique<FolderFlushes>(fs, *retries);
    flushes->Always(retries->madeBefore);
  }
  MirroredFolders mirrored;
  OrderedWork work(Writers(compressors), InFlight(compressors));
  WalkDir(fs, dir, depth, retries, false, pool, work, ArchiveWriting{&compressing, flushes.get(), &mirrored});
  work.FinishAll();
  if (flushes) flushes->Flush();
}

}  // namespace

void DoBackUp(platform::FileSystem& fs, const std::wstring& path, const platform::DirEntry& entry) {
  SelectionSettings settings = SelectionSettings::Current();
  OrderedWork alone(0, 1);
  OfferFile(fs, path, entry, settings, nullptr, false, false, alone, {});
}

void BackUpDir(platform::FileSystem& fs, const std::wstring& dir, int depth, unsigned compressors) {
  WalkTree(fs, dir, depth, nullptr, compressors);
}

unsigned DefaultCompressors() {
  // Two files compress at once where there are two cores: a first pass over a large tree takes
  // about half the time, and the tray program still leaves the rest of a bigger machine alone.
  return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

PassOutcome RunBackUpPass(platform::FileSystem& fs, unsigned compressors) {
  backFileCount.store(0);
  const UnixTime start = platform::Now();
  const bool debug = AppSettings.vqDebug.load() != 0;
  PassMemory& memory = CurrentPassMemory();
  // The request is taken now, not at the end: a file saved while the walk runs, after the walk
  // passed its folder, raises the flag again and gets the next pass within seconds instead of
  // waiting out the five-hour idle.
  srcChanged.store(0);
  // Each file is judged against the time as it is when the walk comes to it; only a move back
  // while the walk runs needs anything more.
  TakeLastBackupTimeMovedBack();
  const std::wstring dest = AppSettings.S_DIR_DESTDATA.Get();
  std::vector<std::wstring> made;  // folders this pass makes before the walk
  if (!DestinationReachable(fs, dest, &made)) {
    // Every archive would fail: the pass waits for the destination instead, timeLastBk stays
    // where it is, and the outage is told once, not once per file.
    if (!memory.destinationAway) WriteLog(L"目标目录无法访问,暂停备份,每分钟重试 [%s]\r\n", dest);
    memory.destinationAway = true;
    ReportBackupHealth(BackupHealth::DestinationAway, 0);
    return PassOutcome::DestinationAway;
  }
  if (memory.destinationAway) {
    WriteLog(L"目标目录已恢复,继续备份 [%s]\r\n", dest);
    // A disk that comes back may be another one, or one restored from an older copy.
    memory.lookForMissing = true;
  }
  memory.destinationAway = false;
  // The views are made at start-up; a disk that comes back empty (or a view the user deleted)
  // would otherwise fail every archive of that view until the next start.
  for (const SharedText* view : {&AppSettings.S_DIR_ST_LIST, &AppSettings.S_DIR_ST_HIST, &AppSettings.S_DIR_ST_DIR}) {
    const std::wstring dir = view->Get();
    if (!dir.empty() && !fs.IsDirectory(dir)) CreateFolderTree(fs, dir, &made);
  }
  if (debug) WriteLog(L"DO S_DIR_SRCDATA back...\r\n");
  PassRetries retries;
  retries.madeBefore = FoldersToFlushFor(made);
  retries.reported = CurrentReports().Take();
  retries.lookForMissing = memory.lookForMissing || retries.reported.lost;
  {
    // The list view is listed for stray work files anyway; the look for files without archives
    // reads the same listing.
    std::vector<platform::DirEntry> listView;
    RemoveStrayWorkFiles(fs, start, retries.lookForMissing ? &listView : nullptr);
    if (retries.lookForMissing) ArchivedNames(listView, &retries.listed);
  }
  retries.earlier = memory.retry;  // a copy: a pass left by an exception retries them again
  try {
    WalkTree(fs, AppSettings.S_DIR_SRCDATA.Get(), 0, &retries, compressors);
  } catch (...) {
    // The files this pass should have taken are taken by the next one, and those that failed so
    // far are retried with those that failed before.
    CurrentReports().PutBack(std::move(retries.reported));
    memory.lookForMissing = memory.lookForMissing || retries.lookForMissing;
    memory.retry.insert(retries.failed.begin(), retries.failed.end());
    throw;
  }
  // This process's temporary folder goes when it is empty, so nothing is left between passes.
  std::wstring temp = AppSettings.S_DIR_TEMP.Get();
  if (!temp.empty()) fs.RemoveDir(OwnTempDir(temp));
  memory.retry.swap(retries.failed);
  memory.lookForMissing = false;
  // Times have whole seconds: a file saved in the pass's first second, after the walk passed it,
  // has a last-write time equal to the start and would never count as later. Ending one second
  // before the start takes it in the next pass, at the price of backing up again a file that
  // was written in that very second and already taken.
  // A reset or the schedule that moved the time back during the walk came too late for the
  // files already passed over: the earlier time stays and the next pass takes them.
  bool again = false;
  {
    SettingsStoreTransaction transaction;
    again = TakeLastBackupTimeMovedBack();
    // The files to retry are stored first: a restart or a power cut after the time moved on
    // must not forget them.
    SaveRetryList(memory.retry);
    if (!again) AppSettings.timeLastBk.store(start - 1);
    SaveSettings();
  }
  if (again) {
    WriteLog(L"备份期间最后备份时间被重置,将再备份一次\r\n");
    srcChanged.store(1);
  }
  int32_t count = backFileCount.load();
  int32_t failed = int32_t(memory.retry.size());
  if (count != 0 || debug) {
    CalendarTime c = CalendarForLog(start);
    std::wstring when = WFormat(L"%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute, c.second);
    WriteLog(L"back %d file at  %s\r\n", count, when);
  }
  if (failed != 0) WriteLog(L"%d 个文件的存档未能写入,稍后重试\r\n", failed);
  ReportBackupHealth(failed ? BackupHealth::ArchivesFailed : BackupHealth::Ok, failed);
  return PassOutcome::Done;
}

bool IdleStep(platform::Clock& clock, int* counter, int limit) {
  // The second is watched in tenths, so a change is taken up within a tenth of a second of the
  // poll rather than up to a whole one later; the count still runs in seconds.
  for (uint32_t waited = 0; waited < 1000; waited += kIdlePollMs) {
    clock.SleepMs(kIdlePollMs);
    if (srcChanged.load() != 0) break;
  }
  ++*counter;
  return *counter > limit || srcChanged.load() != 0;
}

bool IdleStep(int* counter) { return IdleStep(platform::RealClock(), counter, kIdleSeconds); }

void BackUpThreadStep(const EngineServices& services) {
  PassOutcome outcome = PassOutcome::Done;
  try {
    outcome = RunBackUpPass(services.fs);
  } catch (const std::exception& e) {
    // Outside the per-file guard (a listing, the settings save, memory): the worker must outlive
    // it, or no file would be backed up again until a restart.
    WriteLog(L"catch BackUpThreadFun:%S\r\n", e.what());
  } catch (...) {
    WriteLog(L"catch BackUpThreadFun:...\r\n");
  }
  int limit = IdleLimitAfter(outcome, !CurrentPassMemory().retry.empty());
  int counter = 0;
  while (!IdleStep(services.clock, &counter, limit)) {
  }
  // The pass after the long idle looks for files without archives: what the monitor cannot see
  // (a name it reported in a short form, a change it never delivered) is found within five hours.
  if (counter > limit && limit == kIdleSeconds) CurrentPassMemory().lookForMissing = true;
  services.clock.SleepMs(1000);
}

void BackUpThreadFun(const EngineServices& services) {
  LoadSettings();
  CurrentPassMemory().retry = LoadRetryList();
  while (monitRunning.load() == 0) services.clock.SleepMs(1000);
  services.clock.SleepMs(2000);
  for (;;) BackUpThreadStep(services);
}

void BackUpThreadFun() { BackUpThreadFun(RealEngineServices()); }

}  // namespace vq
