// Cleaning: empties the history view, keeping the view directory itself.
#pragma once

#include <string>

#include "platform/FileSystem.h"

namespace vq {

// Deletes the content of dir, recursively (read-only, hidden and system files included; links and
// junctions are removed themselves, never entered); at a
// depth above 0 the directory itself goes too. Results are not examined: what cannot be deleted
// stays, and so does every directory above it.
void DeleteDir(platform::FileSystem& fs, const std::wstring& dir, int depth);
// One cleaning run with its log lines; returns 1.
int RunClean(platform::FileSystem& fs);
// The cleaning thread's procedure (one per clean command); returns 1.
int CleanTreadFun(void* unused);

}  // namespace vq
