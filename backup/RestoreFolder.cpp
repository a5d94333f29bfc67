// Restore of a whole source folder as it stood at a moment.
#include "backup/Restore.h"

#include <set>

#include "backup/RestoreInternal.h"
#include "platform/Clock.h"
#include "settings/Log.h"

namespace vq {

using zip::ReadStatus;
using namespace restore_detail;

namespace {

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

FolderRestoreReport RestoreFolderAt(platform::FileSystem& fs, const WorkDirs& dirs, const std::wstring& sourceFolder,
                                    UnixTime at, const std::wstring& target, const std::string& password) {
  FolderRestoreReport rep;
  const std::wstring source = WithSeparator(sourceFolder);
  const std::wstring out = WithSeparator(target);
  WriteLog(L"恢复文件夹:%s (%s) -> %s\r\n", source, LocalTimeText(at), out);
  // The folder view mirrors the source tree with real separators, deleted files included; the
  // flat history names cannot tell a separator from a full stop, so they are found per file, and
  // a version that may be another file's is never taken.
  std::vector<std::wstring> pending{L""};
  const std::wstring base = WithSeparator(dirs.folder) + DriveRelativePath(source, platform::RootLength());
  std::set<std::wstring> plainFolders;  // folders below out already seen to be no links
  while (!pending.empty()) {
    const std::wstring rel = pending.back();
    pending.pop_back();
    std::vector<platform::DirEntry> entries;
    if (!fs.List(base + rel, &entries)) {
      if (rel.empty()) WriteLog(L"恢复文件夹:备份中没有此文件夹或无法访问 %s\r\n", base);
      continue;
    }
    for (const platform::DirEntry& e : entries) {
      // Links are never walked into: two links to "." would make the walk endless.
      if (e.attributes & platform::kAttrReparsePoint) continue;
      if (e.attributes & platform::kAttrDirectory) {
        pending.push_back(rel + e.name + platform::PathSeparator());
        continue;
      }
      if (!EndsWithZip(e.name)) continue;
      const std::wstring file = source + rel + e.name.substr(0, e.name.size() - 4);
      const std::vector<FileVersion> versions = ListVersions(fs, dirs, file, password, VersionCheck::Headers);
      const FileVersion* chosen = nullptr;
      for (const FileVersion& v : versions)
        if (v.owner == VersionOwner::Own && v.timeKnown && v.modified <= at) {
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
      if (!NoLinksBelow(fs, out, rel, &plainFolders)) {
        ++rep.failed;
        WriteLog(L"恢复失败:%s [目标中的文件夹是链接]\r\n", out + rel);
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

}  // namespace vq
