// Test helper: finds the running main window (property "vq.lumen" = 1) and talks to it as a user
// would through its menu and caption buttons.
//   vqpost command ID   post WM_COMMAND with the menu identifier
//   vqpost close        post WM_CLOSE (the caption's close button)
//   vqpost key VK       post a key press (down and up) to the log view
//   vqpost visible      print 1 when the window is visible, 0 when hidden
// Exits 2 when no window is found.
#include <windows.h>

#include <cstdio>
#include <cwchar>

static BOOL CALLBACK Find(HWND w, LPARAM lp) {
  if (reinterpret_cast<INT_PTR>(GetPropW(w, L"vq.lumen")) == 1) {
    *reinterpret_cast<HWND*>(lp) = w;
    return FALSE;
  }
  return TRUE;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 1;
  HWND w = nullptr;
  EnumWindows(Find, reinterpret_cast<LPARAM>(&w));
  if (!w) {
    std::printf("no window\n");
    return 2;
  }
  if (std::wcscmp(argv[1], L"command") == 0 && argc > 2) {
    PostMessageW(w, WM_COMMAND, static_cast<WPARAM>(_wtoi(argv[2])), 0);
  } else if (std::wcscmp(argv[1], L"key") == 0 && argc > 2) {
    HWND view = GetDlgItem(w, 1000);
    WPARAM vk = static_cast<WPARAM>(_wtoi(argv[2]));
    PostMessageW(view, WM_KEYDOWN, vk, 1);
    PostMessageW(view, WM_KEYUP, vk, 0xC0000001);
  } else if (std::wcscmp(argv[1], L"close") == 0) {
    PostMessageW(w, WM_CLOSE, 0, 0);
  } else if (std::wcscmp(argv[1], L"visible") == 0) {
    std::printf("%d\n", IsWindowVisible(w) ? 1 : 0);
  } else {
    return 1;
  }
  return 0;
}
