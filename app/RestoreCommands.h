// Versions and restore as the front ends offer them: the terminal's typed commands and the
// Windows restore dialog share these, so both list, number and restore alike.
#pragma once

#include <string>
#include <vector>

#include "backup/Restore.h"

namespace vq {

// The versions of a source file with the current settings, newest first, each looked at as far as
// check says; logged with their numbers when log is set, and then kept as the listing shown.
std::vector<FileVersion> FindVersions(const std::wstring& sourcePath, VersionCheck check, bool log);
// Restores version number n of the listing last shown for sourcePath (FindVersions with log):
// the version the user read, never a new listing's n-th. Refused when none was shown; a version
// the archive no longer holds (a backup replaced the list copy since) is refused by the restore.
// Into folder (empty: beside the original); the result is logged.
RestoreResult RestoreNumbered(const std::wstring& sourcePath, int n, const std::wstring& folder);
// Forgets every listing shown (tests).
void ForgetShownVersions();
// Restores a version FindVersions gave, and logs the result.
RestoreResult RestoreChosen(const FileVersion& version, const std::wstring& sourcePath, const std::wstring& folder);

// "YYYY-MM-DD" (the end of that day) or "YYYY-MM-DD HH:MM[:SS]", local time; false otherwise.
bool ParseRestoreTime(const std::wstring& text, CalendarTime* local);

// A path as typed or pasted: blanks around it and one pair of double quotes around it (the
// Explorer's "Copy as path") go.
std::wstring CleanTypedPath(const std::wstring& text);

// A terminal line split into words; a word in double quotes may hold blanks.
std::vector<std::wstring> SplitCommandLine(const std::wstring& line);
// Runs "verify", "versions PATH", "restore PATH N [FOLDER]" or "restore-folder FOLDER TIME
// TARGET"; false when the line is none of them (a usage line is logged when the words do not fit).
bool RunRestoreCommand(const std::wstring& line);

}  // namespace vq
