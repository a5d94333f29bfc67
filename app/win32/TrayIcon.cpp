#include "app/win32/TrayIcon.h"

#include <shellapi.h>

#include <cwchar>

namespace vq::win {

namespace {
// The record up to and including its GUID, as shells since Windows XP read it; the balloon icon
// field after it is not used. (968 bytes on x86-64; 952 is where the GUID starts.)
const DWORD kRecordSize = NOTIFYICONDATAW_V3_SIZE;
}  // namespace

bool TrayIcon::Add(HWND owner, HICON icon) {
  owner_ = owner;
  NOTIFYICONDATAW nid = {};
  nid.cbSize = kRecordSize;
  nid.hWnd = owner;
  nid.uID = 0;
  nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  nid.uCallbackMessage = WM_TRAYICON;
  nid.hIcon = icon;
  wcsncpy(nid.szTip, L"vq.lumen", sizeof nid.szTip / sizeof nid.szTip[0] - 1);
  added_ = Shell_NotifyIconW(NIM_ADD, &nid) ? 1 : 0;
  return added_ == 1;
}

bool TrayIcon::ShowBalloon(const wchar_t* title, const std::wstring& text, bool warning) {
  if (!owner_ || added_ != 1) return false;
  NOTIFYICONDATAW nid = {};
  nid.cbSize = kRecordSize;
  nid.hWnd = owner_;
  nid.uID = 0;
  nid.uFlags = NIF_INFO;
  wcsncpy(nid.szInfo, text.c_str(), sizeof nid.szInfo / sizeof nid.szInfo[0] - 1);
  wcsncpy(nid.szInfoTitle, title, sizeof nid.szInfoTitle / sizeof nid.szInfoTitle[0] - 1);
  nid.dwInfoFlags = warning ? NIIF_WARNING : NIIF_INFO;
  return Shell_NotifyIconW(NIM_MODIFY, &nid) != FALSE;
}

void TrayIcon::Remove() {
  added_ = 0;
  if (!owner_) return;
  NOTIFYICONDATAW nid = {};
  nid.cbSize = kRecordSize;
  nid.hWnd = owner_;
  nid.uID = 0;
  Shell_NotifyIconW(NIM_DELETE, &nid);
}

}  // namespace vq::win
