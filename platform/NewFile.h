// Putting a finished file in place: under a name that nothing holds yet (never replacing a file
// that appeared meanwhile) and with the last-write time it had when it was backed up.
#pragma once

#include <string>

#include "common/Calendar.h"

namespace vq::platform {

// Moves from to to in one step, failing (exists = true) when to already exists.
bool MoveNoReplace(const std::wstring& from, const std::wstring& to, bool* exists);
// Sets the file's last-write time; the other times stay as they are.
bool SetLastWriteTime(const std::wstring& path, UnixTime t);

}  // namespace vq::platform
