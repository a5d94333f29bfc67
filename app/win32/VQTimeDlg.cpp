#include "app/win32/VQTimeDlg.h"

#include <richedit.h>

#include "res/resource.h"
#include "settings/AppSettings.h"

namespace vq::win {

HWND hMainWnd = nullptr;

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
}  // namespace

void RichEditLogView::AppendLogText(const std::wstring& text) {
  HWND e = edit_.load();
  if (!e) return;
  // Append at the very end whatever the user selected or clicked: a read-only view's caret can
  // still be moved, and text must never land in the middle of older lines.
  GETTEXTLENGTHEX len = {GTL_NUMCHARS | GTL_PRECISE, 1200};
  LRESULT end = SendMessageW(e, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&len), 0);
  if (end < 0) end = 0;
  SendMessageW(e, EM_SETSEL, static_cast<WPARAM>(end), static_cast<LPARAM>(end));
  SendMessageW(e, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  end = SendMessageW(e, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&len), 0);
  if (end < 0) end = 0;
  SendMessageW(e, EM_SETSEL, static_cast<WPARAM>(end), static_cast<LPARAM>(end));
  PostMessageW(e, WM_VSCROLL, SB_BOTTOM, 0);
}

namespace {
RichEditLogView& ProcessLogView() {
  static RichEditLogView* view = new RichEditLogView();
  return *view;
}
}  // namespace

CVQTimeDlg::CVQTimeDlg() : Dialog(IDD_VQTIME_DIALOG), logView_(ProcessLogView()) {
  background_ = CreateSolidBrush(kBackground);
  icon_ = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CVQTimeDlg::~CVQTimeDlg() {
  SetLogView(nullptr);
  logView_.Attach(nullptr);
  if (statusFont_) DeleteObject(statusFont_);
  DeleteObject(background_);
}

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
  SendMessageW(logView_.hwnd(), EM_SETSEL, static_cast<WPARAM>(-1), 0);
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
  SetTimer(hwnd(), 1, 1000, nullptr);
  SetTimer(hwnd(), 2, 50, nullptr);
}

void CVQTimeDlg::ConfigureLogView() {
  HWND e = logView_.hwnd();
  SendMessageW(e, EM_EXLIMITTEXT, 0, 0x7FFF);
  SendMessageW(e, EM_SETREADONLY, TRUE, 0);
  SendMessageW(e, EM_SETBKGNDCOLOR, 0, kBackground);
}

void CVQTimeDlg::SetStatusFont() {
  LOGFONTW lf = {};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
  lf.lfWeight = FW_BOLD;
  statusFont_ = CreateFontIndirectW(&lf);
  SendMessageW(Item(IDC_STATIC_STATUS), WM_SETFONT, reinterpret_cast<WPARAM>(statusFont_), TRUE);
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

void CVQTimeDlg::ShowMessageBox(const std::wstring& text) {
  MessageBoxW(hwnd(), text.c_str(), kAppName, MB_OK | MB_ICONEXCLAMATION);
}

void CVQTimeDlg::QuitMessageLoop() { PostQuitMessage(0); }

bool CVQTimeDlg::OnCommand(int id, int notifyCode, HWND control) {
  if (id == IDC_PLACE_WINDOW) {
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

bool CVQTimeDlg::DefaultHandler(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  switch (msg) {
    case WM_CLOSE:
      // Closing only hides the window; the program lives on.
      ShowWindow(hwnd(), SW_HIDE);
      PlaceWindowBottomRight(hwnd());
      *result = 0;
      return true;
    case WM_DESTROY:
      // A start that handed over to a running instance must leave no trace, not even this line.
      if (running_) WriteLog(L"WM_DESTROY:\r\n");
      return false;
    case WM_TIMER:
      // Timer 1 looks after the tray icon once there is one; timer 2 only ticks.
      if (wp == 1 || wp == 2) return true;
      return false;
    case WM_HOTKEY:
      return true;
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) >= 16 && (wp & 0xFFF0) <= 31) return true;
      return false;
    default:
      (void)lp;
      return false;
  }
}

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
  HWND e = Item(IDC_RICHEDIT1);
  if (!e) return;
  RECT r;
  GetWindowRect(e, &r);
  MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
  MoveWindow(e, r.left, r.top, client.right - client.left, client.bottom - client.top - r.top, TRUE);
  InvalidateRect(hwnd(), nullptr, TRUE);
}

bool CVQTimeDlg::PreTranslateMessage(MSG* msg) {
  // Neither Enter nor Escape may end the main window.
  if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE) &&
      (msg->hwnd == hwnd() || IsChild(hwnd(), msg->hwnd)))
    return true;
  return false;
}

void PlaceWindowBottomRight(HWND window) {
  int margin = GetSystemMetrics(SM_CYCAPTION);
  RECT r;
  GetWindowRect(window, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  HWND tray = FindWindowW(L"Shell_TrayWnd", L"");
  if (tray) {
    RECT t;
    GetWindowRect(tray, &t);
    margin = t.bottom - t.top;
  }
  MoveWindow(window, GetSystemMetrics(SM_CXSCREEN) - w, GetSystemMetrics(SM_CYSCREEN) - h - margin, w, h, TRUE);
}

}  // namespace vq::win
