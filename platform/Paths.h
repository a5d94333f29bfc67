// Where things are: the program, the user's documents, the temporary directory.
#pragma once

#include <string>

namespace vq::platform {

// The path separator of the platform ('\\' on Windows, '/' on POSIX) and its root length
// ("C:\" = 3 characters, "/" = 1).
wchar_t PathSeparator();
size_t RootLength();
bool IsSeparator(wchar_t c);

// Whether a name alone makes a file hidden (POSIX: it starts with '.'; Windows: never, hidden is
// an attribute).
bool NameIsHidden(const std::wstring& name);

// A name in the one form that every spelling the file system takes for the same file shares:
// Windows compares names with every letter folded (É/é, Cyrillic, full-width, not only A-Z), so
// they are put in upper case as its file systems do; POSIX file systems compare names as they
// are, and the name is returned unchanged.
std::wstring FoldNameCase(const std::wstring& name);

// Full path of the running program file.
std::wstring ProgramPath();
// Directory of the program, ending in a separator.
std::wstring ProgramDir();

// Where the program's log files go, ending in a separator: the program's directory. On POSIX,
// where programs are often installed in directories the user cannot write, the per-user state
// directory ($XDG_STATE_HOME/vq.lumen/, default ~/.local/state) stands in when it is not
// writable.
std::wstring LogDir();
// The decision behind LogDir on POSIX: stateHome is $XDG_STATE_HOME (used only when absolute),
// home the home folder; "" stands for unset.
std::wstring ChooseLogDir(const std::wstring& programDir, bool programDirWritable, const std::wstring& stateHome,
                          const std::wstring& home);

// The user's documents folder (not created when missing), without a trailing separator.
// Empty when the platform cannot name one.
std::wstring DocumentsFolder();
// The user's profile/home folder, without a trailing separator; empty when unknown.
std::wstring ProfileFolder();

// Temporary path in its long form, ending in a separator; empty when the platform call fails
// or the path would not fit in 260 characters.
std::wstring TempPathLong();

// Per-user directory of the POSIX stand-ins (store file, autostart entry, lock files); empty on
// Windows, where the registry and window properties serve.
std::wstring ConfigDir();

}  // namespace vq::platform
