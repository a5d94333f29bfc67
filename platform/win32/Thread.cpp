#include "platform/Thread.h"

#include <windows.h>

#include <memory>

namespace vq::platform {

namespace {
DWORD WINAPI Trampoline(LPVOID p) {
  std::unique_ptr<std::function<void()>> fn(static_cast<std::function<void()>*>(p));
  (*fn)();
  return 0;
}
}  // namespace

bool StartThread(std::function<void()> fn, size_t stackSize) {
  auto* heap = new std::function<void()>(std::move(fn));
  HANDLE h = CreateThread(nullptr, stackSize, Trampoline, heap, 0, nullptr);
  if (!h) {
    delete heap;
    return false;
  }
  CloseHandle(h);
  return true;
}

}  // namespace vq::platform
