// The backup worker and its passes: walk the source tree, select the files that match the filter,
// the size limit and the last backup time, and write each one's three archives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <functional>
#include <set>

#include "backup/Services.h"
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

// The mark of this process's own working files: "~vq.lumen.<host>.<pid>". Two computers
// backing up into one share, or an old and a new process overlapping at a restart, each write
// under their own names and never move each other's half-written file onto an archive.
std::wstring WorkTag(const std::wstring& host, uint32_t pid);
std::wstring OwnWorkTag();
// Where an archive is written before it replaces the old one: "<view><tag>.part", with the
// writer's number after the host ("~vq.lumen.<host>+<writer>.<pid>.part"), so archives written
// side by side never share a partial file. The number goes there because a '+' is never part of
// a host's tag: older versions read the name as another computer's and leave it alone for a day,
// where a number after the process id would be read as the process id. The name never ends in
// ".zip", so it cannot be taken for an archive.
std::wstring PartialArchivePath(const std::wstring& viewDir, uint32_t writer);
// This process's folder for temporary copies and spill files: "<S_DIR_TEMP><tag><sep>".
std::wstring OwnTempDir(const std::wstring& tempDir);

// Whether a listed name is a working file (a partial archive, or a temporary folder when
// suffix is "") left behind and safe to remove: one of this computer's, made by this process or
// by one that no longer runs, or anybody's untouched for a day. Names of other programs never
// are. The name of older versions ("~vq.lumen.part") goes by age alone.
bool IsStrayWorkFile(const std::wstring& name, const std::wstring& suffix, UnixTime modified, UnixTime now,
                     const std::wstring& ownHost, uint32_t ownPid, const std::function<bool(uint32_t)>& running);

// What a pass remembers for the next: the files whose archives failed (retried by the next pass
// whatever their time), whether the destination was away, and whether the next pass looks for
// files that have no archive of their own (a file renamed, moved or copied in keeps its old
// last-write time). That look is one listing of the list view; it is made by the first pass of
// the process, the pass after the long idle, after a destination outage and after the monitor
// lost changes.
struct PassMemory {
  std::set<std::wstring> retry;
  bool destinationAway = false;
  bool lookForMissing = true;
};
PassMemory& CurrentPassMemory();
// The files to retry, kept with the settings (value "retryFiles") so that a restart or a power
// cut after a pass does not forget them: the pass saves them before it saves the time it moved
// on, and the worker reads them when it starts.
void SaveRetryList(const std::set<std::wstring>& retry);
std::set<std::wstring> LoadRetryList();
// The stored form: one path a line, '%' and line ends escaped (a POSIX name may hold either).
std::wstring EncodeRetryList(const std::set<std::wstring>& retry);
std::set<std::wstring> DecodeRetryList(const std::wstring& text);

enum class PassOutcome {
  Done,             // the walk ran; failed files are kept for the next pass
  DestinationAway,  // the destination could not be reached: nothing was done, timeLastBk kept
};
// The idle after a pass, in seconds: a minute while the destination is away, ten when files
// failed, else the long idle.
int IdleLimitAfter(PassOutcome outcome, bool filesFailed);

// ---- Effects.

// Whether the destination can be used: it is a directory, or it can be made (a new
// destination on a disk that is present). False for an unplugged disk or an offline share.
// The folders it had to make are added to *made.
bool DestinationReachable(platform::FileSystem& fs, const std::wstring& destDir,
                          std::vector<std::wstring>* made = nullptr);
// Makes dir with its missing parents and adds the folders it made to *made (without a final
// separator, the highest first). False when dir could not be made.
bool CreateFolderTree(platform::FileSystem& fs, const std::wstring& dir, std::vector<std::wstring>* made);
// The folders to flush so that folders just made survive a power cut: each one and its parent
// (the folder's name is an entry of its parent), ending in a separator, each once.
std::vector<std::wstring> FoldersToFlushFor(const std::vector<std::wstring>& made);
// Removes the stray partial archives of the three views and the stray temporary folders of
// S_DIR_TEMP (see IsStrayWorkFile). With listView, the list view's listing is handed back.
void RemoveStrayWorkFiles(platform::FileSystem& fs, UnixTime now, std::vector<platform::DirEntry>* listView = nullptr);

// The walk of one directory (depth 0 for the top call), offering every file to DoBackUp.
// compressors: files compressed at once, on helper threads (0: one at a time on the caller's).
void BackUpDir(platform::FileSystem& fs, const std::wstring& dir, int depth, unsigned compressors = 0);
// The compressors of the worker's passes.
unsigned DefaultCompressors();
// Selects one listed file and writes its three archives.
void DoBackUp(platform::FileSystem& fs, const std::wstring& path, const platform::DirEntry& entry);
// One whole pass: the walk of the source, then the end-of-pass rule (timeLastBk, srcChanged,
// SaveSettings) and its log line. Skipped, with one log line per outage, while the destination
// is away.
PassOutcome RunBackUpPass(platform::FileSystem& fs, unsigned compressors = DefaultCompressors());
// One idle second: true when the idle is over (a pass is wanted or limit + 1 seconds went by).
bool IdleStep(platform::Clock& clock, int* counter, int limit);
bool IdleStep(int* counter);
// One turn of the worker: a pass, guarded so that an exception is logged and the worker goes on,
// then the idle that follows it.
void BackUpThreadStep(const EngineServices& services);

// The worker thread: never returns.
void BackUpThreadFun(const EngineServices& services);
void BackUpThreadFun();

}  // namespace vq
