#include "platform/FileSystem.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

#include "common/Text.h"
#include "platform/NewFile.h"

namespace vq::platform {

namespace {
thread_local int g_error = 0;

std::string Native(const std::wstring& p) { return WideToUtf8(p); }

int Fail() {
  g_error = errno;
  return 0;
}

bool FlushNativeFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail();
  bool ok = fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot flush a folder
  if (!ok) Fail();
  ::close(fd);
  return ok;
}

bool HiddenName(std::string_view name) { return !name.empty() && name[0] == '.'; }

uint32_t AttributesOf(const struct stat& st, bool hidden) {
  uint32_t a = 0;
  if (S_ISDIR(st.st_mode))
    a |= kAttrDirectory;
  else
    a |= kAttrArchive;
  if ((st.st_mode & S_IWUSR) == 0) a |= kAttrReadOnly;
  if (hidden) a |= kAttrHidden;
  return a;
}

std::string BaseName(const std::string& p) {
  size_t end = p.size();
  while (end > 1 && p[end - 1] == '/') --end;
  size_t slash = p.rfind('/', end - 1);
  return p.substr(slash == std::string::npos ? 0 : slash + 1, end - (slash == std::string::npos ? 0 : slash + 1));
}

class PosixStream : public FileStream {
 public:
  explicit PosixStream(int fd) : fd_(fd) {}
  ~PosixStream() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool Flush() override {
    if (fd_ < 0) return true;
    if (fsync(fd_) != 0) return Fail();
    return true;
  }

  bool Close() override {
    if (fd_ < 0) return true;
    int fd = fd_;
    fd_ = -1;
    // The descriptor is gone whatever close says; EINTR must not lead to a second close.
    if (::close(fd) != 0 && errno != EINTR) return Fail();
    return true;
  }

  int64_t Read(void* buf, size_t n) override {
    for (;;) {
      ssize_t r = ::read(fd_, buf, n);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        g_error = errno;
        return -1;
      }
      return r;
    }
  }

