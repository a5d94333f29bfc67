#include "backup/Browse.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <shared_mutex>

#include "backup/RestoreInternal.h"
#include "common/Text.h"
#include "common/WFormat.h"
#include "platform/Paths.h"
#include "settings/Log.h"

namespace vq {

using namespace restore_detail;

const FileVersion* VersionAt(const std::vector<FileVersion>& newestFirst, UnixTime at) {
  // Only a version that provably holds this file's content is ever picked without the user
  // choosing it (backup/VersionOwner.h).
  for (const FileVersion& v : newestFirst)
    if (v.owner == VersionOwner::Own && v.timeKnown && v.modified <= at) return &v;
  return nullptr;
}

bool PreviousBackupTime(const std::vector<UnixTime>& times, UnixTime at, UnixTime* out) {
  auto shown = std::upper_bound(times.begin(), times.end(), at);  // one past the time shown
  if (shown == times.begin() || --shown == times.begin()) return false;
  *out = *(shown - 1);
  return true;
}

bool NextBackupTime(const std::vector<UnixTime>& times, UnixTime at, UnixTime* out) {
  auto next = std::upper_bound(times.begin(), times.end(), at);
  if (next == times.end()) return false;
  *out = *next;
  return true;
}

namespace {

// Names as a user looks for them: case apart first, so "b" comes before "C".
bool NameBefore(const std::wstring& a, const std::wstring& b) {
  auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c; };
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i)
    if (lower(a[i]) != lower(b[i])) return lower(a[i]) < lower(b[i]);
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

// Every folder of rel below out is a real folder, not a link or junction that would lead the
// restored files out of the chosen folder. Folders found sound are remembered in known.
bool NoLinksBelow(platform::FileSystem& fs, const std::wstring& out, const std::wstring& rel,
                  std::set<std::wstring>* known) {
  size_t start = 0;
  while (start < rel.size()) {
    size_t end = start;
    while (end < rel.size() && !platform::IsSeparator(rel[end])) ++end;
    const std::wstring upTo = rel.substr(0, end);
    if (!known->count(upTo)) {
      std::vector<platform::DirEntry> entries;
      if (!fs.List(out + rel.substr(0, start), &entries)) return false;
      const std::wstring name = rel.substr(start, end - start);
      bool plain = false;
      for (const platform::DirEntry& e : entries)
        if (platform::PathSeparator() == L'\\' ? EqualsIgnoreAsciiCase(e.name, name) : e.name == name)
          plain = (e.attributes & platform::kAttrDirectory) && !(e.attributes & platform::kAttrReparsePoint);
      if (!plain) return false;
      known->insert(upTo);
    }
    start = end + 1;
  }
  return true;
}

}  // namespace

BackupCatalog BackupCatalog::Load(platform::FileSystem& fs, const WorkDirs& dirs, const std::wstring& root,
                                  const std::string& password) {
  BackupCatalog c;
  c.root_ = WithSeparator(root);
  std::vector<platform::DirEntry> history;
  if (!dirs.history.empty()) fs.List(dirs.history, &history);
  FolderListings folders;  // the ownership rule's look at the folder view, once for every file
  // The folder view mirrors the source tree with real separators, deleted files included; the
  // flat history names cannot tell a separator from a full stop, so the paths come from here.
  // Walked without recursion so depth costs no stack.
  const std::wstring base = WithSeparator(dirs.folder) + DriveRelativePath(c.root_, platform::RootLength());
  std::vector<std::wstring> pending{L""};
  std::vector<platform::DirEntry> entries;
  while (!dirs.folder.empty() && !pending.empty()) {
    const std::wstring rel = pending.back();
    pending.pop_back();
    entries.clear();
    if (!fs.List(base + rel, &entries)) continue;
    for (const platform::DirEntry& e : entries) {
      if (e.attributes & platform::kAttrReparsePoint) continue;  // a link is never followed
      if (e.attributes & platform::kAttrDirectory) {
        pending.push_back(rel + e.name + platform::PathSeparator());
      } else if (EndsWithZip(e.name)) {
        CatalogFile f;
        f.rel = rel + e.name.substr(0, e.name.size() - 4);
        // The versions of a path are the versions listing's, so the terminal's versions, the
        // restores and the browser never disagree about what belongs to a file.
        f.versions = ListVersionsIn(fs, dirs, history, c.root_ + f.rel, password, VersionCheck::Headers, &folders);
        c.files_.push_back(std::move(f));
      }
    }
  }
  std::sort(c.files_.begin(), c.files_.end(), [](const CatalogFile& a, const CatalogFile& b) { return a.rel < b.rel; });
  return c;
}

std::vector<const CatalogFile*> BackupCatalog::FilesUnder(const std::wstring& rel) const {
  std::vector<const CatalogFile*> out;
  const bool folder = rel.empty() || platform::IsSeparator(rel.back());
  auto it = std::lower_bound(files_.begin(), files_.end(), rel,
                             [](const CatalogFile& f, const std::wstring& r) { return f.rel < r; });
  for (; it != files_.end(); ++it) {
    if (!folder) {
      if (it->rel == rel) out.push_back(&*it);
      break;
    }
    if (it->rel.compare(0, rel.size(), rel) != 0) break;
    out.push_back(&*it);
  }
  std::sort(out.begin(), out.end(),
            [](const CatalogFile* a, const CatalogFile* b) { return NameBefore(a->rel, b->rel); });
  return out;
}

