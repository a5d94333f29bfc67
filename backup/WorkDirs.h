// The engine's working directories and the names a backed-up file gets in the destination.
#pragma once

#include <string>

#include "common/Calendar.h"

namespace vq {

// Derives S_DIR_TEMP, S_DIR_ST_LIST, S_DIR_ST_HIST and S_DIR_ST_DIR from the settings.
void InitWorkDirs();
// Creates the temporary, the three view, the destination and the source directories.
void CreateWorkDirs();

// Decisions, apart from the file system.
struct WorkDirs {
  std::wstring temp, list, history, folder;
};
// tempPathLong: the platform's long temporary path, "" when it is not usable.
WorkDirs ComputeWorkDirs(const std::wstring& destDir, const std::wstring& tempPathLong, wchar_t separator);

// Names derived from a source file's full path, as the three views use them.
// Every separator and every colon replaced by a full stop.
std::wstring FlattenedPath(const std::wstring& fullPath);
// The path without its root ("C:\" on Windows, "/" on POSIX).
std::wstring DriveRelativePath(const std::wstring& fullPath, size_t rootLength);
// ".%Y.%m.%d.%H.%M.%S" of the local time of the last write.
std::wstring VersionStamp(const CalendarTime& localWriteTime);

struct ArchivePaths {
  std::wstring list, history, folder, tempCopy;
};
ArchivePaths ArchivePathsFor(const WorkDirs& dirs, const std::wstring& fullPath, const std::wstring& fileName,
                             const CalendarTime& localWriteTime, size_t rootLength);

}  // namespace vq
