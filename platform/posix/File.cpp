#include "platform/File.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "common/Text.h"

namespace vq::platform {

namespace {
std::string Native(const std::wstring& p) { return WideToUtf8(p); }
}  // namespace

bool WriteFileAtomically(const std::wstring& path, const std::string& data) {
  std::string n = Native(path);
  std::string tmp = n + ".tmp." + std::to_string(getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < data.size()) {
    ssize_t r = ::write(fd, data.data() + done, data.size() - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(r);
  }
  if (ok && fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && rename(tmp.c_str(), n.c_str()) != 0) ok = false;
  if (!ok) unlink(tmp.c_str());
  return ok;
}

bool PathExists(const std::wstring& path) {
  struct stat st;
  return stat(Native(path).c_str(), &st) == 0;
}

bool IsDirectory(const std::wstring& path) {
  struct stat st;
  return stat(Native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFilePath(const std::wstring& path) { return unlink(Native(path).c_str()) == 0; }

bool CreateDirectoryTree(const std::wstring& path) {
  std::string p = Native(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p.empty()) return false;
  struct stat st;
  if (stat(p.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  for (size_t i = 1; i <= p.size(); ++i) {
    if (i == p.size() || p[i] == '/') {
      std::string part = p.substr(0, i);
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace vq::platform
