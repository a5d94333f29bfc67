#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "common/Text.h"

namespace vq::platform {

namespace {
// flock belongs to an open file description, so threads of one process sharing a name must
// first agree among themselves: one process mutex per name.
std::mutex& ProcessMutexFor(const std::wstring& name) {
  static std::mutex tableLock;
  static std::map<std::wstring, std::mutex>* table = new std::map<std::wstring, std::mutex>();
  std::lock_guard<std::mutex> g(tableLock);
  return (*table)[name];
}

std::string LockDir() {
  const char* r = getenv("XDG_RUNTIME_DIR");
  std::string base = (r && *r == '/') ? r : "/tmp";
  std::string dir = base + "/vq.lumen-" + std::to_string(getuid());
  mkdir(dir.c_str(), 0700);
  return dir;
}

std::string SafeName(const std::wstring& name) {
  std::string s = WideToUtf8(name);
  for (char& c : s)
    if (c == '/') c = '_';
  return s;
}
}  // namespace

struct NamedMutex::Impl {
  std::mutex* local = nullptr;
  std::string path;
  int fd = -1;
};

NamedMutex::NamedMutex(const std::wstring& name) : impl_(new Impl) {
  impl_->local = &ProcessMutexFor(name);
  impl_->path = LockDir() + "/" + SafeName(name) + ".lock";
}

NamedMutex::~NamedMutex() {
  if (impl_->fd >= 0) close(impl_->fd);
}

bool NamedMutex::Lock() {
  impl_->local->lock();
  if (impl_->fd < 0) impl_->fd = open(impl_->path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (impl_->fd >= 0) {
    while (flock(impl_->fd, LOCK_EX) != 0) {
    }
  }
  // Even without the lock file the threads of this process stay serialised.
  return true;
}

void NamedMutex::Unlock() {
  if (impl_->fd >= 0) flock(impl_->fd, LOCK_UN);
  impl_->local->unlock();
}

}  // namespace vq::platform
