// The backup worker and its passes: walk the source tree, select the files that match the filter,
// the size limit and the last backup time, and write each one's three archives.
#pragma once

#include <cstdint>
#include <string>

#include "common/Calendar.h"
#include "platform/FileSystem.h"

namespace vq {

// ---- Decisions, apart from the file system.

// The extension of a listed name: from its last full stop to the end ("" when there is none), so
// ".htaccess" is its own extension and "name." has the extension ".".
std::wstring ExtensionOf(const std::wstring& name);

enum class Selection {
  Selected,
  Excluded,     // the path contains the log file's name, the temporary or the destination directory
  NoExtension,  // fewer than 2 characters of extension
  NotInFilter,  // the extension is not in the filter list
  TooLarge,     // above maxFSize megabytes
  NotNewer,     // last written no later than timeLastBk
};

struct SelectionInput {
  std::wstring path, name;                     // full path F and the listed name N
  std::wstring logFileName, tempDir, destDir;  // exclusions (compared with regard to case)
  std::wstring filter;                         // fFilterSr
  int64_t maxFSize = 0;                        // megabytes
  uint64_t size = 0;                           // from a fresh look at F
  UnixTime modified = 0;                       // idem
  UnixTime timeLastBk = 0;
};
// The tests of DoBackUp after "F exists", in their order; the first that fails decides.
Selection SelectFile(const SelectionInput& in);

// Whether the walk enters a listed directory / offers a listed file: hidden and system entries
// are skipped, and so is a directory named exactly "ups".
bool WalkSkips(const platform::DirEntry& e);
// The walk does not enter a directory whose listing pattern starts with "E:\$RECYCLE" (any case).
bool IsRecycleBinPattern(const std::wstring& pattern);

// Where an archive is written before it replaces the old one, one fixed name per view: only the
// worker writes archives, one at a time. The name never ends in ".zip", so it cannot be taken for
// an archive, and a pass removes one left behind by a killed process.
std::wstring PartialArchivePath(const std::wstring& viewDir);

// ---- Effects.

// The walk of one directory (depth 0 for the top call), offering every file to DoBackUp.
void BackUpDir(platform::FileSystem& fs, const std::wstring& dir, int depth);
// Selects one listed file and writes its three archives.
void DoBackUp(platform::FileSystem& fs, const std::wstring& path, const platform::DirEntry& entry);
// One whole pass: the walk of the source, then the end-of-pass rule (timeLastBk, srcChanged,
// SaveSettings) and its log line.
void RunBackUpPass(platform::FileSystem& fs);
// One idle second: true when the idle is over (a pass is wanted or 18001 seconds went by).
bool IdleStep(int* counter);

// The worker thread: never returns.
void BackUpThreadFun();

}  // namespace vq
