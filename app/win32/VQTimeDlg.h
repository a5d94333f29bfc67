// The main window: a small topmost dialog at the bottom right with a status line and the log,
// hidden to the tray icon when closed.
#pragma once

#include <windows.h>

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

#include <mutex>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/Startup.h"
#include "app/win32/Dialog.h"
#include "app/win32/TrayIcon.h"
#include "controls/MyRichEditCtrl.h"

namespace vq::win {

// The main window's timers.
enum MainTimer : UINT_PTR {
  kTimerTrayWatchdog = 1,  // every second: add the tray icon again when it is missing
  kTimerTick = 2,          // every 50 ms: nothing, the tick is consumed
};

class CVQTimeDlg : public Dialog, public StartupHost, public CommandHost {
 public:
  CVQTimeDlg();
  ~CVQTimeDlg() override;

  // StartupHost
  void* MainWindowHandle() override { return hwnd(); }
  void SetWindowIcons() override;
  void RegisterTaskbarCreatedMessage() override;
  void AttachLogView() override;
  void ShowTopmostBottomRight() override;
  void StartTimers() override;
  void ConfigureLogView() override;
  void AddTrayIcon() override;
  void SetStatusFont() override;
  void SetStatusAndTitle(const std::wstring& status, const std::wstring& title) override;
  bool FindDesktopIconWnd() override;
  void RunFirstRunSettingsDialog() override;
  void ShowMessageBox(const std::wstring& text) override;
  void ShowBackupNotice(const BackupNotice& notice) override;

  // CommandHost
  void RemoveTrayIcon() override;
  void QuitMessageLoop() override;
  void RunSettingsDialog() override;
  void RunRestoreDialog() override;

 protected:
  // First layer.
  BOOL OnInitDialog() override;
  bool OnSysCommand(WPARAM id, LPARAM lp) override;
  bool OnPaint() override;
  HCURSOR OnQueryDragIcon() override;
  HBRUSH OnCtlColor(HDC dc, HWND control, UINT ctlMsg) override;
  void OnSize(UINT type, int cx, int cy) override;
  bool OnCommand(int id, int notifyCode, HWND control) override;
  bool PreTranslateMessage(MSG* msg) override;
  // Second layer: dispatches to the named handlers below.
  bool DefaultHandler(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;

 private:
  bool OnTaskbarCreated();
  void OnDestroy();
  bool OnCloseDefault(WPARAM wp, LPARAM lp, LRESULT* result);
  void OnQuit();
  void OnDisplayChange();
  void OnThemeChanged();
  bool OnDpiChanged(UINT dpi, const RECT* suggested);
  void SetStatusFontForDpi(UINT dpi);  // 0: the system's
  bool OnTimerDefault(UINT_PTR id);
  bool OnHotKey();
  bool OnTrayIcon(WPARAM id, LPARAM mouseMsg);
  bool OnBackupNotice();
  void ShowFromTray();
  void StartRestartedInstance();

  // Lives as long as the process: a worker thread may still hold it while the window goes away;
  // requests to a destroyed control then simply fail.
  CMyRichEditCtrl& logView_;
  TrayIcon tray_;
  HBRUSH background_;
  HICON icon_;
  HFONT statusFont_ = nullptr;
  LONG statusFontHeight_ = 0;
  UINT taskbarCreated_ = 0;
  HWND desktopIconWnd_ = nullptr;
  bool running_ = false;
  // Handed from the worker's thread to the UI thread, which owns the tray icon.
  std::mutex noticeLock_;
  std::vector<BackupNotice> notices_;
};

// Posted to the main window when a backup notice waits in notices_.
inline constexpr UINT WM_BACKUPNOTICE = WM_USER + 100;

// The main window's handle once it exists.
extern HWND hMainWnd;
// 1 once the settings dialog asked for a restart: the next close starts the program again and
// ends this instance. Only touched on the UI thread.
extern int restartPending;

}  // namespace vq::win
