#include "platform/NamedMutex.h"

#include <windows.h>

namespace vq::platform {

struct NamedMutex::Impl {
  std::wstring name;
  HANDLE h = nullptr;
};

NamedMutex::NamedMutex(const std::wstring& name) : impl_(new Impl) { impl_->name = name; }

// Kept for the life of the process, like every named object of the program.
NamedMutex::~NamedMutex() = default;

bool NamedMutex::Lock() {
  if (!impl_->h) impl_->h = CreateMutexW(nullptr, FALSE, impl_->name.c_str());
  if (!impl_->h) return false;
  DWORD r = WaitForSingleObject(impl_->h, INFINITE);
  // An abandoned mutex (its owner died while writing) is ours now; the entry it guarded is
  // whole or lost, never interleaved with ours.
  return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

void NamedMutex::Unlock() {
  if (impl_->h) ReleaseMutex(impl_->h);
}

}  // namespace vq::platform
