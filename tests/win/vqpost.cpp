// Test helper: finds the running main window (property "vq.lumen" = 1), its settings dialog and
// its message boxes, and talks to them as a user would through menus, buttons and fields.
//   vqpost command ID        post WM_COMMAND with the menu identifier
//   vqpost close             post WM_CLOSE (the caption's close button)
//   vqpost key VK            post a key press (down and up) to the log view
//   vqpost visible           print 1 when the window is visible, 0 when hidden
//   vqpost foreground        print 1 when the window is the foreground window
//   vqpost logtext           print the log view's text (UTF-8)
//   vqpost loglimit          print the log view's text limit (characters)
//   vqpost logcmd ID         post a context-menu command to the log view
//   vqpost tray MOUSEMSG     post the tray icon's callback with a mouse message
//   vqpost taskbar           post the shell's "TaskbarCreated" message
//   vqpost trayprobe         print 1 when the shell has the window's tray icon (a harmless
//                            modify of its tip succeeds), else 0
//   vqpost traydrop          make the shell forget the window's tray icon
//   vqpost syscommand SC     post WM_SYSCOMMAND (e.g. 61488 maximise, 61728 restore)
//   vqpost rect              print "left top right bottom screenwidth screenheight caption
//                            taskbarheight" (-1 without a taskbar window)
//   vqpost dpichanged DPI L T R B  send WM_DPICHANGED with that DPI and suggested rectangle
//   vqpost logrect           print the log view's client-relative "left top right bottom" and
//                            the window's client "width height"
//   vqpost dlg               print 1 when the settings dialog is open
//   vqpost dlg-get ID        print the text of a settings control
//   vqpost dlg-set ID TEXT   set the text of a settings control
//   vqpost dlg-check ID      print 1 when a check box is checked, then its enabled state
//   vqpost dlg-setcheck ID N check (1) or clear (0) a check box
//   vqpost dlg-click ID      post a button click (OK 1, Cancel 2, ...)
//   vqpost dlg-key ID VK     post a key press (down and up) to a settings control
//   vqpost dlg-lbcount ID    print the number of items of a list box
//   vqpost dlg-lbtext ID N   print item N of a list box
//   vqpost dlg-lbsel ID N    select item N of a list box
//   vqpost rdlg...           each dlg command on a file's versions dialog ("文件版本") instead
//   vqpost bdlg...           each dlg command on the backup browser ("恢复文件") instead, and:
//   vqpost bdlg-lvcount ID   print the number of rows of a list view
//   vqpost bdlg-lvtext ID N C  print column C of row N of a list view
//   vqpost bdlg-lvsel ID N.. select exactly rows N.. of a list view (none: clear), the first focused
//   vqpost bdlg-enabled ID   print 1 when the control is enabled
//   vqpost bdlg-size W H     give the browser that outer size
//   vqpost bdlg-owned        print the title of a dialog the browser owns (the folder browser)
//   vqpost bdlg-owned-ok     press OK in it (bdlg-owned-cancel: Cancel)
//   vqpost bdlg-owned-select PATH  ask the folder browser to select PATH
//   vqpost bdlg-owned-sel    print the name of the folder the folder browser has selected
//   vqpost msgbox            print the text of the open "vq.l" message box
//   vqpost msgbox-ok         press its OK button
// Exits 2 when the window (or dialog, or box) is not found.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {
BOOL CALLBACK FindMarked(HWND w, LPARAM lp) {
  if (reinterpret_cast<INT_PTR>(GetPropW(w, L"vq.lumen")) == 1) {
    *reinterpret_cast<HWND*>(lp) = w;
    return FALSE;
  }
  return TRUE;
}

struct TitledSearch {
  const wchar_t* title;
  HWND found;
};

BOOL CALLBACK FindDialogTitled(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<TitledSearch*>(lp);
  wchar_t cls[64] = {}, title[256] = {};
  GetClassNameW(w, cls, 64);
  GetWindowTextW(w, title, 256);
  if (std::wcscmp(cls, L"#32770") == 0 && std::wcscmp(title, s->title) == 0 && IsWindowVisible(w)) {
    s->found = w;
    return FALSE;
  }
  return TRUE;
}

