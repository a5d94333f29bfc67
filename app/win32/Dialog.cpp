#include "app/win32/Dialog.h"

namespace vq::win {

std::wstring Dialog::Text(int id) const {
  HWND c = Item(id);
  const int n = GetWindowTextLengthW(c);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  const int got = GetWindowTextW(c, s.data(), n + 1);
  s.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return s;
}

INT_PTR Dialog::DoModal(HWND parent) {
  ended_ = false;
  HWND h = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), parent, Proc,
                              reinterpret_cast<LPARAM>(this));
  if (!h) return -1;
  // As a modal dialog box shows itself once initialised (unless it ended during initialisation).
  if (!ended_ && !IsWindowVisible(h)) {
    ShowWindow(h, SW_SHOW);
    UpdateWindow(h);
  }
  if (parent) EnableWindow(parent, FALSE);
  bool quit = false;
  WPARAM quitCode = 0;
  MSG msg;
  while (!ended_) {
    BOOL r = GetMessageW(&msg, nullptr, 0, 0);
    if (r == 0) {
      quit = true;
      quitCode = msg.wParam;
      break;
    }
    if (r < 0) break;
    if (PreTranslateMessage(&msg)) continue;
    if (IsDialogMessageW(hwnd_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (parent) EnableWindow(parent, TRUE);
  DestroyWindow(hwnd_);
  hwnd_ = nullptr;
  if (quit) {
    PostQuitMessage(static_cast<int>(quitCode));
    return static_cast<INT_PTR>(quitCode);
  }
  return result_;
}

void Dialog::EndDialog(INT_PTR result) {
  result_ = result;
  ended_ = true;
  // Wake the loop in case this was called outside a message.
  if (hwnd_) PostMessageW(hwnd_, WM_NULL, 0, 0);
}

bool Dialog::OnCommand(int id, int, HWND) {
  if (id == IDOK || id == IDCANCEL) {
    EndDialog(id);
    return true;
  }
  return false;
}

bool Dialog::DefaultHandler(UINT msg, WPARAM, LPARAM, LRESULT*) {
  if (msg == WM_CLOSE) {
    // The dialog manager's own close is a Cancel.
    PostMessageW(hwnd_, WM_COMMAND, IDCANCEL, 0);
    return true;
  }
  return false;
}

INT_PTR CALLBACK Dialog::Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Dialog* self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(h, DWLP_USER));
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lp);
    SetWindowLongPtrW(h, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_ = h;
  }
  if (!self) return FALSE;
  return self->Handle(msg, wp, lp);
}

bool Dialog::FirstLayer(UINT msg, WPARAM wp, LPARAM lp, INT_PTR* direct) {
  switch (msg) {
    case WM_SYSCOMMAND:
      return OnSysCommand(wp, lp);
    case WM_PAINT:
      return OnPaint();
    case WM_QUERYDRAGICON: {
      HCURSOR c = OnQueryDragIcon();
      if (!c) return false;
      *direct = reinterpret_cast<INT_PTR>(c);
      return true;
    }
    case WM_TIMER:
      return OnTimer(wp);
    case WM_CLOSE:
      return OnClose();
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN: {
      HBRUSH b = OnCtlColor(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp), msg);
      if (!b) return false;
      *direct = reinterpret_cast<INT_PTR>(b);
      return true;
    }
    case WM_SIZE:
      // The size handler always passes the message on.
      OnSize(static_cast<UINT>(wp), LOWORD(lp), HIWORD(lp));
      return false;
    case WM_COMMAND:
      return OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
    default:
      return false;
  }
}

INT_PTR Dialog::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) return OnInitDialog();
  INT_PTR direct = -1;
  if (FirstLayer(msg, wp, lp, &direct)) {
    // Colour and drag-icon answers are returned directly; others are just "handled".
    return direct != -1 ? direct : TRUE;
  }
  LRESULT result = 0;
  if (DefaultHandler(msg, wp, lp, &result)) {
    SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
    return TRUE;
  }
  return FALSE;
}

}  // namespace vq::win
