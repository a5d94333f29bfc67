// The main window: a small topmost dialog at the bottom right with a status line and the log.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "app/Commands.h"
#include "app/Startup.h"
#include "app/win32/Dialog.h"
#include "settings/Log.h"

namespace vq::win {

// The log view control (control 1000). Appending is done with sent requests, so a worker
// thread waits until the UI thread has placed its text.
class RichEditLogView : public LogView {
 public:
  void Attach(HWND edit) { edit_.store(edit); }
  HWND hwnd() const { return edit_.load(); }
  void AppendLogText(const std::wstring& text) override;

 private:
  std::atomic<HWND> edit_{nullptr};
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
  void SetStatusFont() override;
  void SetStatusAndTitle(const std::wstring& status, const std::wstring& title) override;
  bool FindDesktopIconWnd() override;
  void ShowMessageBox(const std::wstring& text) override;

  // CommandHost
  void QuitMessageLoop() override;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notifyCode, HWND control) override;
  bool DefaultHandler(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;
  HBRUSH OnCtlColor(HDC dc, HWND control, UINT ctlMsg) override;
  void OnSize(UINT type, int cx, int cy) override;
  bool PreTranslateMessage(MSG* msg) override;

 private:
  // Lives as long as the process: a worker thread may still hold it while the window goes away;
  // requests to a destroyed control then simply fail.
  RichEditLogView& logView_;
  HBRUSH background_;
  HICON icon_;
  HFONT statusFont_ = nullptr;
  UINT taskbarCreated_ = 0;
  HWND desktopIconWnd_ = nullptr;
  bool running_ = false;
};

// Moves the window to the bottom right corner, just above a taskbar at the bottom.
void PlaceWindowBottomRight(HWND window);

// The main window's handle once it exists.
extern HWND hMainWnd;

}  // namespace vq::win
