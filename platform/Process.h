// The process: its command line and starting another program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vq::platform {

// The command line as the system reports it, program path included.
std::wstring CommandLine();

// Creates the running-marker event (Windows: named auto-reset event "hVQRUNNING"; nothing waits
// on it). A no-op on POSIX.
void CreateRunningMarker();

// Starts the program at path as a new, independent process with the given command line (what
// the new process sees as its whole command line); its handles are not kept. False when it
// could not be started.
bool StartProgram(const std::wstring& path, const std::wstring& commandLine);

// A restart: the ending instance leaves its process id in the environment that the process it
// starts next inherits, so the new one waits for exactly that process to end and never hands
// over to it (the old window may outlive any fixed wait).
void MarkRestartOrigin();
// POSIX: replaces this process with the image it runs (/proc/self/exe: the program file may
// have been replaced since, by an upgrade, or its path may not convert to text), with args after
// the program's own name and the environment of now plus the restart origin mark (as
// MarkRestartOrigin leaves it) plus extra ("NAME=value" each). The environment is built for the
// new image alone: setenv here would race the engine threads' getenv. Returns only when the
// image could not be started. Windows: returns at once (a restart there starts a new process).
void ReplaceWithOwnImage(const std::vector<std::string>& args, const std::vector<std::string>& extra);
// The id left by MarkRestartOrigin in the process that started this one; false when this
// process was not started for a restart. The mark is removed, so nothing this process starts
// later inherits it.
bool TakeRestartOrigin(uint32_t* pid);
// True when pid is a running process of this very program file (a pid read from a file may be
// stale and belong to anything by now).
bool IsProcessOfThisProgram(uint32_t pid);
// Waits at most timeoutMs until process pid has ended; true once it has, or when it is not a
// process of this program. Our own id counts as ended: on POSIX a restart replaces the image
// and keeps the id.
bool WaitForProcessEnd(uint32_t pid, unsigned timeoutMs);
uint32_t CurrentProcessId();

}  // namespace vq::platform

namespace vq::platform {

// A value that differs between desktops/sessions, used with the tick count to seed the ZIP
// header generator (Windows: the desktop window handle; POSIX: the process id).
uint32_t DesktopHandleValue();

// This process's id.
uint32_t ProcessId();
// The computer's name as other computers on a share see it apart; "" when unknown.
std::wstring HostName();
// Whether a process with this id runs on this computer now. A process that cannot be asked is
// taken as running: the answer decides whether its files may be removed.
bool ProcessRunning(uint32_t pid);

}  // namespace vq::platform