std::vector<BrowseRow> BackupCatalog::ListAt(const std::wstring& folder, UnixTime at) const {
  std::vector<BrowseRow> files;
  std::map<std::wstring, BrowseRow> folders;
  for (const CatalogFile* f : FilesUnder(folder)) {
    const FileVersion* v = VersionAt(f->versions, at);
    if (!v) continue;
    const std::wstring rest = f->rel.substr(folder.size());
    size_t sep = 0;
    while (sep < rest.size() && !platform::IsSeparator(rest[sep])) ++sep;
    if (sep < rest.size()) {
      BrowseRow& r = folders[rest.substr(0, sep)];
      r.name = rest.substr(0, sep);
      r.folder = true;
      r.modified = std::max(r.modified, v->modified);
      ++r.files;
    } else {
      BrowseRow r;
      r.name = rest;
      r.modified = v->modified;
      r.version = *v;
      files.push_back(std::move(r));
    }
  }
  std::vector<BrowseRow> rows;
  for (auto& [name, row] : folders) rows.push_back(std::move(row));
  auto byName = [](const BrowseRow& a, const BrowseRow& b) { return NameBefore(a.name, b.name); };
  std::sort(rows.begin(), rows.end(), byName);
  std::sort(files.begin(), files.end(), byName);
  for (BrowseRow& r : files) rows.push_back(std::move(r));
  return rows;
}

std::vector<UnixTime> BackupCatalog::TimesUnder(const std::wstring& folder) const {
  std::vector<UnixTime> times;
  for (const CatalogFile* f : FilesUnder(folder))
    for (const FileVersion& v : f->versions)
      if (v.owner == VersionOwner::Own && v.timeKnown) times.push_back(v.modified);
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  return times;
}

void CheckRowsOpen(platform::FileSystem& fs, const std::string& password, std::vector<BrowseRow>* rows) {
  const char* pw = password.empty() ? nullptr : password.c_str();
  for (BrowseRow& r : *rows) {
    if (r.folder) continue;
    std::shared_lock<std::shared_mutex> g(ArchiveReplaceLock(r.version.archive));
    std::unique_ptr<platform::FileStream> in = fs.OpenRead(r.version.archive);
    zip::ZipEntryInfo info;
    r.version.status = in ? zip::ZipCheckOpens(*in, pw, &info) : zip::ReadStatus::OpenFailed;
  }
}

SelectionReport RestoreSelection(platform::FileSystem& fs, const BackupCatalog& catalog,
                                 const std::vector<RestoreItem>& items, UnixTime at, const std::wstring& target,
                                 const std::string& password, const std::atomic<bool>* cancel,
                                 const std::function<void(const RestoreProgress&)>& progress) {
  struct Job {
    const CatalogFile* file;
    std::wstring folder;  // empty: beside the original
  };
  std::vector<Job> jobs;
  std::set<std::wstring> taken;  // a file selected with its folder is restored once
  const std::wstring out = target.empty() ? std::wstring() : WithSeparator(target);
  for (const RestoreItem& item : items) {
    std::wstring rel = item.rel;
    if (item.folder) rel = WithSeparator(rel);
    // A chosen folder gets the selected folder under its own name; the browsed folder itself
    // (rel "") has none, so its contents go straight in.
    std::wstring outBase = out;
    if (!out.empty() && item.folder && !rel.empty()) {
      std::wstring parent, name;
      SplitPath(rel.substr(0, rel.size() - 1), &parent, &name);
      outBase = out + name + platform::PathSeparator();
    }
    for (const CatalogFile* f : catalog.FilesUnder(rel)) {
      if (!taken.insert(f->rel).second) continue;
      Job j{f, {}};
      if (!out.empty()) {
        std::wstring sub, name;
        SplitPath(item.folder ? f->rel.substr(rel.size()) : std::wstring(), &sub, &name);
        j.folder = outBase + sub;
      }
      jobs.push_back(std::move(j));
    }
  }

  SelectionReport rep;
  std::set<std::wstring> plainFolders;  // folders below out already seen to be no links
  RestoreProgress p;
  p.total = jobs.size();
  for (size_t i = 0; i < jobs.size(); ++i) {
    const Job& j = jobs[i];
    const std::wstring source = catalog.Root() + j.file->rel;
    if (cancel && cancel->load()) {
      rep.cancelled = true;
      rep.notReached = jobs.size() - i;
      break;
    }
    p.done = i;
    p.file = source;
    if (progress) progress(p);
    const FileVersion* v = VersionAt(j.file->versions, at);
    if (!v) {
      rep.noVersion.push_back(source);
      continue;
    }
    if (!j.folder.empty() && !fs.CreateDirectoryTree(j.folder)) {
      rep.failed.emplace_back(source, L"无法创建文件夹");
      WriteLog(L"恢复失败:%s [无法创建文件夹]\r\n", j.folder);
      continue;
    }
    if (!j.folder.empty() && !NoLinksBelow(fs, out, j.folder.substr(out.size()), &plainFolders)) {
      rep.failed.emplace_back(source, L"目标中的文件夹是链接");
      WriteLog(L"恢复失败:%s [目标中的文件夹是链接]\r\n", j.folder);
      continue;
    }
    RestoreResult r = RestoreAndLog(fs, *v, source, j.folder, password, cancel);
    if (r.ok) {
      ++rep.restored;
    } else if (cancel && cancel->load()) {
      rep.cancelled = true;
      rep.notReached = jobs.size() - i;
      break;
    } else {
      rep.failed.emplace_back(source, r.reason);
    }
  }
  p.done = rep.cancelled ? jobs.size() - rep.notReached : jobs.size();
  p.file.clear();
  if (progress) progress(p);
  return rep;
}

std::wstring SelectionSummary(const SelectionReport& r) {
  std::wstring s = WFormat(L"恢复 %d 个, 失败 %d 个, 该时间之前没有版本 %d 个", r.restored, int(r.failed.size()),
                           int(r.noVersion.size()));
  if (r.cancelled) s += WFormat(L", 已取消, 未恢复 %d 个", int(r.notReached));
  return s;
}

}  // namespace vq
