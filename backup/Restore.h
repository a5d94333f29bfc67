// Getting data back: verify every archive of the three views, list the versions of one source
// file, and restore a chosen version without ever overwriting a file.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "backup/VersionOwner.h"
#include "backup/WorkDirs.h"
#include "common/Calendar.h"
#include "platform/FileSystem.h"
#include "zip/ZipReader.h"

namespace vq {

// ---- Decisions, apart from the file system.

// How a read counts for the user: the password may have changed since an archive was written, so
// a wrong password is not a broken archive.
enum class ArchiveHealth { Sound, WrongPassword, Broken };
ArchiveHealth HealthOf(zip::ReadStatus s);
// The reason as the log shows it.
std::wstring ReadStatusReason(zip::ReadStatus s);

// The history archive name of a version of the file whose flattened path is flattened:
// flattened + ".YYYY.MM.DD.HH.MM.SS.zip". False for any other name (another file's, a partial).
// ignoreCase: the platform's file names are the same in any case (Windows).
bool ParseHistoryName(const std::wstring& name, const std::wstring& flattened, bool ignoreCase, CalendarTime* local);
// The name a restored version gets when its own name is taken: "title (YYYY.MM.DD HH.MM.SS).ext",
// then " (2)", " (3)" ... before the extension for attempt 2, 3, ...
std::wstring RestoredName(const std::wstring& fileName, const CalendarTime& local, int attempt);
// "YYYY-MM-DD HH:MM:SS" of a moment in local time ("?" when it cannot be shown).
std::wstring LocalTimeText(UnixTime t);

// ---- Verify.

struct VerifyReport {
  int checked = 0, sound = 0, wrongPassword = 0, broken = 0;
  int vanished = 0;          // listed, then gone before they were read (replaced or deleted meanwhile)
  bool unreachable = false;  // no view could be listed: nothing was checked
  std::vector<std::wstring> wrongPasswordArchives;
  std::vector<std::pair<std::wstring, zip::ReadStatus>> brokenArchives;
  uint64_t sourceBytes = 0;  // uncompressed bytes of the sound archives
  double seconds = 0;
};
// Every archive (".zip") of the three views: the list and history views flat, the folder view
// with its subfolders. Partial archives of a running pass are not archives yet; links and
// junctions are neither archives nor walked into. sizes, if given, receives each archive's size as
// listed; the views that could not be listed at all go to unreachable.
std::vector<std::wstring> ViewArchives(platform::FileSystem& fs, const WorkDirs& dirs,
                                       std::vector<uint64_t>* sizes = nullptr,
                                       std::vector<std::wstring>* unreachable = nullptr);
// Opens, deciphers and inflates each archive and logs the result: a progress line whenever
// progressMs went by since the last one, every broken archive by name with its reason, and the
// counts with the time taken (archives gone before they were read counted apart). A view that
// cannot be listed is named; when none can, the destination is unreachable and said to be so. The traditional cipher is
// serial within an archive, so archives are read on several threads at once (threads 0: one per processor, at most 4).
VerifyReport RunVerify(platform::FileSystem& fs, const WorkDirs& dirs, const std::string& password,
                       uint32_t progressMs = 5000, unsigned threads = 0);

// Verify and cleaning never run at the same time: cleaning could delete an archive under the
// verify's hands and make it look broken. Cleanings may run together, as the clean command has
// always allowed; a second verify is refused while one runs.
class MaintenanceGate {
 public:
  // False when a verify runs already; otherwise waits for running cleanings to end.
  bool BeginVerify(const std::function<void()>& onWait = {});
  void EndVerify();
  // A restore of a selection is kept apart from cleaning and verify as a verify is: false when a
  // verify or another such restore runs; otherwise waits for running cleanings to end.
  bool BeginRestore(const std::function<void()>& onWait = {});
  void EndRestore();
  // Waits while a verify or a restore runs.
  void BeginClean(const std::function<void()>& onWait = {});
  void EndClean();

