#include "app/win32/VQTimeDlg.h"

#include "app/win32/BrowseDlg.h"
#include "app/win32/DialogSet.h"
#include "app/win32/Placement.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "res/resource.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"

namespace vq::win {

HWND hMainWnd = nullptr;
int restartPending = 0;

namespace {
const COLORREF kBackground = RGB(50, 185, 30);
const COLORREF kStatusText = RGB(155, 0, 30);

struct DesktopSearch {
  HWND found = nullptr;
};

BOOL CALLBACK FindIconList(HWND w, LPARAM lp) {
  if (!(GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE)) return TRUE;
  HWND view = FindWindowExW(w, nullptr, L"SHELLDLL_DefView", nullptr);
  if (!view) return TRUE;
  HWND list = FindWindowExW(view, nullptr, L"SysListView32", L"FolderView");
  if (!list) return TRUE;
  reinterpret_cast<DesktopSearch*>(lp)->found = list;
  return FALSE;
}

CMyRichEditCtrl& ProcessLogView() {
  static CMyRichEditCtrl* view = new CMyRichEditCtrl();
  return *view;
}
}  // namespace

CVQTimeDlg::CVQTimeDlg() : Dialog(IDD_VQTIME_DIALOG), logView_(ProcessLogView()) {
  background_ = CreateSolidBrush(kBackground);
  icon_ = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CVQTimeDlg::~CVQTimeDlg() {
  ListenForBackupHealth(nullptr);
  SetLogView(nullptr);
  logView_.Attach(nullptr);
  if (statusFont_) DeleteObject(statusFont_);
  DeleteObject(background_);
}

// ---- start-up steps (StartupHost)

BOOL CVQTimeDlg::OnInitDialog() {
  logView_.Attach(Item(IDC_RICHEDIT1));
  running_ = RunStartup(*this) == StartupResult::Running;
  if (!running_) {
    // As the framework's OK and then Cancel would.
    EndDialog(IDOK);
    EndDialog(IDCANCEL);
    return FALSE;
  }
  // Focus the log view ourselves: the dialog manager's default focus would select its whole
  // text, and the next line would then replace the selection.
  SetFocus(logView_.hwnd());
  logView_.AppendLogText(L"");
  return FALSE;
}

void CVQTimeDlg::SetWindowIcons() {
  SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
}

void CVQTimeDlg::RegisterTaskbarCreatedMessage() {
  hMainWnd = hwnd();
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
}

void CVQTimeDlg::AttachLogView() { SetLogView(&logView_); }

void CVQTimeDlg::ShowTopmostBottomRight() {
  SetWindowPos(hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOOWNERZORDER);
  PlaceWindowBottomRight(hwnd());
  ShowWindow(hwnd(), SW_SHOW);
}

void CVQTimeDlg::StartTimers() {
  SetTimer(hwnd(), kTimerTrayWatchdog, 1000, nullptr);
  SetTimer(hwnd(), kTimerTick, 50, nullptr);
}

void CVQTimeDlg::ConfigureLogView() {
  logView_.LimitText(0x7FFF);
  logView_.SetReadOnly(true);
  logView_.SetBackgroundColor(kBackground);
}

void CVQTimeDlg::AddTrayIcon() { tray_.Add(hwnd(), icon_); }

void CVQTimeDlg::SetStatusFont() { SetStatusFontForDpi(0); }

void CVQTimeDlg::SetStatusFontForDpi(UINT dpi) {
  LOGFONTW lf = {};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
  lf.lfWeight = FW_BOLD;
  // The stock font is made for the system's DPI; a monitor with another one gets it scaled.
  if (dpi != 0) {
    HDC screen = GetDC(nullptr);
    const int systemDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (systemDpi > 0) lf.lfHeight = MulDiv(lf.lfHeight, static_cast<int>(dpi), systemDpi);
  }
  HFONT old = statusFont_;
  statusFont_ = CreateFontIndirectW(&lf);
  SendMessageW(Item(IDC_STATIC_STATUS), WM_SETFONT, reinterpret_cast<WPARAM>(statusFont_), TRUE);
  // Only now that the control no longer uses it.
  if (old) DeleteObject(old);
  statusFontHeight_ = lf.lfHeight;
}

void CVQTimeDlg::SetStatusAndTitle(const std::wstring& status, const std::wstring& title) {
  SetDlgItemTextW(hwnd(), IDC_STATIC_STATUS, status.c_str());
  SetWindowTextW(hwnd(), title.c_str());
}

bool CVQTimeDlg::FindDesktopIconWnd() {
  DesktopSearch s;
  EnumWindows(FindIconList, reinterpret_cast<LPARAM>(&s));
  desktopIconWnd_ = s.found;
  return s.found != nullptr;
}

void CVQTimeDlg::RunFirstRunSettingsDialog() {
  CDialogSet dlg;
  dlg.DoModal(hwnd());
}

void CVQTimeDlg::ShowMessageBox(const std::wstring& text) {
  MessageBoxW(hwnd(), text.c_str(), kAppName, MB_OK | MB_ICONEXCLAMATION);
}

void CVQTimeDlg::ShowBackupNotice(const BackupNotice& notice) {
  {
    std::lock_guard<std::mutex> g(noticeLock_);
    notices_.push_back(notice);
  }
  PostMessageW(hwnd(), WM_BACKUPNOTICE, 0, 0);
}

// ---- menu commands (CommandHost)

void CVQTimeDlg::RemoveTrayIcon() { tray_.Remove(); }

void CVQTimeDlg::QuitMessageLoop() { PostQuitMessage(0); }

void CVQTimeDlg::RunSettingsDialog() {
  // Owned by the main window: above it although it is topmost, and the menu cannot open a
  // second one meanwhile.
  CDialogSet dlg;
  dlg.DoModal(hwnd());
}

void CVQTimeDlg::RunRestoreDialog() {
  CBrowseDlg dlg;
  if (dlg.DoModal(hwnd()) == -1)
    WriteLog(L"恢复文件对话框无法打开[%lu]\r\n", static_cast<unsigned long>(GetLastError()));
}

// ---- first layer

bool CVQTimeDlg::OnSysCommand(WPARAM id, LPARAM) {
  // The range an about item of the system menu would use; there is none.
  return (id & 0xFFF0) == 0x10;
}

bool CVQTimeDlg::OnPaint() {
  if (!IsIconic(hwnd())) return false;
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd(), &ps);
  SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT r;
  GetClientRect(hwnd(), &r);
  const int x = (r.right - r.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (r.bottom - r.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, icon_);
  EndPaint(hwnd(), &ps);
  return true;
}

HCURSOR CVQTimeDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(icon_); }

HBRUSH CVQTimeDlg::OnCtlColor(HDC dc, HWND control, UINT ctlMsg) {
  if (ctlMsg == WM_CTLCOLORDLG) return background_;
  if (ctlMsg == WM_CTLCOLORSTATIC && GetDlgCtrlID(control) == IDC_STATIC_STATUS) {
    SetTextColor(dc, kStatusText);
    SetBkColor(dc, kBackground);
    return background_;
  }
  return nullptr;
}

void CVQTimeDlg::OnSize(UINT, int, int) {
  RECT client;
  GetClientRect(hwnd(), &client);
  // A start that hands over has no log file name yet and must leave no trace.
  const bool logging = !AppSettings.logFileName.Get().empty();
  if (!Item(IDC_STATIC_TEXT) && logging) WriteLogFile(L"OnSize:pWnd = GetDlgItem(IDC_STATIC_TEXT) re NULL \r\n");
  HWND e = Item(IDC_RICHEDIT1);
  if (!e) {
    if (logging) WriteLogFile(L"OnSize:pWnd = GetDlgItem(IDC_RICHEDIT1) re NULL \r\n");
    return;
  }
  RECT r;
  GetWindowRect(e, &r);
  MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
  MoveWindow(e, r.left, r.top, client.right - client.left, client.bottom - client.top - r.top, TRUE);
  InvalidateRect(hwnd(), nullptr, TRUE);
}

bool CVQTimeDlg::OnCommand(int id, int notifyCode, HWND control) {
  if (id == ID_COMMAND_PLACE_WINDOW) {
    PlaceWindowBottomRight(hwnd());
    return true;
  }
  if (IsMenuCommand(id)) {
    OnMenuCommand(id, *this);
    return true;
  }
  if (id == IDOK || id == IDCANCEL) return Dialog::OnCommand(id, notifyCode, control);
  return true;  // any other command is taken without action
}

bool CVQTimeDlg::PreTranslateMessage(MSG* msg) {
  // Neither Enter nor Escape may end the main window.
  return msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE) &&
         (msg->hwnd == hwnd() || IsChild(hwnd(), msg->hwnd));
}

