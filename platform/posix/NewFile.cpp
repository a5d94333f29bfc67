#include "platform/NewFile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/Text.h"

namespace vq::platform {

bool MoveNoReplace(const std::wstring& from, const std::wstring& to, bool* exists) {
  *exists = false;
  const std::string f = WideToUtf8(from), t = WideToUtf8(to);
#ifdef RENAME_NOREPLACE
  if (renameat2(AT_FDCWD, f.c_str(), AT_FDCWD, t.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) {
    *exists = true;
    return false;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
  // File systems without the flag: a hard link fails on an existing name just as well.
  if (link(f.c_str(), t.c_str()) != 0) {
    *exists = errno == EEXIST;
    return false;
  }
  unlink(f.c_str());
  return true;
}

bool SetLastWriteTime(const std::wstring& path, UnixTime t) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = time_t(t);
  times[1].tv_nsec = 0;
  return utimensat(AT_FDCWD, WideToUtf8(path).c_str(), times, 0) == 0;
}

}  // namespace vq::platform
