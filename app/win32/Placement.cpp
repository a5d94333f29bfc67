#include "app/win32/Placement.h"

namespace vq::win {

void PlaceWindowBottomRight(HWND window) {
  int margin = GetSystemMetrics(SM_CYCAPTION);
  RECT r;
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  // Only a taskbar at the bottom is considered.
  if (HWND tray = FindWindowW(L"Shell_TrayWnd", L"")) {
    RECT t;
    GetWindowRect(tray, &t);
    margin = t.bottom - t.top;
  }
  MoveWindow(window, GetSystemMetrics(SM_CXSCREEN) - w, GetSystemMetrics(SM_CYSCREEN) - h - margin, w, h, TRUE);
}

}  // namespace vq::win
