#include "platform/NamedMutex.h"

#include <windows.h>

#include <atomic>
#include <mutex>

namespace vq::platform {

struct NamedMutex::Impl {
  std::wstring name;
  std::atomic<HANDLE> h{nullptr};
  std::mutex creating;
};

// Created with the object, so threads that lock it at once find one handle; should creating fail
// here, Lock tries again under a process lock.
NamedMutex::NamedMutex(const std::wstring& name) : impl_(new Impl) {
  impl_->name = name;
  impl_->h = CreateMutexW(nullptr, FALSE, name.c_str());
}

// Kept for the life of the process, like every named object of the program.
NamedMutex::~NamedMutex() = default;

bool NamedMutex::Lock() {
  if (!impl_->h.load()) {
    std::lock_guard<std::mutex> g(impl_->creating);
    if (!impl_->h.load()) impl_->h = CreateMutexW(nullptr, FALSE, impl_->name.c_str());
  }
  if (!impl_->h.load()) return false;
  DWORD r = WaitForSingleObject(impl_->h.load(), INFINITE);
  // An abandoned mutex (its owner died while writing) is ours now; the entry it guarded is
  // whole or lost, never interleaved with ours.
  return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

void NamedMutex::Unlock() {
  if (HANDLE h = impl_->h.load()) ReleaseMutex(h);
}

}  // namespace vq::platform
