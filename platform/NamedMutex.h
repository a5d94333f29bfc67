// A mutex known to every process of the user under its name. Windows: a named kernel mutex.
// POSIX: a process-local mutex plus flock on a lock file named after it in the per-user runtime
// directory.
#pragma once

#include <memory>
#include <string>

namespace vq::platform {

class NamedMutex {
 public:
  explicit NamedMutex(const std::wstring& name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Waits without time-out. Returns false only when the mutex could not be created at all;
  // the caller then goes on unguarded.
  bool Lock();
  void Unlock();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// POSIX: the folder of the lock files, base/vq.lumen-<uid> (base: the runtime directory, else
// /tmp), used only when it is a folder of this user that nobody else may write to; otherwise
// fallback (the configuration directory's "locks"), made private; "" when neither will do.
std::string ChooseLockDir(const std::string& base, const std::string& fallback);

class NamedMutexLock {
 public:
  explicit NamedMutexLock(NamedMutex& m) : m_(m), held_(m.Lock()) {}
  ~NamedMutexLock() {
    if (held_) m_.Unlock();
  }
  NamedMutexLock(const NamedMutexLock&) = delete;
  NamedMutexLock& operator=(const NamedMutexLock&) = delete;

 private:
  NamedMutex& m_;
  bool held_;
};

}  // namespace vq::platform
