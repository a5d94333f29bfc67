#include "platform/Instance.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "common/Text.h"
#include "platform/File.h"
#include "platform/Paths.h"
#include "platform/Process.h"

namespace vq::platform {

namespace {
std::atomic<int> g_showRequests{0};
int g_lockFd = -1;

void OnShowSignal(int) { g_showRequests.fetch_add(1); }

std::string LockPath() {
  std::wstring dir = ConfigDir();
  if (dir.empty()) return "";
  return WideToUtf8(dir) + "instance.pid";
}
}  // namespace

bool HandOverToRunningInstance() {
  std::string path = LockPath();
  if (path.empty()) return false;
  // Open without creating: a second start must not leave anything behind.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  if (flock(fd, LOCK_SH | LOCK_NB) == 0 || errno != EWOULDBLOCK) {
    // A stale file nobody holds, or a file system without locks: no running instance can be
    // told apart there, and leaving silently would mean never running at all.
    close(fd);
    return false;
  }
  char buf[32] = {0};
  ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
  close(fd);
  if (n > 0) {
    // The holder writes its pid just after taking the lock; until then the file may still name
    // a process long gone whose id now belongs to something else, which SIGUSR1 would kill.
    long pid = strtol(buf, nullptr, 10);
    if (pid > 0 && IsProcessOfThisProgram(static_cast<uint32_t>(pid))) kill(static_cast<pid_t>(pid), SIGUSR1);
  }
  return true;
}

InstanceMark MarkRunningInstance(void*) {
  std::wstring dir = ConfigDir();
  if (dir.empty() || !CreateDirectoryTree(dir)) return InstanceMark::Failed;
  std::string path = LockPath();
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return InstanceMark::Failed;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // Only a lock that another process holds is a running instance.
    const bool held = errno == EWOULDBLOCK;
    close(fd);
    return held ? InstanceMark::TakenByOther : InstanceMark::Failed;
  }
  struct sigaction sa = {};
  sa.sa_handler = OnShowSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGUSR1, &sa, nullptr);
  std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    // The lock is what counts; the pid only lets a second start signal us.
  }
  g_lockFd = fd;  // held for the life of the process
  return InstanceMark::Marked;
}

bool TakeShowRequest() {
  int n = g_showRequests.load();
  while (n > 0) {
    if (g_showRequests.compare_exchange_weak(n, 0)) return true;
  }
  return false;
}

}  // namespace vq::platform