  size_t Write(const void* buf, size_t n) override {
    const char* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::write(fd_, p + done, n - done);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        g_error = r < 0 ? errno : ENOSPC;
        break;
      }
      done += size_t(r);
    }
    return done;
  }

  bool SeekSet(uint64_t offset) override { return lseek(fd_, off_t(offset), SEEK_SET) >= 0 || Fail(); }
  bool SeekEnd() override { return lseek(fd_, 0, SEEK_END) >= 0 || Fail(); }

  bool Info(FileInfo* out) override {
    struct stat st;
    if (fstat(fd_, &st) != 0) return Fail();
    bool hidden = false;
#ifdef __linux__
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd_);
    char target[4096];
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n > 0) hidden = HiddenName(BaseName(std::string(target, size_t(n))));
#endif
    out->attributes = AttributesOf(st, hidden);
    out->size = uint64_t(st.st_size);
    out->modified = st.st_mtime;
    out->accessed = st.st_atime;
    out->created = st.st_ctime;
    return true;
  }

 private:
  int fd_;
};

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<FileStream> OpenRead(const std::wstring& path) override {
    int fd = ::open(Native(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      Fail();
      return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      // Windows refuses to open a directory as a file; so do we.
      ::close(fd);
      g_error = EISDIR;
      return nullptr;
    }
    return std::make_unique<PosixStream>(fd);
  }

  std::unique_ptr<FileStream> CreateNew(const std::wstring& path) override {
    // O_EXCL refuses any existing name, a link included, and never follows one.
    int fd = ::open(Native(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
      Fail();
      return nullptr;
    }
    return std::make_unique<PosixStream>(fd);
  }

  std::unique_ptr<FileStream> OpenReadRegular(const std::wstring& path) override {
    // Non-blocking, so that opening a FIFO returns at once; the mode is then checked on the
    // descriptor itself, and reads block again as usual.
    int fd = ::open(Native(path).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      Fail();
      return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      g_error = errno && !S_ISREG(st.st_mode) ? EINVAL : errno;
      ::close(fd);
      return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return std::make_unique<PosixStream>(fd);
  }

  std::unique_ptr<FileStream> CreateAlways(const std::wstring& path) override {
    int fd = ::open(Native(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      Fail();
      return nullptr;
    }
    return std::make_unique<PosixStream>(fd);
  }

  bool List(const std::wstring& dir, std::vector<DirEntry>* out) override { return ListDir(dir, out, false); }
  bool ListWithTimes(const std::wstring& dir, std::vector<DirEntry>* out) override { return ListDir(dir, out, true); }

  // The entries are filled in place: a walk that lists folder after folder into the same vector
  // keeps the names' storage and allocates nothing per file once it is warm.
  static bool ListDir(const std::wstring& dir, std::vector<DirEntry>* out, bool times) {
    std::string d = Native(dir);
    DIR* h = opendir(d.empty() ? "." : d.c_str());
    if (!h) {
      out->clear();
      return Fail();
    }
    int dfd = dirfd(h);
    size_t n = 0;
    for (;;) {
      errno = 0;
      struct dirent* e = readdir(h);
      if (!e) break;
      const char* name = e->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      const bool hidden = HiddenName(name);
      uint32_t attributes = 0;
      uint64_t size = 0;
      UnixTime modified = 0;
      struct stat st;
      if (e->d_type == DT_DIR) {
        attributes = kAttrDirectory | (hidden ? uint32_t(kAttrHidden) : 0u);
      } else if (e->d_type == DT_REG && !times) {
        attributes = kAttrArchive | (hidden ? uint32_t(kAttrHidden) : 0u);
      } else if (e->d_type == DT_REG) {
        if (fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone
        attributes = AttributesOf(st, hidden);
        size = uint64_t(st.st_size);
        modified = st.st_mtime;
      } else {
        // Unknown kinds and links: a link is listed with its target's kind and the reparse bit,
        // as Windows lists a junction, so the walk may follow it while cleaning never does.
        bool link = e->d_type == DT_LNK;
        if (e->d_type == DT_UNKNOWN) {
          if (fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
          link = S_ISLNK(st.st_mode);
        }
        if (fstatat(dfd, name, &st, 0) != 0) {
          if (!link) continue;  // gone
          // A dangling link is still an entry that cleaning must be able to remove.
          attributes = kAttrArchive | kAttrReparsePoint | (hidden ? uint32_t(kAttrHidden) : 0u);
        } else {
          if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) continue;
          attributes = AttributesOf(st, hidden) | (link ? uint32_t(kAttrReparsePoint) : 0u);
          size = uint64_t(st.st_size);
          modified = st.st_mtime;
        }
      }
      if (n == out->size()) out->emplace_back();
      DirEntry& de = (*out)[n++];
      Utf8ToWideInto(name, &de.name);
      de.attributes = attributes;
      de.size = size;
      de.modified = modified;
    }
    closedir(h);
    out->resize(n);
    return true;
  }

  bool Stat(const std::wstring& path, DirEntry* out) override {
    std::string p = Native(path);
    struct stat st;
    if (stat(p.c_str(), &st) != 0) return Fail();
    out->attributes = AttributesOf(st, HiddenName(BaseName(p)));
    out->size = uint64_t(st.st_size);
    out->modified = st.st_mtime;
    return true;
  }

  bool Exists(const std::wstring& path) override {
    struct stat st;
    if (stat(Native(path).c_str(), &st) != 0) return Fail();
    return true;
  }

  bool IsDirectory(const std::wstring& path) override {
    struct stat st;
    if (stat(Native(path).c_str(), &st) != 0) return Fail();
    return S_ISDIR(st.st_mode);
  }

  bool Copy(const std::wstring& from, const std::wstring& to) override {
    int in = ::open(Native(from).c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return Fail();
    struct stat st;
    if (fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
      g_error = errno ? errno : EISDIR;
      ::close(in);
      return false;
    }
    std::string target = Native(to);
    // A read-only target would refuse the truncating open; replace it instead.
    unlink(target.c_str());
    int outFd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (outFd < 0) {
      Fail();
      ::close(in);
      return false;
    }
    bool ok = true;
    std::vector<char> buf(1 << 16);
    for (;;) {
      ssize_t r = ::read(in, buf.data(), buf.size());
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        ok = Fail();
        break;
      }
      if (r == 0) break;
      ssize_t done = 0;
      while (done < r) {
        ssize_t w = ::write(outFd, buf.data() + done, size_t(r - done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
          g_error = w < 0 ? errno : ENOSPC;
          ok = false;
          break;
        }
        done += w;
      }
      if (!ok) break;
    }
    if (ok) {
      struct timespec times[2] = {st.st_atim, st.st_mtim};
      futimens(outFd, times);
      fchmod(outFd, st.st_mode & 07777);
    }
    if (::close(outFd) != 0 && ok) ok = Fail();
    ::close(in);
    if (!ok) unlink(target.c_str());
    return ok;
  }

  bool Rename(const std::wstring& from, const std::wstring& to) override {
    if (!RenameUnflushed(from, to)) return false;
    // The new name is an entry of the folder: it is durable only once the folder is flushed.
    std::string target = Native(to);
    size_t slash = target.rfind('/');
    return FlushNativeFolder(slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash));
  }

  bool RenameUnflushed(const std::wstring& from, const std::wstring& to) override {
    if (rename(Native(from).c_str(), Native(to).c_str()) != 0) return Fail();
    return true;
  }

  bool FlushFolder(const std::wstring& dir) override {
    std::string p = Native(dir);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return FlushNativeFolder(p.empty() ? "." : p);
  }

  bool MoveNoReplace(const std::wstring& from, const std::wstring& to, bool* exists) override {
    // The folder is flushed by the caller (FlushFolder), which can then tell a move that did not
    // happen from one that may not survive a power cut.
    return platform::MoveNoReplace(from, to, exists) || Fail();
  }

  bool SetLastWriteTime(const std::wstring& path, UnixTime t) override {
    return platform::SetLastWriteTime(path, t) || Fail();
  }

  bool RemoveFile(const std::wstring& path) override {
    if (unlink(Native(path).c_str()) != 0) return Fail();
    return true;
  }

  bool RemoveDir(const std::wstring& path) override {
    std::string p = Native(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    struct stat st;
    // A link to a directory is removed as the link: rmdir refuses it, and nothing may follow it.
    if (lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      if (unlink(p.c_str()) != 0) return Fail();
      return true;
    }
    if (rmdir(p.c_str()) != 0) return Fail();
    return true;
  }

  bool CreateDirectoryTree(const std::wstring& path) override { return platform::CreateDirectoryTree(path); }

  bool GetAttributes(const std::wstring& path, uint32_t* out) override {
    std::string p = Native(path);
    struct stat st;
    if (stat(p.c_str(), &st) != 0) return Fail();
    *out = AttributesOf(st, HiddenName(BaseName(p)));
    return true;
  }

  bool SetAttributes(const std::wstring& path, uint32_t attributes) override {
    // Only the read-only bit has a POSIX meaning: the owner's write permission.
    std::string p = Native(path);
    struct stat st;
    if (stat(p.c_str(), &st) != 0) return Fail();
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & kAttrReadOnly) ? (mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    if (chmod(p.c_str(), mode) != 0) return Fail();
    return true;
  }

  int LastError() override { return g_error; }
};

}  // namespace

std::unique_ptr<FileStream> OpenAppendExclusiveStream(const std::wstring& path, bool* created) {
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
    Fail();
    return nullptr;
  }
  // Stands in for "no sharing": a second writer that plays by the same rule is refused.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    Fail();
    ::close(fd);
    return nullptr;
  }
  if (created) *created = made;
  return std::make_unique<PosixStream>(fd);
}

FileSystem& RealFileSystem() {
  // Never destroyed: worker threads may still use it while the process ends.
  static FileSystem* fs = new PosixFileSystem();
  return *fs;
}

}  // namespace vq::platform