HWND FindTitled(const wchar_t* title) {
  TitledSearch s = {title, nullptr};
  EnumWindows(FindDialogTitled, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

void Print(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  out += "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
}

std::wstring TextOf(HWND w) {
  LRESULT n = SendMessageW(w, WM_GETTEXTLENGTH, 0, 0);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  LRESULT got = SendMessageW(w, WM_GETTEXT, static_cast<WPARAM>(n + 1), reinterpret_cast<LPARAM>(s.data()));
  s.resize(static_cast<size_t>(got > 0 ? got : 0));
  return s;
}

bool Is(const wchar_t* a, const wchar_t* b) { return std::wcscmp(a, b) == 0; }

struct OwnedSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK FindOwnedDialog(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<OwnedSearch*>(lp);
  wchar_t cls[64] = {};
  GetClassNameW(w, cls, 64);
  if (std::wcscmp(cls, L"#32770") == 0 && GetWindow(w, GW_OWNER) == s->owner && IsWindowVisible(w)) {
    s->found = w;
    return FALSE;
  }
  return TRUE;
}

// A list-view message whose LVITEMW must live in the window's process: written there, sent, and
// the text buffer after it read back.
std::wstring RemoteListView(HWND list, UINT msg, WPARAM wp, LVITEMW item, bool wantText) {
  DWORD pid = 0;
  GetWindowThreadProcessId(list, &pid);
  HANDLE p = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_VM_READ, FALSE, pid);
  constexpr size_t kChars = 1024;
  char* remote = p ? static_cast<char*>(VirtualAllocEx(p, nullptr, sizeof item + kChars * sizeof(wchar_t),
                                                       MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
                   : nullptr;
  std::wstring text;
  if (remote) {
    if (wantText) {
      item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof item);
      item.cchTextMax = kChars;
    }
    if (WriteProcessMemory(p, remote, &item, sizeof item, nullptr)) {
      SendMessageW(list, msg, wp, reinterpret_cast<LPARAM>(remote));
      if (wantText) {
        std::wstring buf(kChars, L'\0');
        if (ReadProcessMemory(p, remote + sizeof item, buf.data(), kChars * sizeof(wchar_t), nullptr))
          text = buf.c_str();
      }
    }
    VirtualFreeEx(p, remote, 0, MEM_RELEASE);
  }
  if (p) CloseHandle(p);
  return text;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 1;
  const wchar_t* cmd = argv[1];
  const int arg = argc > 2 ? _wtoi(argv[2]) : 0;

  if (Is(cmd, L"msgbox") || Is(cmd, L"msgbox-ok")) {
    HWND box = FindTitled(L"vq.l");
    if (!box) return 2;
    if (Is(cmd, L"msgbox"))
      Print(TextOf(GetDlgItem(box, 0xFFFF)));
    else
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    return 0;
  }
  const bool restoreDlg = std::wcsncmp(cmd, L"rdlg", 4) == 0;
  const bool browseDlg = std::wcsncmp(cmd, L"bdlg", 4) == 0;
  if (restoreDlg || browseDlg) ++cmd;
  if (std::wcsncmp(cmd, L"dlg", 3) == 0) {
    HWND dlg = FindTitled(restoreDlg ? L"文件版本" : browseDlg ? L"恢复文件" : L"设置");
    if (Is(cmd, L"dlg")) {
      Print(dlg ? L"1" : L"0");
      return 0;
    }
    if (!dlg) return 2;
    HWND item = GetDlgItem(dlg, arg);
    if (Is(cmd, L"dlg-get")) {
      Print(TextOf(item));
    } else if (Is(cmd, L"dlg-set") && argc > 3) {
      SendMessageW(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
    } else if (Is(cmd, L"dlg-check")) {
      Print(std::to_wstring(SendMessageW(item, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0) + L" " +
            std::to_wstring(IsWindowEnabled(item) ? 1 : 0));
    } else if (Is(cmd, L"dlg-setcheck") && argc > 3) {
      SendMessageW(item, BM_SETCHECK, _wtoi(argv[3]) ? BST_CHECKED : BST_UNCHECKED, 0);
    } else if (Is(cmd, L"dlg-key") && argc > 3) {
      const WPARAM vk = static_cast<WPARAM>(_wtoi(argv[3]));
      PostMessageW(item, WM_KEYDOWN, vk, 1);
      PostMessageW(item, WM_KEYUP, vk, 0xC0000001);
    } else if (Is(cmd, L"dlg-lbcount")) {
      Print(std::to_wstring(SendMessageW(item, LB_GETCOUNT, 0, 0)));
    } else if (Is(cmd, L"dlg-lbtext") && argc > 3) {
      const WPARAM n = static_cast<WPARAM>(_wtoi(argv[3]));
      const LRESULT len = SendMessageW(item, LB_GETTEXTLEN, n, 0);
      if (len == LB_ERR) return 2;
      std::wstring t(static_cast<size_t>(len) + 1, L'\0');
      const LRESULT got = SendMessageW(item, LB_GETTEXT, n, reinterpret_cast<LPARAM>(t.data()));
      t.resize(got > 0 ? static_cast<size_t>(got) : 0);
      Print(t);
    } else if (Is(cmd, L"dlg-lbsel") && argc > 3) {
      SendMessageW(item, LB_SETCURSEL, static_cast<WPARAM>(_wtoi(argv[3])), 0);
    } else if (Is(cmd, L"dlg-lvcount")) {
      Print(std::to_wstring(SendMessageW(item, LVM_GETITEMCOUNT, 0, 0)));
    } else if (Is(cmd, L"dlg-lvtext") && argc > 4) {
      LVITEMW it = {};
      it.iSubItem = _wtoi(argv[4]);
      Print(RemoteListView(item, LVM_GETITEMTEXTW, static_cast<WPARAM>(_wtoi(argv[3])), it, true));
    } else if (Is(cmd, L"dlg-lvsel")) {
      LVITEMW it = {};
      it.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
      RemoteListView(item, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), it, false);
      for (int i = 3; i < argc; ++i) {
        it.state = i == 3 ? (LVIS_SELECTED | LVIS_FOCUSED) : LVIS_SELECTED;
        RemoteListView(item, LVM_SETITEMSTATE, static_cast<WPARAM>(_wtoi(argv[i])), it, false);
      }
    } else if (Is(cmd, L"dlg-enabled")) {
      Print(IsWindowEnabled(item) ? L"1" : L"0");
    } else if (Is(cmd, L"dlg-size") && argc > 3) {
      SetWindowPos(dlg, nullptr, 0, 0, _wtoi(argv[2]), _wtoi(argv[3]), SWP_NOMOVE | SWP_NOZORDER);
    } else if (std::wcsncmp(cmd, L"dlg-owned", 9) == 0) {
      OwnedSearch s = {dlg, nullptr};
      EnumWindows(FindOwnedDialog, reinterpret_cast<LPARAM>(&s));
      if (!s.found) return 2;
      if (Is(cmd, L"dlg-owned")) {
        Print(TextOf(s.found));
      } else if (Is(cmd, L"dlg-owned-ok") || Is(cmd, L"dlg-owned-cancel")) {
        PostMessageW(s.found, WM_COMMAND, Is(cmd, L"dlg-owned-ok") ? IDOK : IDCANCEL, 0);
      } else if (Is(cmd, L"dlg-owned-select") && argc > 2) {
        const size_t bytes = (std::wcslen(argv[2]) + 1) * sizeof(wchar_t);
        DWORD pid = 0;
        GetWindowThreadProcessId(s.found, &pid);
        HANDLE p = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
        void* remote = p ? VirtualAllocEx(p, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE) : nullptr;
        if (!remote || !WriteProcessMemory(p, remote, argv[2], bytes, nullptr)) return 3;
        SendMessageW(s.found, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote));
        VirtualFreeEx(p, remote, 0, MEM_RELEASE);
        CloseHandle(p);
      } else if (Is(cmd, L"dlg-owned-sel")) {
        HWND tree = FindWindowExW(s.found, nullptr, L"SysTreeView32", nullptr);
        if (!tree) return 2;
        const LRESULT sel = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
        if (!sel) return 2;
        // TVITEMW in the browser's process, its text after it.
        DWORD pid = 0;
        GetWindowThreadProcessId(tree, &pid);
        HANDLE p = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_VM_READ, FALSE, pid);
        constexpr size_t kChars = 512;
        char* remote = p ? static_cast<char*>(VirtualAllocEx(p, nullptr, sizeof(TVITEMW) + kChars * sizeof(wchar_t),
                                                             MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
                         : nullptr;
        if (!remote) return 3;
        TVITEMW it = {};
        it.mask = TVIF_TEXT;
        it.hItem = reinterpret_cast<HTREEITEM>(sel);
        it.pszText = reinterpret_cast<wchar_t*>(remote + sizeof it);
        it.cchTextMax = kChars;
        std::wstring buf(kChars, L'\0');
        if (WriteProcessMemory(p, remote, &it, sizeof it, nullptr) &&
            SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote)) &&
            ReadProcessMemory(p, remote + sizeof it, buf.data(), kChars * sizeof(wchar_t), nullptr))
          Print(buf.c_str());
        VirtualFreeEx(p, remote, 0, MEM_RELEASE);
        CloseHandle(p);
      }
    } else if (Is(cmd, L"dlg-redraw")) {
      RedrawWindow(dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
    } else if (Is(cmd, L"dlg-click")) {
      PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(arg, BN_CLICKED), reinterpret_cast<LPARAM>(item));
    } else {
      return 1;
    }
    return 0;
  }

  HWND w = nullptr;
  EnumWindows(FindMarked, reinterpret_cast<LPARAM>(&w));
  if (!w) {
    Print(L"no window");
    return 2;
  }
  HWND view = GetDlgItem(w, 1000);
  if (Is(cmd, L"command") && argc > 2) {
    PostMessageW(w, WM_COMMAND, static_cast<WPARAM>(arg), 0);
  } else if (Is(cmd, L"key") && argc > 2) {
    PostMessageW(view, WM_KEYDOWN, static_cast<WPARAM>(arg), 1);
    PostMessageW(view, WM_KEYUP, static_cast<WPARAM>(arg), 0xC0000001);
  } else if (Is(cmd, L"close")) {
    PostMessageW(w, WM_CLOSE, 0, 0);
  } else if (Is(cmd, L"visible")) {
    Print(IsWindowVisible(w) ? L"1" : L"0");
  } else if (Is(cmd, L"foreground")) {
    Print(GetForegroundWindow() == w ? L"1" : L"0");
  } else if (Is(cmd, L"logtext")) {
    Print(TextOf(view));
  } else if (Is(cmd, L"loglimit")) {
    Print(std::to_wstring(SendMessageW(view, EM_GETLIMITTEXT, 0, 0)));
  } else if (Is(cmd, L"logcmd")) {
    PostMessageW(view, WM_COMMAND, static_cast<WPARAM>(arg), 0);
  } else if (Is(cmd, L"tray")) {
    PostMessageW(w, WM_USER + 99, 0, static_cast<LPARAM>(arg));
  } else if (Is(cmd, L"taskbar")) {
    PostMessageW(w, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  } else if (Is(cmd, L"trayprobe") || Is(cmd, L"traydrop")) {
    NOTIFYICONDATAW nid = {};
    nid.cbSize = NOTIFYICONDATAW_V3_SIZE;
    nid.hWnd = w;
    nid.uID = 0;
    nid.uFlags = NIF_TIP;
    wcscpy(nid.szTip, L"vq.lumen");
    if (Is(cmd, L"trayprobe"))
      Print(Shell_NotifyIconW(NIM_MODIFY, &nid) ? L"1" : L"0");
    else
      Shell_NotifyIconW(NIM_DELETE, &nid);
  } else if (Is(cmd, L"syscommand")) {
    PostMessageW(w, WM_SYSCOMMAND, static_cast<WPARAM>(arg), 0);
  } else if (Is(cmd, L"rect")) {
    RECT r;
    GetWindowRect(w, &r);
    wchar_t buf[128];
    RECT t = {0, 0, 0, -1};  // height -1: no taskbar window
    if (HWND tray = FindWindowW(L"Shell_TrayWnd", L"")) GetWindowRect(tray, &t);
    swprintf(buf, 128, L"%ld %ld %ld %ld %d %d %d %ld", r.left, r.top, r.right, r.bottom, GetSystemMetrics(SM_CXSCREEN),
             GetSystemMetrics(SM_CYSCREEN), GetSystemMetrics(SM_CYCAPTION), t.bottom - t.top);
    Print(buf);
  } else if (Is(cmd, L"dpichanged")) {
    // The suggested rectangle must live in the window's own process: write it there.
    if (argc < 7) return 1;
    RECT r = {_wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5]), _wtoi(argv[6])};
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    HANDLE p = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
    void* remote = p ? VirtualAllocEx(p, nullptr, sizeof r, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE) : nullptr;
    if (!remote || !WriteProcessMemory(p, remote, &r, sizeof r, nullptr)) return 3;
    SendMessageW(w, 0x02E0, MAKEWPARAM(arg, arg), reinterpret_cast<LPARAM>(remote));
    VirtualFreeEx(p, remote, 0, MEM_RELEASE);
    CloseHandle(p);
  } else if (Is(cmd, L"logrect")) {
    RECT r, c;
    GetWindowRect(view, &r);
    MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&r), 2);
    GetClientRect(w, &c);
    wchar_t buf[128];
    swprintf(buf, 128, L"%ld %ld %ld %ld %ld %ld", r.left, r.top, r.right, r.bottom, c.right, c.bottom);
    Print(buf);
  } else {
    return 1;
  }
  return 0;
}
