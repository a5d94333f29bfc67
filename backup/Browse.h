// The backups as the source tree stood at a moment: a folder's subfolders and files with the
// version of each file that was current then, the backup times to step between, and the restore
// of a selection of files and folders. The window's browser and the terminal's browse and
// restore-folder share it.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "backup/Restore.h"
#include "backup/WorkDirs.h"
#include "platform/FileSystem.h"

namespace vq {

// One file the folder view holds under the browsed folder, with every version that belongs to it,
// newest first.
struct CatalogFile {
  std::wstring rel;  // below the browsed folder, with the platform's separators
  std::vector<FileVersion> versions;
};

// One row of a folder as it stood: a subfolder (with the newest version time under it) or a file
// (with its version then).
struct BrowseRow {
  std::wstring name;
  bool folder = false;
  UnixTime modified = 0;  // the version's time; for a folder the newest of the versions under it
  size_t files = 0;       // a folder: the files under it then
  FileVersion version;    // a file: the version current then
};

// The newest of a file's versions (newest first) not later than at that provably belongs to it;
// null when it had none then.
const FileVersion* VersionAt(const std::vector<FileVersion>& newestFirst, UnixTime at);
// Stepping through the backup times (ascending, distinct): the listing at `at` is the one at the
// latest time not later than it, so the previous time is the one before that, and the next is the
// first later one. False when there is none.
bool PreviousBackupTime(const std::vector<UnixTime>& times, UnixTime at, UnixTime* out);
bool NextBackupTime(const std::vector<UnixTime>& times, UnixTime at, UnixTime* out);

class BackupCatalog {
 public:
  // Reads the folder view under root (the source folder browsed) and the versions of each file
  // there, the history view listed once. Files the folder view never held (their folder-view
  // archive failed) are not found: only the folder view knows a path for sure.
  static BackupCatalog Load(platform::FileSystem& fs, const WorkDirs& dirs, const std::wstring& root,
                            const std::string& password);

  const std::wstring& Root() const { return root_; }
  const std::vector<CatalogFile>& Files() const { return files_; }
  // The rows of folder (relative to the root: "" for the root itself, else ending with a
  // separator) as it stood at `at`: folders first, then files, each by name; a file or folder
  // with no version then is not there.
  std::vector<BrowseRow> ListAt(const std::wstring& folder, UnixTime at) const;
  // The distinct version times of the files under folder, ascending.
  std::vector<UnixTime> TimesUnder(const std::wstring& folder) const;
  // The files under folder (or the file itself when rel names one), in name order.
  std::vector<const CatalogFile*> FilesUnder(const std::wstring& rel) const;

 private:
  std::wstring root_;
  std::vector<CatalogFile> files_;  // by rel
};

// Whether the password opens each row's version, read no further than its headers: quick for a
// window, whatever the files' sizes.
void CheckRowsOpen(platform::FileSystem& fs, const std::string& password, std::vector<BrowseRow>* rows);

// What to restore: a file, or a folder with everything under it ("" is the browsed folder).
struct RestoreItem {
  std::wstring rel;
  bool folder = false;
};
struct RestoreProgress {
  size_t done = 0, total = 0;
  std::wstring file;  // the source path being restored
};
struct SelectionReport {
  int restored = 0;
  std::vector<std::pair<std::wstring, std::wstring>> failed;  // source path, reason
  std::vector<std::wstring> noVersion;                        // source paths with no version then
  bool cancelled = false;
  size_t notReached = 0;  // files a cancel left alone
};
// Restores the version current at `at` of every file of the selection: into target (a chosen
// folder; a selected folder comes with its own name, its subfolders below it, while the browsed
// folder itself brings only its contents) or, target empty, beside each original under a name
// with its time. Nothing is ever overwritten (RestoreVersion's names). A set cancel stops the
// restore at once, the file being written included, and leaves no partial file. progress is
// called before each file and once at the end. Each file and the summary are logged.
SelectionReport RestoreSelection(platform::FileSystem& fs, const BackupCatalog& catalog,
                                 const std::vector<RestoreItem>& items, UnixTime at, const std::wstring& target,
                                 const std::string& password, const std::atomic<bool>* cancel = nullptr,
                                 const std::function<void(const RestoreProgress&)>& progress = {});
// The summary as the log and the window give it.
std::wstring SelectionSummary(const SelectionReport& report);

}  // namespace vq
