#include "platform/Thread.h"

#include <pthread.h>

#include <memory>

namespace vq::platform {

namespace {
void* Trampoline(void* p) {
  std::unique_ptr<std::function<void()>> fn(static_cast<std::function<void()>*>(p));
  (*fn)();
  return nullptr;
}
}  // namespace

bool StartThread(std::function<void()> fn, size_t stackSize) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stackSize > 0) pthread_attr_setstacksize(&attr, stackSize < 65536 ? 65536 : stackSize);
  auto* heap = new std::function<void()>(std::move(fn));
  pthread_t t;
  int rc = pthread_create(&t, &attr, Trampoline, heap);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete heap;
    return false;
  }
  return true;
}

}  // namespace vq::platform
