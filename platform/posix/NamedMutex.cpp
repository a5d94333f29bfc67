#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "common/Text.h"
#include "platform/File.h"
#include "platform/Paths.h"

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

// Only a directory of this user that nobody else can write to: anybody may make the name in
// /tmp first, and a stranger's folder would let them hold our locks for ever or put links where
// our lock files go.
bool IsPrivateDirectory(const std::string& dir) {
  struct stat st;
  return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 022) == 0;
}

std::string LockDir() {
  const char* r = getenv("XDG_RUNTIME_DIR");
  return ChooseLockDir((r && *r == '/') ? r : "/tmp", WideToUtf8(ConfigDir()) + "locks");
}

std::string SafeName(const std::wstring& name) {
  std::string s = WideToUtf8(name);
  for (char& c : s)
    if (c == '/') c = '_';
  return s;
}
}  // namespace

std::string ChooseLockDir(const std::string& base, const std::string& fallback) {
  const std::string dir = base + "/vq.lumen-" + std::to_string(getuid());
  mkdir(dir.c_str(), 0700);
  if (IsPrivateDirectory(dir)) return dir;
  if (fallback.size() > 5) {  // more than "locks": a configuration directory is known
    CreateDirectoryTree(Utf8ToWide(fallback));
    chmod(fallback.c_str(), 0700);
    if (IsPrivateDirectory(fallback)) return fallback;
  }
  return "";
}

struct NamedMutex::Impl {
  std::mutex* local = nullptr;
  std::string path;
  int fd = -1;
};

NamedMutex::NamedMutex(const std::wstring& name) : impl_(new Impl) {
  impl_->local = &ProcessMutexFor(name);
  // Without a private folder the threads of this process are still serialised.
  const std::string dir = LockDir();
  if (!dir.empty()) impl_->path = dir + "/" + SafeName(name) + ".lock";
}

NamedMutex::~NamedMutex() {
  if (impl_->fd >= 0) close(impl_->fd);
}

bool NamedMutex::Lock() {
  impl_->local->lock();
  if (impl_->fd < 0 && !impl_->path.empty())
    impl_->fd = open(impl_->path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
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
