#include "platform/Instance.h"

#include <windows.h>

namespace vq::platform {

namespace {
const wchar_t kProp[] = L"vq.lumen";

BOOL CALLBACK FindMarked(HWND w, LPARAM lp) {
  if (reinterpret_cast<INT_PTR>(GetPropW(w, kProp)) == 1) {
    *reinterpret_cast<HWND*>(lp) = w;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

bool HandOverToRunningInstance() {
  HWND found = nullptr;
  EnumWindows(FindMarked, reinterpret_cast<LPARAM>(&found));
  if (!found) return false;
  ShowWindow(found, SW_SHOWNORMAL);
  SetForegroundWindow(found);
  return true;
}

bool MarkRunningInstance(void* window) {
  return SetPropW(static_cast<HWND>(window), kProp, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(1))) != 0;
}

bool TakeShowRequest() { return false; }

}  // namespace vq::platform