// ---- second layer

bool CVQTimeDlg::DefaultHandler(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  *result = 0;
  if (taskbarCreated_ != 0 && msg == taskbarCreated_) return OnTaskbarCreated();
  switch (msg) {
    case WM_DESTROY:
      OnDestroy();
      return false;
    case WM_CLOSE:
      return OnCloseDefault(wp, lp, result);
    case WM_QUIT:
      OnQuit();
      return false;
    case WM_DISPLAYCHANGE:
      OnDisplayChange();
      return false;
    case WM_THEMECHANGED:
      OnThemeChanged();
      return false;
    case WM_DPICHANGED:
      return OnDpiChanged(HIWORD(wp), reinterpret_cast<const RECT*>(lp));
    case WM_TIMER:
      return OnTimerDefault(wp);
    case WM_HOTKEY:
      return OnHotKey();
    case WM_TRAYICON:
      return OnTrayIcon(wp, lp);
    case WM_BACKUPNOTICE:
      return OnBackupNotice();
    default:
      return false;
  }
}

bool CVQTimeDlg::OnTaskbarCreated() {
  // The shell restarted and forgot the icon; the watchdog adds it again within a second.
  WriteLog(L"explorer restarted..\r\n");
  tray_.MarkLost();
  return true;
}

void CVQTimeDlg::OnDestroy() {
  tray_.Remove();
  // A start that handed over to a running instance must leave no trace, not even this line.
  if (running_) WriteLog(L"WM_DESTROY:\r\n");
}

