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
thread_local int g_lastError = 0;

std::string Native(const std::wstring& p) { return WideToUtf8(p); }

bool BaseNameHidden(const std::wstring& path) {
  size_t end = path.size();
  while (end > 1 && path[end - 1] == L'/') --end;
  size_t slash = path.rfind(L'/', end - 1);
  size_t start = slash == std::wstring::npos ? 0 : slash + 1;
  return start < end && path[start] == L'.' && !(end - start == 1) && !(end - start == 2 && path[start + 1] == L'.');
}
}  // namespace

File::~File() { Close(); }
File::File(File&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
File& File::operator=(File&& o) noexcept {
  if (this != &o) {
    Close();
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

File File::OpenRead(const std::wstring& path) {
  File f;
  f.fd_ = ::open(Native(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (f.fd_ < 0) {
    g_lastError = errno;
    return f;
  }
  struct stat st;
  if (fstat(f.fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    // Windows refuses to open a directory as a file; so do we.
    g_lastError = EISDIR;
    f.Close();
  }
  return f;
}

File File::CreateAlways(const std::wstring& path) {
  File f;
  f.fd_ = ::open(Native(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (f.fd_ < 0) g_lastError = errno;
  return f;
}

File File::OpenAppendExclusive(const std::wstring& path, bool* created) {
  File f;
  std::string n = Native(path);
  bool made = false;
  int fd = ::open(n.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(n.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0)
      made = true;
    else if (errno == EEXIST)
      fd = ::open(n.c_str(), O_WRONLY | O_CLOEXEC);
  }
  if (fd < 0) {
    g_lastError = errno;
    return f;
  }
  // Stands in for "no sharing": a second writer that plays by the same rule is refused.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    g_lastError = errno;
    ::close(fd);
    return f;
  }
  f.fd_ = fd;
  if (created) *created = made;
  return f;
}

bool File::IsOpen() const { return fd_ >= 0; }

void File::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

size_t File::Read(void* buf, size_t n) {
  if (fd_ < 0) return 0;
  for (;;) {
    ssize_t r = ::read(fd_, buf, n);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      g_lastError = errno;
      return 0;
    }
    return static_cast<size_t>(r);
  }
}

size_t File::Write(const void* buf, size_t n) {
  if (fd_ < 0) return 0;
  // One call as the caller sees it; a short write of the kernel is continued, as WriteFile on a
  // disk file completes the whole request or fails.
  const char* p = static_cast<const char*>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::write(fd_, p + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      g_lastError = r < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(r);
  }
  return done;
}

bool File::SeekSet(uint64_t offset) {
  if (fd_ < 0) return false;
  return lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool File::SeekEnd() {
  if (fd_ < 0) return false;
  return lseek(fd_, 0, SEEK_END) >= 0;
}

static void FillInfo(const struct stat& st, const std::wstring* path, FileInfo* out) {
  uint32_t a = 0;
  if (S_ISDIR(st.st_mode)) a |= kAttrDirectory;
  if ((st.st_mode & S_IWUSR) == 0) a |= kAttrReadOnly;
  if (path && BaseNameHidden(*path)) a |= kAttrHidden;
  if (!S_ISDIR(st.st_mode)) a |= kAttrArchive;
  out->attributes = a;
  out->size = static_cast<uint64_t>(st.st_size);
  out->modified = st.st_mtime;
  out->accessed = st.st_atime;
  out->created = st.st_ctime;
}

bool File::Info(FileInfo* out) const {
  if (fd_ < 0) return false;
  struct stat st;
  if (fstat(fd_, &st) != 0) {
    g_lastError = errno;
    return false;
  }
  FillInfo(st, nullptr, out);
#ifdef __linux__
  // The descriptor knows no name; ask /proc for it so a dot-name counts as hidden.
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd_);
  char target[4096];
  ssize_t n = readlink(link, target, sizeof target - 1);
  if (n > 0) {
    target[n] = 0;
    std::wstring p = Utf8ToWide(target);
    if (BaseNameHidden(p)) out->attributes |= kAttrHidden;
  }
#endif
  return true;
}

int File::LastError() { return g_lastError; }

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