 private:
  std::mutex lock_;
  std::condition_variable_any changed_;
  bool verifying_ = false;
  int cleanings_ = 0;
};
MaintenanceGate& Maintenance();

// Held shared while an archive is read through and exclusively while the backup pass moves a new
// archive over an old one: on Windows an archive open for reading cannot be replaced, and the pass
// must not lose a version to a verify that happens to read the old one. One lock of a few, chosen
// by the archive's name (case apart), so the pass's writers, which move different archives side by
// side, seldom wait for each other's move and folder flush.
std::shared_mutex& ArchiveReplaceLock(const std::wstring& archive);

// ---- Versions of a file.

struct FileVersion {
  using View = VersionView;
  View view = View::History;
  std::wstring archive;
  UnixTime modified = 0;                            // history: the name's time; list, folder: the entry's time
  bool timeKnown = false;                           // false when the time could not be read or converted
  uint64_t size = 0;                                // uncompressed, from the directory (0 when unreadable)
  zip::ReadStatus status = zip::ReadStatus::Sound;  // as far as the listing looked
  VersionOwner owner = VersionOwner::Own;           // Own or Unsure (backup/VersionOwner.h); Other is never listed
  VersionEvidence evidence;                         // what the headers said (entry name, CRC)
  // A list copy's history archive of the same version, which the listing folded into it: the
  // next backup of the file replaces the list copy, never this.
  std::wstring twin;
};
// How far a listing looks into each archive: its headers; also whether the password opens it
// (quick whatever the size, for a dialog); or every byte (the terminal's answer to "does it open").
enum class VersionCheck { Headers, Opens, Full };
// Every history version of sourcePath, the list view's copy and the folder view's copy that the
// ownership rule (backup/VersionOwner.h) does not give to another file, newest first (the list
// copy, then the folder copy, then history versions of the same time), one for each distinct
// version: a copy of the same time, size and content as one before it is the same version (a pass
// writes the three from one copy of the file), and an Own one stands for an Unsure twin. Links in
// the views are never followed, and nothing but a regular file is opened.
std::vector<FileVersion> ListVersions(platform::FileSystem& fs, const WorkDirs& dirs, const std::wstring& sourcePath,
                                      const std::string& password, VersionCheck check);
// ListVersions for many files: the history view's listing taken once by the caller, and the
// folder view's listings kept across the calls.
std::vector<FileVersion> ListVersionsIn(platform::FileSystem& fs, const WorkDirs& dirs,
                                        const std::vector<platform::DirEntry>& history, const std::wstring& sourcePath,
                                        const std::string& password, VersionCheck check,
                                        FolderListings* folderCache = nullptr);
// Drops the versions that repeat one before them in a newest-first list.
void KeepDistinctVersions(std::vector<FileVersion>* newestFirst);
// One version as the log and the restore dialog show it: "[n] 最新|文件夹|历史 time size 字节 state",
// followed by " 无法确定是否属于此文件" for an Unsure one.
std::wstring VersionText(size_t number, const FileVersion& v);
// Logs the list as the terminal and the window show it, numbered from 1.
void LogVersions(const std::wstring& sourcePath, const std::vector<FileVersion>& versions);

// ---- Restore.

struct RestoreResult {
  bool ok = false;
  std::wstring target;   // where the file went (on success)
  std::wstring reason;   // why not (on failure)
  std::wstring archive;  // the archive read: the version's own, or its history twin
};
// Writes the version's content into folder (empty: the folder of sourcePath, where it gets a name
// with its time) under a name nothing holds: the original name first when a folder was chosen,
// then the time-stamped names. The file keeps the version's last-write time; nothing is
// overwritten, and a failed restore leaves no file behind.
// A set cancel stops the restore between two pieces of the file: the partial file is removed and
// the reason is "已取消".
RestoreResult RestoreVersion(platform::FileSystem& fs, const FileVersion& version, const std::wstring& sourcePath,
                             const std::wstring& folder, const std::string& password,
                             const std::atomic<bool>* cancel = nullptr);
// RestoreVersion with its log line.
RestoreResult RestoreAndLog(platform::FileSystem& fs, const FileVersion& version, const std::wstring& sourcePath,
                            const std::wstring& folder, const std::string& password,
                            const std::atomic<bool>* cancel = nullptr);

// A whole source folder as it was at a moment: every file the folder view holds below it gets its
// newest version of its own (never an Unsure one) not later than at, restored into target under the same subfolders (by
// the rules of RestoreVersion: nothing overwritten). Each file and the counts are logged.
struct FolderRestoreReport {
  int restored = 0, failed = 0, noVersion = 0;
};
FolderRestoreReport RestoreFolderAt(platform::FileSystem& fs, const WorkDirs& dirs, const std::wstring& sourceFolder,
                                    UnixTime at, const std::wstring& target, const std::string& password);

// The current settings' view folders.
WorkDirs CurrentWorkDirs();

}  // namespace vq
