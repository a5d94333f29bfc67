// The process: its command line and starting another program.
#pragma once

#include <cstdint>
#include <string>

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
