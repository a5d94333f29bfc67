// The versions of one source file and how they are shown.
#include "backup/Restore.h"

#include <algorithm>
#include <memory>

#include "backup/RestoreInternal.h"
#include "common/WFormat.h"
#include "platform/Clock.h"
#include "settings/Log.h"

namespace vq {

using zip::ReadStatus;
using namespace restore_detail;

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
  if (check == VersionCheck::Full) return ExtractArchive(fs, archive, password, {}, info);
  std::shared_lock<std::shared_mutex> g(ArchiveReplaceLock(archive));
  std::unique_ptr<platform::FileStream> in = fs.OpenReadRegular(archive);
  if (!in) return ReadStatus::OpenFailed;
  const char* pw = password.empty() ? nullptr : password.c_str();
  return check == VersionCheck::Opens ? zip::ZipCheckOpens(*in, pw, info) : zip::ZipReadInfo(*in, info);
}

}  // namespace

namespace {

// The headers were found and read (whatever came after them): the entry's name and CRC are known.
bool HeadersRead(ReadStatus s) {
  return s != ReadStatus::OpenFailed && s != ReadStatus::NotZip && s != ReadStatus::EntryCount &&
         s != ReadStatus::Unsupported && s != ReadStatus::Damaged;
}

FileVersion Look(platform::FileSystem& fs, FileVersion::View view, const std::wstring& archive,
                 const std::string& password, VersionCheck check) {
  FileVersion v;
  v.view = view;
  v.archive = archive;
  zip::ZipEntryInfo info;
  v.status = LookAt(fs, archive, password, check, &info);
  v.size = info.size;
  v.evidence.view = view;
  v.evidence.entryKnown = HeadersRead(v.status);
  if (v.evidence.entryKnown) {
    v.evidence.entryName = info.rawName;
    v.evidence.utf8Name = info.utf8Name;
    v.evidence.crc = info.crc;
    v.evidence.size = info.size;
  }
  if (view != FileVersion::View::History) {
    if (info.hasModified) {
      v.modified = info.modified;
      v.timeKnown = true;
    } else if (info.dosStamp) {
      v.modified = DosStampToUnix(info.dosStamp, &v.timeKnown);
    }
    v.evidence.timeKnown = v.timeKnown;
    v.evidence.modified = v.modified;
  }
  return v;
}

}  // namespace

std::vector<FileVersion> ListVersions(platform::FileSystem& fs, const WorkDirs& dirs, const std::wstring& sourcePath,
                                      const std::string& password, VersionCheck check) {
  std::vector<platform::DirEntry> entries;
  if (!dirs.history.empty()) fs.List(dirs.history, &entries);
  return ListVersionsIn(fs, dirs, entries, sourcePath, password, check);
}

void KeepDistinctVersions(std::vector<FileVersion>* v) {
  // Versions of one time sit next to each other in a newest-first list; only those compare.
  size_t kept = 0;
  for (size_t i = 0; i < v->size(); ++i) {
    FileVersion& c = (*v)[i];
    bool repeat = false;
    for (size_t j = kept; j-- > 0;) {
      FileVersion& k = (*v)[j];
      if (k.timeKnown != c.timeKnown || k.modified != c.modified) break;
      const bool sameContent = !(k.evidence.entryKnown && c.evidence.entryKnown) || k.evidence.crc == c.evidence.crc;
      if (c.timeKnown && k.size == c.size && sameContent) {
        repeat = true;
        // One that provably belongs to the file stands for its twin that might not.
        if (k.owner == VersionOwner::Unsure && c.owner == VersionOwner::Own) {
          k = std::move(c);
        } else if (k.view == FileVersion::View::List && c.view == FileVersion::View::History &&
                   c.owner == VersionOwner::Own && k.twin.empty()) {
          // Kept for a restore asked after the next backup replaced the list copy (a browser
          // open across a pass): the version the user saw is still there.
          k.twin = c.archive;
        }
        break;
      }
    }
    if (repeat) continue;
    if (kept != i) (*v)[kept] = std::move((*v)[i]);  // a string moved onto itself is emptied
    ++kept;
  }
  v->resize(kept);
}

