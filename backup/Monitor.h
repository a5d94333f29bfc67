// The change monitor: watches the source tree and asks the worker for a pass (srcChanged) when a
// file below it changes.
#pragma once

#include <memory>
#include <string>

#include "platform/FileSystem.h"

namespace vq {

// Whether a change must not start a pass. relName is the changed path relative to the source
// directory: a component named "$RECYCLE.BIN" or "ups" (whole names, any case) excludes it, and
// so does the log file's name anywhere in the full change path (any case). Components above the
// source directory do not count: a source under D:\Backups\ is watched like any other.
bool MonitExcludes(const std::wstring& relName, const std::wstring& changePath, const std::wstring& logFileName);

// One change record: the debug line, then directories and excluded paths are ignored, anything
// else sets srcChanged. True when the flag was set.
bool MonitNotification(platform::FileSystem& fs, const std::wstring& watchedDir,
                       const platform::DirWatcher::Change& change);

// Opens the source directory for watching, retrying every 2 s and logging the attempts 1, 2, 4,
// 8, ...; *watched receives the directory opened.
std::unique_ptr<platform::DirWatcher> OpenSourceWatcher(std::wstring* watched);

// The monitor thread: never returns.
void DirMonitThreadFun();

}  // namespace vq
