#include "backup/VersionOwner.h"

#include "backup/RestoreInternal.h"
#include "common/Text.h"
#include "platform/CodePage.h"

namespace vq {

using namespace restore_detail;

namespace {

bool SameName(std::wstring_view a, std::wstring_view b, bool ignoreCase) {
  return ignoreCase ? EqualsIgnoreAsciiCase(a, b) : a == b;
}

std::wstring FileNameOf(const std::wstring& path) {
  std::wstring folder, name;
  SplitPath(path, &folder, &name);
  return name;
}

bool EntryIsNamed(const VersionEvidence& v, const std::wstring& fileName, bool ignoreCase) {
  const std::string want = v.utf8Name ? WideToUtf8(fileName) : platform::WideToOem(fileName);
  if (!ignoreCase) return v.entryName == want;
  if (v.entryName.size() != want.size()) return false;
  for (size_t i = 0; i < want.size(); ++i) {
    char a = v.entryName[i], b = want[i];
    if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = char(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

}  // namespace

VersionOwner OwnerOfVersion(const std::wstring& sourcePath, const VersionEvidence& version,
                            const std::vector<std::wstring>& sharers, const VersionEvidence* ownCopy, bool ignoreCase) {
  const std::wstring name = FileNameOf(sourcePath);
  if (version.entryKnown && !EntryIsNamed(version, name, ignoreCase)) return VersionOwner::Other;
  // The folder view's archive path is the source path itself.
  if (version.view == VersionView::Folder) return VersionOwner::Own;
  bool confusable = false;
  for (const std::wstring& other : sharers)
    if (!version.entryKnown || SameName(FileNameOf(other), name, ignoreCase)) confusable = true;
  if (!confusable) return VersionOwner::Own;
  // The same bytes at the same time as this path's own copy: whoever wrote it, it is this file as
  // it was then. The same bytes alone prove nothing: the other file may have held them at another
  // time (an empty file, a copy).
  if (version.entryKnown && ownCopy && ownCopy->entryKnown && ownCopy->crc == version.crc &&
      ownCopy->size == version.size && version.timeKnown && ownCopy->timeKnown && version.modified == ownCopy->modified)
    return VersionOwner::Own;
  return VersionOwner::Unsure;
}

std::vector<std::wstring> ArchiveSharers(platform::FileSystem& fs, const WorkDirs& dirs, const std::wstring& sourcePath,
                                         size_t rootLength, bool ignoreCase, FolderListings* cache) {
  std::vector<std::wstring> out;
  if (dirs.folder.empty()) return out;
  const std::wstring rel = DriveRelativePath(sourcePath, rootLength);
  const std::wstring flat = FlattenedPath(rel);
  const std::wstring root = sourcePath.substr(0, std::min(rootLength, sourcePath.size()));
  FolderListings own;
  FolderListings& listings = cache ? *cache : own;
  // Each folder of the view is reached by one route only, so the walk lists every folder whose
  // flattened path starts the target's at most once, however many full stops the path has.
  struct Step {
    std::wstring dir, relDir;  // the view's folder, and the same below the source's root
    size_t at;                 // how much of flat the folders so far stand for
  };
  std::vector<Step> pending{{WithSeparator(dirs.folder), L"", 0}};
  while (!pending.empty()) {
    const Step s = pending.back();
    pending.pop_back();
    auto it = listings.find(s.dir);
    if (it == listings.end()) {
      std::vector<platform::DirEntry> entries;
      if (!fs.List(s.dir, &entries)) entries.clear();
      it = listings.emplace(s.dir, std::move(entries)).first;
    }
    const std::wstring_view rest = std::wstring_view(flat).substr(s.at);
    for (const platform::DirEntry& e : it->second) {
      if (e.attributes & platform::kAttrReparsePoint) continue;
      if (e.attributes & platform::kAttrDirectory) {
        const std::wstring part = FlattenedPath(e.name);
        if (rest.size() > part.size() + 1 && rest[part.size()] == L'.' &&
            SameName(rest.substr(0, part.size()), part, ignoreCase))
          pending.push_back({s.dir + e.name + platform::PathSeparator(), s.relDir + e.name + platform::PathSeparator(),
                             s.at + part.size() + 1});
        continue;
      }
      if (!EndsWithZip(e.name)) continue;
      const std::wstring stem = e.name.substr(0, e.name.size() - 4);
      if (!SameName(FlattenedPath(stem), rest, ignoreCase)) continue;
      const std::wstring candidate = s.relDir + stem;
      if (!SameName(candidate, rel, ignoreCase)) out.push_back(root + candidate);
    }
  }
  return out;
}

}  // namespace vq
