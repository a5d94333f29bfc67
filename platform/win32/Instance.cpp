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

HWND FindRunningInstance() {
  HWND found = nullptr;
  EnumWindows(FindMarked, reinterpret_cast<LPARAM>(&found));
  return found;
}
}  // namespace

bool HandOverToRunningInstance() {
  HWND found = FindRunningInstance();
  if (!found) return false;
  ShowWindow(found, SW_SHOWNORMAL);
  SetForegroundWindow(found);
  return true;
}

InstanceMark MarkRunningInstance(void* window) {
  // A window property cannot be "taken" by anyone else: a failure here is never a handover.
  if (!SetPropW(static_cast<HWND>(window), kProp, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(1))))
    return InstanceMark::Failed;
  return InstanceMark::Marked;
}

bool TakeShowRequest() { return false; }

}  // namespace vq::platform
