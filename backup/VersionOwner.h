// Which backed-up versions belong to a source file.
//
// The list and history views name an archive by the flattened path (every separator and colon a
// full stop), so different files can share one archive name: "x.y/z.txt" and "x/y.z.txt" share
// one list archive and one history name per second, and "a.b/c/d.txt" and "a/b.c/d.txt" even
// store the same entry name. The folder view mirrors the exact path and keeps an archive of every
// file ever backed up, deleted ones included (only cleaning touches the history view, nothing
// touches the folder view), so it is the record of which paths exist to be confused with.
//
// The promise: a version is Own only when it provably holds this path's content, by one of
//  - it is the folder-view copy of this very path;
//  - its entry name is this file's name and no other path the folder view knows shares its
//    archive name with the same file name;
//  - its time, CRC and size are those of this path's own folder-view copy (the path had exactly
//    this content at exactly this time, whoever wrote the archive).
// Other: it provably belongs to another file (its entry name is another's). Unsure: neither can
// be shown. Listings show Own and Unsure versions, Unsure ones marked so; nothing ever picks an
// Unsure version without the user choosing it, and a folder restore never does.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "backup/WorkDirs.h"
#include "platform/FileSystem.h"

namespace vq {

enum class VersionView { History, List, Folder };
enum class VersionOwner { Own, Unsure, Other };

// What one archive's headers tell about the file it was made from.
struct VersionEvidence {
  VersionView view = VersionView::History;
  bool entryKnown = false;  // the headers could be read
  std::string entryName;    // the entry's name as stored
  bool utf8Name = false;    // stored as UTF-8 rather than in the OEM code page
  uint32_t crc = 0;
  uint64_t size = 0;
  bool timeKnown = false;  // the version's last-write time (history: its name's; else the entry's)
  UnixTime modified = 0;
};

// The rule above. sourcePath: the full path asked about. sharers: the other source paths that the
// folder view knows and whose flattened path is sourcePath's (ArchiveSharers). ownCopy: the
// evidence of sourcePath's own folder-view copy, null when it has none or its headers could not be
// read. ignoreCase: file names are the same in any case (Windows).
VersionOwner OwnerOfVersion(const std::wstring& sourcePath, const VersionEvidence& version,
                            const std::vector<std::wstring>& sharers, const VersionEvidence* ownCopy, bool ignoreCase);

// Listings of folder-view folders, kept across the files of one folder restore so that each
// folder is listed once.
using FolderListings = std::map<std::wstring, std::vector<platform::DirEntry>>;

// The other full paths whose list and history archives have sourcePath's names, as far as the
// folder view knows them (an archive of each there). Links in the folder view are never followed.
// rootLength: the length of the platform's path root (platform::RootLength()).
std::vector<std::wstring> ArchiveSharers(platform::FileSystem& fs, const WorkDirs& dirs, const std::wstring& sourcePath,
                                         size_t rootLength, bool ignoreCase, FolderListings* cache = nullptr);

}  // namespace vq
