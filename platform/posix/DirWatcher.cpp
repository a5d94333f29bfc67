// inotify watches one directory, not a tree: every directory below the root gets a watch of its
// own, and a directory that appears later is watched as soon as its creation is read. Files made
// in it before its watch existed are found by listing it and reported as additions.
#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <map>

#include "common/Text.h"
#include "platform/DirWatcher.h"

namespace vq::platform {

namespace {

// The Windows action codes, so the monitor's debug lines read the same on both builds.
constexpr uint32_t kActionAdded = 1;
constexpr uint32_t kActionRemoved = 2;
constexpr uint32_t kActionModified = 3;
constexpr uint32_t kActionRenamedOld = 4;
constexpr uint32_t kActionRenamedNew = 5;

constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM |
                           IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

class InotifyWatcher : public DirWatcher {
 public:
  InotifyWatcher(int fd, std::string root) : fd_(fd), root_(std::move(root)) {}
  ~InotifyWatcher() override { close(fd_); }

  bool Start() {
    int wd = inotify_add_watch(fd_, root_.c_str(), kMask);
    if (wd < 0) return false;
    rootWd_ = wd;
    dirs_[wd] = "";
    AddTree("", nullptr);
    return true;
  }

  Result Wait(std::vector<Change>* out) override {
    out->clear();
    if (rootGone_) return Result::Failed;
    while (pending_.empty()) {
      alignas(struct inotify_event) char buf[16384];
      ssize_t n = read(fd_, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Result::Failed;
      bool overflow = false;
      for (char* p = buf; p < buf + n;) {
        auto* ev = reinterpret_cast<struct inotify_event*>(p);
        p += sizeof(struct inotify_event) + ev->len;
        if (ev->mask & IN_Q_OVERFLOW) {
          overflow = true;
          continue;
        }
        Handle(*ev);
      }
      if (overflow) {
        // Creations of directories may be among the lost events: watch every directory again
        // (a watch that exists is kept as it is), or changes inside them would go unseen.
        pending_.clear();
        AddTree("", nullptr);
        return Result::Overflow;
      }
      if (rootGone_ && pending_.empty()) return Result::Failed;
    }
    out->assign(pending_.begin(), pending_.end());
    pending_.clear();
    return Result::Changes;
  }

 private:
  void Handle(const struct inotify_event& ev) {
    if (ev.mask & IN_IGNORED) {
      if (ev.wd == rootWd_) rootGone_ = true;
      dirs_.erase(ev.wd);
      return;
    }
    if (ev.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
      if (ev.wd == rootWd_) rootGone_ = true;
      return;
    }
    auto it = dirs_.find(ev.wd);
    if (it == dirs_.end() || ev.len == 0) return;
    std::string rel = it->second.empty() ? std::string(ev.name) : it->second + "/" + ev.name;
    uint32_t action = kActionModified;
    if (ev.mask & IN_CREATE) action = kActionAdded;
    if (ev.mask & IN_DELETE) action = kActionRemoved;
    if (ev.mask & IN_MOVED_FROM) action = kActionRenamedOld;
    if (ev.mask & IN_MOVED_TO) action = kActionRenamedNew;
    Push(action, rel);
    if ((ev.mask & IN_ISDIR) && (ev.mask & (IN_CREATE | IN_MOVED_TO))) {
      int wd = inotify_add_watch(fd_, (root_ + "/" + rel).c_str(), kMask);
      if (wd >= 0) {
        dirs_[wd] = rel;
        AddTree(rel, &pending_);
      }
    }
  }

  void Push(uint32_t action, const std::string& rel) {
    Change c;
    c.action = action;
    c.name = Utf8ToWide(rel);
    pending_.push_back(std::move(c));
  }

  // Watches every directory below rel; when found is given, the files met on the way are
  // reported as additions (they may have been written before the watch existed).
  void AddTree(const std::string& rel, std::deque<Change>* found) {
    std::string full = rel.empty() ? root_ : root_ + "/" + rel;
    DIR* d = opendir(full.c_str());
    if (!d) return;
    std::vector<std::pair<std::string, bool>> entries;
    while (struct dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      bool isDir = e->d_type == DT_DIR;
      if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
        struct stat st;
        isDir = stat((full + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      }
      entries.emplace_back(name, isDir);
    }
    closedir(d);
    for (const auto& [name, isDir] : entries) {
      std::string child = rel.empty() ? name : rel + "/" + name;
      if (isDir) {
        int wd = inotify_add_watch(fd_, (root_ + "/" + child).c_str(), kMask);
        if (wd < 0) continue;
        dirs_[wd] = child;
        AddTree(child, found);
      } else if (found) {
        Push(kActionAdded, child);
      }
    }
  }

  int fd_;
  std::string root_;
  int rootWd_ = -1;
  bool rootGone_ = false;
  std::map<int, std::string> dirs_;  // watch descriptor -> path relative to the root
  std::deque<Change> pending_;
};

class RealWatchers : public DirWatchers {
 public:
  std::unique_ptr<DirWatcher> Open(const std::wstring& dir) override { return DirWatcher::Open(dir); }
};

}  // namespace

DirWatchers& RealDirWatchers() {
  static DirWatchers* w = new RealWatchers();
  return *w;
}

std::unique_ptr<DirWatcher> DirWatcher::Open(const std::wstring& dir) {
  std::string root = WideToUtf8(dir);
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  struct stat st;
  if (root.empty() || stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
  int fd = inotify_init1(IN_CLOEXEC);
  if (fd < 0) return nullptr;
  auto w = std::make_unique<InotifyWatcher>(fd, root);
  if (!w->Start()) return nullptr;
  return w;
}

}  // namespace vq::platform
