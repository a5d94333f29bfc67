// The start-up sequence of the program, shared by both front ends: everything between the start
// of the process and the idle main window with its engine threads running. The front end
// supplies the window-system steps through StartupHost.
#pragma once

#include <atomic>
#include <string>

#include "app/BackupNotice.h"

namespace vq {

// 1 while the first run's settings dialog is open (no last-backup time was stored); cleared
// before the engine threads start, so a later change of folders restarts the program as it
// does in any other session.
extern std::atomic<int> firstRun;

class StartupHost {
 public:
  virtual ~StartupHost() = default;
  // The main window as the platform knows it (nullptr in the terminal).
  virtual void* MainWindowHandle() = 0;
  virtual void SetWindowIcons() {}
  virtual void RegisterTaskbarCreatedMessage() {}
  // From here on log lines also reach the window.
  virtual void AttachLogView() = 0;
  virtual void ShowTopmostBottomRight() {}
  virtual void StartTimers() {}
  virtual void ConfigureLogView() {}
  // The tray icon arrives with the main-window work; until then there is none.
  virtual void AddTrayIcon() {}
  virtual void SetStatusFont() {}
  virtual void SetStatusAndTitle(const std::wstring& status, const std::wstring& title) = 0;
  // The UI thread pauses one second before "run!" (the window does not repaint meanwhile).
  virtual void PauseBeforeRun();
  // False when the desktop's icon list window is not there.
  virtual bool FindDesktopIconWnd() { return true; }
  // The settings dialog of the first run; whatever its outcome, the defaults or the values
  // entered are stored afterwards.
  virtual void RunFirstRunSettingsDialog() {}
  // Modal message box with the caption "vq.l", an OK button and an exclamation icon.
  virtual void ShowMessageBox(const std::wstring& text) = 0;
  // Tells the user that the backups stopped working or work again, without stopping anything
  // (called on the worker's thread).
  virtual void ShowBackupNotice(const BackupNotice&) {}
};

// How long a process started for a restart waits for the old instance's process to end; it
// runs afterwards in any case.
inline constexpr unsigned kRestartWaitMs = 30000;

enum class StartupResult {
  HandedOver,  // another instance runs; it was brought forward and this process must leave
  Running,
};

StartupResult RunStartup(StartupHost& host);

// Decisions of the start-up, apart from their effects.
struct DefaultDirs {
  std::wstring src, dest;
  bool fallback = false;  // the documents folder was unknown and another folder stands in
  std::wstring fallbackFrom;
};
// windowsForm: "%c:\vq.l\" on the drive of the documents folder; otherwise (POSIX) the
// destination is "vq.l/" in the home folder.
DefaultDirs ComputeDefaultDirs(const std::wstring& documents, const std::wstring& profile,
                               const std::wstring& programDir, bool windowsForm);
// The word "restart" anywhere in the command line, exact case.
bool IsRestartCommandLine(const std::wstring& commandLine);
// The product description written to the log at start-up, one entry per line.
std::wstring BuildTimeLine(const char* date, const char* time);

}  // namespace vq
