// The file-system seam: everything the backup engine and the ZIP writer do to files goes through
// one interface, so tests can wrap the real one and make a write fail, a disk fill up, a file
// vanish or a rename fail at exactly the wrong moment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Calendar.h"
#include "platform/DirWatcher.h"  // the watcher once lived here; its users still include this
#include "platform/File.h"

namespace vq::platform {

// One open file. Reads distinguish the end of the file (0) from a failure (-1): a failed read
// must never pass for a short file.
class FileStream {
 public:
  virtual ~FileStream() = default;
  // Bytes read; 0 at the end; -1 when the read failed.
  virtual int64_t Read(void* buf, size_t n) = 0;
  // Bytes written (fewer than n, or 0, when the write failed or the disk is full).
  virtual size_t Write(const void* buf, size_t n) = 0;
  virtual bool SeekSet(uint64_t offset) = 0;
  virtual bool SeekEnd() { return false; }
  virtual bool Info(FileInfo* out) = 0;
  // Pushes what was written down to the disk (FlushFileBuffers / fsync). A file that is to
  // replace a good one is flushed first: after a power cut the rename may survive while data
  // still in the cache would not.
  virtual bool Flush() { return true; }
  // Closes the file and says whether the close succeeded: on a network share a delayed write
  // may fail only here. Further calls do nothing and return true.
  virtual bool Close() { return true; }
};

// One entry of a directory listing (never "." or "..").
struct DirEntry {
  std::wstring name;
  uint32_t attributes = 0;  // FileAttr bits
  uint64_t size = 0;
  UnixTime modified = 0;  // last write, seconds since 1970 UTC
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Read access, others may read too. Null on failure (LastError tells why).
  virtual std::unique_ptr<FileStream> OpenRead(const std::wstring& path) = 0;
  // Write access, no sharing; an existing file is truncated and replaced.
  virtual std::unique_ptr<FileStream> CreateAlways(const std::wstring& path) = 0;
  // A file that did not exist: fails when anything has the name already, a link (dangling or
  // not) included, so a name planted before the call never receives the bytes. Null on failure.
  virtual std::unique_ptr<FileStream> CreateNew(const std::wstring& path) = 0;
  // Read access to a regular file only, and not through a link or junction at the last step of
  // the path: what the destination holds may be planted, and a FIFO or a device there would
  // block the reader or never end. Null on failure.
  virtual std::unique_ptr<FileStream> OpenReadRegular(const std::wstring& path) = 0;

  // The entries of a directory in the order the platform lists them. False when the directory
  // cannot be listed (missing, not a directory, path too long).
  virtual bool List(const std::wstring& dir, std::vector<DirEntry>* out) = 0;
  // List, with each file's size and last-write time filled in too, so the walk can select
  // without a second look at every file. Windows lists them anyway; POSIX pays one fstatat per
  // file relative to the open folder, which is why plain List does not.
  virtual bool ListWithTimes(const std::wstring& dir, std::vector<DirEntry>* out) = 0;
  // A fresh look at one path: attributes, size and last-write time (the name is not filled in).
  // False when it does not exist (LastError tells why).
  virtual bool Stat(const std::wstring& path, DirEntry* out) = 0;
  virtual bool Exists(const std::wstring& path) = 0;
  virtual bool IsDirectory(const std::wstring& path) = 0;