bool CVQTimeDlg::OnCloseDefault(WPARAM wp, LPARAM lp, LRESULT* result) {
  ShowWindow(hwnd(), SW_HIDE);
  PlaceWindowBottomRight(hwnd());
  // Closing only hides the window; the program lives on behind its tray icon.
  if (restartPending == 0) return true;
  tray_.Remove();
  StartRestartedInstance();
  // The dialog manager's close: Cancel, which ends the dialog and the process.
  return Dialog::DefaultHandler(WM_CLOSE, wp, lp, result);
}

void CVQTimeDlg::StartRestartedInstance() {
  // From the program's own file: started from the Run key the current directory is the system
  // folder, where no such program is.
  platform::MarkRestartOrigin();
  if (!platform::StartProgram(platform::ProgramPath(), L"  restart "))
    WriteLog(L"重启失败,请手动启动:%s\r\n", platform::ProgramPath());
}

void CVQTimeDlg::OnQuit() {
  tray_.Remove();
  WriteLog(L"WM_QUIT:\r\n");
}

void CVQTimeDlg::OnDisplayChange() {
  WriteLog(L"WM_DISPLAYCHANGE\r\n");
  PlaceWindowBottomRight(hwnd());
}

bool CVQTimeDlg::OnDpiChanged(UINT dpi, const RECT* suggested) {
  // The window was dragged to a monitor with another DPI (or the user changed its scale): the
  // status line gets a font of the new size, the window takes the size the system suggests and
  // goes back to its corner, as after a display change.
  SetStatusFontForDpi(dpi);
  if (suggested)
    SetWindowPos(hwnd(), nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  PlaceWindowBottomRight(hwnd());
  WriteLog(L"WM_DPICHANGED %d %d\r\n", static_cast<int>(dpi), statusFontHeight_);
  return true;
}

void CVQTimeDlg::OnThemeChanged() {
  WriteLog(L"WM_THEMECHANGED\r\n");
  PlaceWindowBottomRight(hwnd());
}

bool CVQTimeDlg::OnTimerDefault(UINT_PTR id) {
  if (id == kTimerTrayWatchdog) {
    if (tray_.added() != 1) {
      tray_.Remove();
      tray_.Add(hwnd(), icon_);
    }
    return true;
  }
  return id == kTimerTick;
}

bool CVQTimeDlg::OnHotKey() { return true; }

bool CVQTimeDlg::OnTrayIcon(WPARAM id, LPARAM mouseMsg) {
  if (id != 0 || mouseMsg < WM_LBUTTONDOWN || mouseMsg > WM_RBUTTONDBLCLK) return false;
  // No tray menu: any click, left or right, brings the window back.
  ShowFromTray();
  return true;
}

bool CVQTimeDlg::OnBackupNotice() {
  std::vector<BackupNotice> notices;
  {
    std::lock_guard<std::mutex> g(noticeLock_);
    notices.swap(notices_);
  }
  // Only the latest counts: a balloon replaces the one before it anyway.
  if (!notices.empty()) tray_.ShowBalloon(kBackupNoticeTitle, notices.back().text, notices.back().failing);
  return true;
}

void CVQTimeDlg::ShowFromTray() {
  ShowWindow(hwnd(), SW_SHOWNORMAL);
  SetForegroundWindow(hwnd());
}

}  // namespace vq::win