std::vector<FileVersion> ListVersionsIn(platform::FileSystem& fs, const WorkDirs& dirs,
                                        const std::vector<platform::DirEntry>& entries, const std::wstring& sourcePath,
                                        const std::string& password, VersionCheck check, FolderListings* folderCache) {
  std::vector<FileVersion> out;
  const std::wstring flat = FlattenedPath(sourcePath);
  const bool ignoreCase = platform::PathSeparator() == L'\\';
  {
    for (const platform::DirEntry& e : entries) {
      CalendarTime local;
      if ((e.attributes & (platform::kAttrDirectory | platform::kAttrReparsePoint)) ||
          !ParseHistoryName(e.name, flat, ignoreCase, &local))
        continue;
      FileVersion v = Look(fs, FileVersion::View::History, dirs.history + e.name, password, check);
      v.timeKnown = platform::FromLocalCalendar(local, &v.modified);
      v.evidence.timeKnown = v.timeKnown;
      v.evidence.modified = v.modified;
      out.push_back(v);
    }
  }
  const std::wstring list = dirs.list + flat + L".zip";
  if (!dirs.list.empty() && fs.Exists(list)) out.push_back(Look(fs, FileVersion::View::List, list, password, check));

  // The folder view's copy: its archive path is the source path itself.
  FileVersion ownCopy;
  bool haveOwnCopy = false;
  const std::wstring rel = DriveRelativePath(sourcePath, platform::RootLength());
  const std::wstring folderCopy = WithSeparator(dirs.folder) + rel + L".zip";
  if (!dirs.folder.empty() && !rel.empty() && fs.Exists(folderCopy)) {
    ownCopy = Look(fs, FileVersion::View::Folder, folderCopy, password, check);
    haveOwnCopy = true;
  }

  std::vector<std::wstring> sharers;
  if (!out.empty()) sharers = ArchiveSharers(fs, dirs, sourcePath, platform::RootLength(), ignoreCase, folderCache);
  const VersionEvidence* ownEvidence = haveOwnCopy && ownCopy.evidence.entryKnown ? &ownCopy.evidence : nullptr;
  std::vector<FileVersion> kept;
  const FileVersion* ownList = nullptr;
  for (FileVersion& v : out) {
    v.owner = OwnerOfVersion(sourcePath, v.evidence, sharers, ownEvidence, ignoreCase);
    if (v.owner == VersionOwner::Other) continue;
    kept.push_back(v);
  }
  for (const FileVersion& v : kept)
    if (v.view == FileVersion::View::List && v.owner == VersionOwner::Own) ownList = &v;
  if (haveOwnCopy) {
    ownCopy.owner = OwnerOfVersion(sourcePath, ownCopy.evidence, sharers, ownEvidence, ignoreCase);
    // The list copy of this very file with the same content says it already.
    const bool same = ownList && ownList->evidence.entryKnown && ownCopy.evidence.entryKnown &&
                      ownList->evidence.crc == ownCopy.evidence.crc && ownList->size == ownCopy.size &&
                      ownList->timeKnown == ownCopy.timeKnown && ownList->modified == ownCopy.modified;
    if (ownCopy.owner != VersionOwner::Other && !same) kept.push_back(ownCopy);
  }
  std::stable_sort(kept.begin(), kept.end(), [](const FileVersion& a, const FileVersion& b) {
    if (a.timeKnown != b.timeKnown) return a.timeKnown;
    if (a.modified != b.modified) return a.modified > b.modified;
    return int(a.view == FileVersion::View::History  ? 2
               : a.view == FileVersion::View::Folder ? 1
                                                     : 0) < int(b.view == FileVersion::View::History  ? 2
                                                                : b.view == FileVersion::View::Folder ? 1
                                                                                                      : 0);
  });
  KeepDistinctVersions(&kept);
  return kept;
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
  const wchar_t* view = v.view == FileVersion::View::List     ? L"最新"
                        : v.view == FileVersion::View::Folder ? L"文件夹"
                                                              : L"历史";
  return WFormat(L"[%d] %s %s %I64u 字节 %s%s", int(number), view,
                 v.timeKnown ? LocalTimeText(v.modified) : std::wstring(L"?"), v.size, state,
                 v.owner == VersionOwner::Unsure ? L" 无法确定是否属于此文件" : L"");
}

}  // namespace vq
