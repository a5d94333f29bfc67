// A file system that breaks on purpose: it wraps the real one (or any other) and fails the n-th
// write, fills the disk after a number of bytes, fails reads of a file, makes a file vanish just
// before it is used, or refuses renames, copies and creations of chosen paths.
#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "platform/FileSystem.h"

namespace vqtest {

class FaultyFileSystem : public vq::platform::ForwardingFileSystem {
 public:
  explicit FaultyFileSystem(vq::platform::FileSystem& inner = vq::platform::RealFileSystem())
      : ForwardingFileSystem(inner) {}

  // The disk is full once this many more bytes have been written through streams made by
  // CreateAlways (each write then takes only what fits, later ones nothing); -1: no limit.
  std::atomic<int64_t> diskBytesLeft{-1};
  // The n-th write (1 = the next) through any created stream fails outright; 0: never.
  std::atomic<int> failNthWrite{0};
  // Flushes / closes of created streams fail (a delayed write that fails on a share).
  std::atomic<bool> failFlush{false}, failClose{false};
  // Reads of sources whose path contains this text fail after the first readOkBytes bytes.
  std::wstring failReadsOf;
  int64_t readOkBytes = 0;
  // Paths containing these texts cannot be created, copied to, renamed to or opened.
  std::set<std::wstring> refuseCreate, refuseCopyTo, refuseRenameTo, refuseOpen;
  // Listings leave out entries whose name contains this text (a file not there yet).
  std::wstring hideFromList;
  bool List(const std::wstring& d, std::vector<vq::platform::DirEntry>* out) override {
    return Hide(inner_.List(d, out), out);
  }
  bool ListWithTimes(const std::wstring& d, std::vector<vq::platform::DirEntry>* out) override {
    if (beforeListing) beforeListing(d);
    return Hide(inner_.ListWithTimes(d, out), out);
  }
  // Called with the folder just before the walk lists it: a test can act between two folders of
  // one pass (a reset typed while the pass runs).
  std::function<void(const std::wstring&)> beforeListing;
  bool Hide(bool listed, std::vector<vq::platform::DirEntry>* out) {
    if (!listed) return false;
    if (!hideFromList.empty())
      out->erase(std::remove_if(
                     out->begin(), out->end(),
                     [&](const vq::platform::DirEntry& e) { return e.name.find(hideFromList) != std::wstring::npos; }),
                 out->end());
    return true;
  }
  // Called with the path just before each Stat, Exists and OpenRead: a test can delete the file
  // there to make it vanish between the listing and its use.
  std::function<void(const std::wstring&)> beforeLookup;

  // Counters, so tests can say what happened.
  std::atomic<int> renames{0}, creates{0}, copies{0}, flushes{0};

  // Called with the path just before each creation: a test can plant a file or a link there.
  std::function<void(const std::wstring&)> beforeCreate;
  // Moves without replacing into paths containing one of these texts fail (not because the name
  // is taken); setting a last-write time fails.
  std::set<std::wstring> refuseMoveTo;
  std::atomic<bool> failSetTime{false};

  std::unique_ptr<vq::platform::FileStream> OpenRead(const std::wstring& p) override;
  std::unique_ptr<vq::platform::FileStream> OpenReadRegular(const std::wstring& p) override;
  std::unique_ptr<vq::platform::FileStream> CreateAlways(const std::wstring& p) override;
  std::unique_ptr<vq::platform::FileStream> CreateNew(const std::wstring& p) override;
  bool MoveNoReplace(const std::wstring& f, const std::wstring& t, bool* exists) override {
    renames++;
    if (Matches(refuseMoveTo, t)) {
      *exists = false;
      return false;
    }
    return inner_.MoveNoReplace(f, t, exists);
  }
  bool SetLastWriteTime(const std::wstring& p, vq::UnixTime t) override {
    if (failSetTime) return false;
    return inner_.SetLastWriteTime(p, t);
  }
  bool Stat(const std::wstring& p, vq::platform::DirEntry* out) override {
    if (beforeLookup) beforeLookup(p);
    return inner_.Stat(p, out);
  }
  bool Exists(const std::wstring& p) override {
    if (beforeLookup) beforeLookup(p);
    return inner_.Exists(p);
  }
  bool Copy(const std::wstring& f, const std::wstring& t) override {
    copies++;
    if (Matches(refuseCopyTo, t)) return false;
    return inner_.Copy(f, t);
  }
  bool Rename(const std::wstring& f, const std::wstring& t) override {
    renames++;
    if (Matches(refuseRenameTo, t)) return false;
    return inner_.Rename(f, t);
  }
  bool RenameUnflushed(const std::wstring& f, const std::wstring& t) override {
    renames++;
    if (Matches(refuseRenameTo, t)) return false;
    return inner_.RenameUnflushed(f, t);
  }
  // Flushes of folders whose path contains one of these texts fail (an I/O error).
  std::set<std::wstring> failFolderFlushOf;
  std::atomic<int> folderFlushes{0};
  bool FlushFolder(const std::wstring& d) override {
    folderFlushes++;
    if (Matches(failFolderFlushOf, d)) return false;
    return inner_.FlushFolder(d);
  }

  // One write through a created stream: applies failNthWrite and diskBytesLeft.
  size_t AllowedWrite(size_t n);

 private:
  static bool Matches(const std::set<std::wstring>& set, const std::wstring& path) {
    for (const auto& s : set)
      if (path.find(s) != std::wstring::npos) return true;
    return false;
  }
  std::unique_ptr<vq::platform::FileStream> Open(const std::wstring& p, bool regular);
  std::unique_ptr<vq::platform::FileStream> Create(const std::wstring& p, bool exclusive);
  std::mutex lock_;
};

}  // namespace vqtest