  // Copies a file, replacing the target; the copy keeps the source's times and attributes.
  virtual bool Copy(const std::wstring& from, const std::wstring& to) = 0;
  // Moves a file over an existing one in one step (same volume), and does not return before the
  // move itself is on the disk (write-through on Windows; the folder is flushed on POSIX).
  virtual bool Rename(const std::wstring& from, const std::wstring& to) = 0;
  // Rename without waiting for the folder: the move is sure to be on the disk only once
  // FlushFolder of the target's folder has returned true. A power cut before then may undo the
  // move, never half do it. A pass moving many archives into one folder flushes it once for all.
  // Where the platform writes the move through at once (Windows), or a decorator does not say
  // otherwise, this is Rename.
  virtual bool RenameUnflushed(const std::wstring& from, const std::wstring& to) { return Rename(from, to); }
  // Pushes a folder's entries to the disk (true where there is nothing to push).
  virtual bool FlushFolder(const std::wstring& dir) {
    (void)dir;
    return true;
  }
  // Moves a file under a name nothing holds, failing (exists = true) when the name is taken
  // meanwhile: never replaces a file. As with RenameUnflushed, the move is sure to be on the disk
  // only once FlushFolder of the target's folder has returned true (Windows writes it through).
  virtual bool MoveNoReplace(const std::wstring& from, const std::wstring& to, bool* exists) = 0;
  // Sets a file's last-write time; the other times stay as they are.
  virtual bool SetLastWriteTime(const std::wstring& path, UnixTime t) = 0;
  // Removes a file, or a link to a file (never what it points to).
  virtual bool RemoveFile(const std::wstring& path) = 0;
  // Removes an empty directory, or a link to a directory (a junction or a symbolic link) without
  // touching the directory it points to.
  virtual bool RemoveDir(const std::wstring& path) = 0;
  // Creates the directory with all missing parents; an existing directory is success.
  virtual bool CreateDirectoryTree(const std::wstring& path) = 0;
  virtual bool GetAttributes(const std::wstring& path, uint32_t* out) = 0;
  virtual bool SetAttributes(const std::wstring& path, uint32_t attributes) = 0;

  // The system's error code of the calling thread's last failed call.
  virtual int LastError() = 0;
};

// The platform's own file system (one object for the life of the process).
FileSystem& RealFileSystem();
// The stream behind File::OpenAppendExclusive (see there); its errors go to RealFileSystem().
std::unique_ptr<FileStream> OpenAppendExclusiveStream(const std::wstring& path, bool* created);

// A decorator base: forwards every call to an inner file system. Tests derive from it and
// override only what they break.
class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& inner) : inner_(inner) {}
  std::unique_ptr<FileStream> OpenRead(const std::wstring& p) override { return inner_.OpenRead(p); }
  std::unique_ptr<FileStream> CreateAlways(const std::wstring& p) override { return inner_.CreateAlways(p); }
  std::unique_ptr<FileStream> CreateNew(const std::wstring& p) override { return inner_.CreateNew(p); }
  std::unique_ptr<FileStream> OpenReadRegular(const std::wstring& p) override { return inner_.OpenReadRegular(p); }
  bool List(const std::wstring& d, std::vector<DirEntry>* out) override { return inner_.List(d, out); }
  bool ListWithTimes(const std::wstring& d, std::vector<DirEntry>* out) override {
    return inner_.ListWithTimes(d, out);
  }
  bool Stat(const std::wstring& p, DirEntry* out) override { return inner_.Stat(p, out); }
  bool Exists(const std::wstring& p) override { return inner_.Exists(p); }
  bool IsDirectory(const std::wstring& p) override { return inner_.IsDirectory(p); }
  bool Copy(const std::wstring& f, const std::wstring& t) override { return inner_.Copy(f, t); }
  bool Rename(const std::wstring& f, const std::wstring& t) override { return inner_.Rename(f, t); }
  // RenameUnflushed is left to the base, which calls Rename: a decorator that breaks Rename
  // breaks both. The folder it does not flush is flushed by the inner file system.
  bool FlushFolder(const std::wstring& d) override { return inner_.FlushFolder(d); }
  bool MoveNoReplace(const std::wstring& f, const std::wstring& t, bool* exists) override {
    return inner_.MoveNoReplace(f, t, exists);
  }
  bool SetLastWriteTime(const std::wstring& p, UnixTime t) override { return inner_.SetLastWriteTime(p, t); }
  bool RemoveFile(const std::wstring& p) override { return inner_.RemoveFile(p); }
  bool RemoveDir(const std::wstring& p) override { return inner_.RemoveDir(p); }
  bool CreateDirectoryTree(const std::wstring& p) override { return inner_.CreateDirectoryTree(p); }
  bool GetAttributes(const std::wstring& p, uint32_t* out) override { return inner_.GetAttributes(p, out); }
  bool SetAttributes(const std::wstring& p, uint32_t a) override { return inner_.SetAttributes(p, a); }
  int LastError() override { return inner_.LastError(); }

 protected:
  FileSystem& inner_;
};

}  // namespace vq::platform
