// The directory watcher: one wait for changes below a directory, behind an interface so the
// change monitor can be driven by a test's watcher.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vq::platform {

// Waits for changes below one directory, the whole subtree. Windows: ReadDirectoryChangesW on
// the directory opened with backup semantics. POSIX: inotify with a watch per directory; new
// directories are watched as they appear and the files already inside them are reported.
class DirWatcher {
 public:
  virtual ~DirWatcher() = default;

  enum class Result { Changes, Overflow, Failed };
  struct Change {
    uint32_t action = 0;  // the platform's action code (Windows FILE_ACTION_*; POSIX: the same numbers)
    std::wstring name;    // relative to the watched directory, platform separators
  };
  // Blocks until changes come. Changes: *out holds at least one record. Overflow: changes were
  // lost (more than the buffer held). Failed: the wait itself failed (e.g. the directory went).
  virtual Result Wait(std::vector<Change>* out) = 0;

  // Null when the directory cannot be opened for watching (the platform's own watcher).
  static std::unique_ptr<DirWatcher> Open(const std::wstring& dir);
};

// Where the monitor gets its watchers: the platform's, or a test's that fails on purpose.
class DirWatchers {
 public:
  virtual ~DirWatchers() = default;
  // Null when the directory cannot be opened for watching.
  virtual std::unique_ptr<DirWatcher> Open(const std::wstring& dir) = 0;
};
DirWatchers& RealDirWatchers();

}  // namespace vq::platform
