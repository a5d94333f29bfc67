// The file-system seam and the directory watcher on the real file system of each platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/LongPath.h"
#include "platform/Paths.h"
#include "tests/support/TestSupport.h"

using namespace vq;
using namespace vq::platform;

namespace {

void Put(const std::wstring& path, const std::string& data) {
  auto s = RealFileSystem().CreateAlways(path);
  ASSERT_TRUE(s);
  ASSERT_EQ(s->Write(data.data(), data.size()), data.size());
}

std::vector<std::wstring> Names(const std::vector<DirEntry>& v) {
  std::vector<std::wstring> n;
  for (const auto& e : v) n.push_back(e.name);
  std::sort(n.begin(), n.end());
  return n;
}

}  // namespace

TEST(FileSystemSeam, ListStatCopyRenameAndDelete) {
  FileSystem& fs = RealFileSystem();
  std::wstring dir = vqtest::MakeScratchDir(L"fs");
  wchar_t sep = PathSeparator();
  Put(dir + L"a.txt", "hello");
  ASSERT_TRUE(fs.CreateDirectoryTree(dir + L"sub" + sep + L"deeper" + sep));

  std::vector<DirEntry> entries;
  ASSERT_TRUE(fs.List(dir, &entries));
  EXPECT_EQ(Names(entries), (std::vector<std::wstring>{L"a.txt", L"sub"})) << "no . or ..";
  for (const auto& e : entries) EXPECT_EQ((e.attributes & kAttrDirectory) != 0, e.name == L"sub") << WideToUtf8(e.name);
  EXPECT_FALSE(fs.List(dir + L"missing", &entries));

  DirEntry st;
  ASSERT_TRUE(fs.Stat(dir + L"a.txt", &st));
  EXPECT_EQ(st.size, 5u);
  EXPECT_GT(st.modified, 1500000000);
  EXPECT_FALSE(fs.Stat(dir + L"none.txt", &st));
  EXPECT_NE(fs.LastError(), 0);

  // The copy keeps the source's last-write time (the archive's entry carries it) and replaces a
  // read-only target.
  Put(dir + L"b.txt", "old");
  uint32_t attrs = 0;
  ASSERT_TRUE(fs.GetAttributes(dir + L"b.txt", &attrs));
  ASSERT_TRUE(fs.SetAttributes(dir + L"b.txt", attrs | kAttrReadOnly));
  ASSERT_TRUE(fs.Copy(dir + L"a.txt", dir + L"c.txt"));
  DirEntry copy;
  ASSERT_TRUE(fs.Stat(dir + L"c.txt", &copy));
  EXPECT_EQ(copy.modified, st.modified);
  EXPECT_EQ(vqtest::ReadAll(dir + L"c.txt"), "hello");

  // Rename replaces an existing target in one step.
  Put(dir + L"d.txt", "replacement");
  ASSERT_TRUE(fs.Rename(dir + L"d.txt", dir + L"c.txt"));
  EXPECT_EQ(vqtest::ReadAll(dir + L"c.txt"), "replacement");
  EXPECT_FALSE(fs.Exists(dir + L"d.txt"));

  ASSERT_TRUE(fs.SetAttributes(dir + L"b.txt", attrs & ~uint32_t(kAttrReadOnly)));
  EXPECT_TRUE(fs.RemoveFile(dir + L"b.txt"));
  EXPECT_FALSE(fs.RemoveFile(dir + L"b.txt"));
  EXPECT_FALSE(fs.RemoveDir(dir + L"sub")) << "not empty";
  EXPECT_TRUE(fs.RemoveDir(dir + L"sub" + sep + L"deeper"));
  EXPECT_TRUE(fs.IsDirectory(dir + L"sub"));
  EXPECT_FALSE(fs.IsDirectory(dir + L"a.txt"));
}

TEST(FileSystemSeam, ReadsTellTheEndFromAFailure) {
  FileSystem& fs = RealFileSystem();
  std::wstring dir = vqtest::MakeScratchDir(L"fs");
  Put(dir + L"x.bin", std::string(10, 'x'));
  auto r = fs.OpenRead(dir + L"x.bin");
  ASSERT_TRUE(r);
  char buf[64];
  EXPECT_EQ(r->Read(buf, sizeof buf), 10);
  EXPECT_EQ(r->Read(buf, sizeof buf), 0) << "the end is 0, not a failure";
  // A stream opened for writing only cannot be read: that is a failure, -1.
  auto w = fs.CreateAlways(dir + L"y.bin");
  ASSERT_TRUE(w);
  EXPECT_EQ(w->Read(buf, sizeof buf), -1);
  EXPECT_FALSE(fs.OpenRead(dir)) << "a directory is not a file";
}

// The watcher reports a file saved directly in the watched directory and, where the platform
// reports deeper changes (natively; wine reports only direct entries), a file saved in a
// directory made after the watch started, also when the directory was made, with the file in it,
// before the watcher read the directory's creation.
TEST(FileSystemSeam, WatcherSeesNewFilesAlsoInNewSubdirectories) {
  std::wstring dir = vqtest::MakeScratchDir(L"watch");
  wchar_t sep = PathSeparator();
  auto w = DirWatcher::Open(dir);
  ASSERT_TRUE(w);
  std::wstring rel = std::wstring(L"new") + sep + L"deeper" + sep;
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(dir + rel));
  Put(dir + rel + L"early.txt", "1");

  std::atomic<bool> done{false};
  std::vector<std::wstring> seen;
  std::thread t([&] {
    std::vector<DirWatcher::Change> changes;
    while (!done.load()) {
      if (w->Wait(&changes) != DirWatcher::Result::Changes) continue;
      for (const auto& c : changes) {
        seen.push_back(c.name);
        if (c.name == L"last.txt") done = true;
      }
    }
  });
  SleepMs(200);
  Put(dir + rel + L"late.txt", "2");
  SleepMs(500);
  Put(dir + L"last.txt", "3");  // directly in the watched directory: every platform reports it
  for (int i = 0; i < 100 && !done.load(); ++i) SleepMs(100);
  if (!done.load()) {
    done = true;
    Put(dir + L"last.txt", "4");  // wakes a wait that missed the first one
  }
  t.join();
  auto has = [&](const std::wstring& name) { return std::find(seen.begin(), seen.end(), name) != seen.end(); };
  EXPECT_TRUE(has(L"last.txt"));
#ifndef _WIN32
  EXPECT_TRUE(has(rel + L"early.txt")) << "a file already inside a new directory";
  EXPECT_TRUE(has(rel + L"late.txt")) << "a file saved later in the new directory";
#endif
}

// The long-path form the Windows seam gives every path: drives and shares get their prefixes,
// and what the system would otherwise have tidied ("/", ".", "..", doubled separators) is tidied
// first, because behind the prefix it is taken literally.
TEST(LongPath, FormsOfDrivesSharesAndWhatStaysAsItIs) {
  struct Case {
    const wchar_t *in, *out;
  } cases[] = {
      {L"C:\\data\\a.txt", L"\\\\?\\C:\\data\\a.txt"},
      {L"d:/vq.l/mList/", L"\\\\?\\d:\\vq.l\\mList\\"},
      {L"C:\\", L"\\\\?\\C:\\"},
      {L"C:\\a\\\\b\\.\\c\\..\\d.txt", L"\\\\?\\C:\\a\\b\\d.txt"},
      {L"C:\\..\\x", L"\\\\?\\C:\\x"},
      {L"\\\\server\\share\\dir\\f.zip", L"\\\\?\\UNC\\server\\share\\dir\\f.zip"},
      {L"\\\\server\\share\\", L"\\\\?\\UNC\\server\\share\\"},
      {L"//nas/backup/vq.l/", L"\\\\?\\UNC\\nas\\backup\\vq.l\\"},
      {L"\\\\?\\C:\\already", L"\\\\?\\C:\\already"},
      {L"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x"},
      {L"relative\\name.txt", L"relative\\name.txt"},
      {L"\\\\\\bad", L"\\\\\\bad"},
      {L"", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(LongPathForm(c.in), c.out) << WideToUtf8(c.in);
}

// Closing reports its result once; a second close and a flush after it are harmless.
TEST(FileSystemSeam, FlushAndCloseOfAWrittenFile) {
  std::wstring dir = vqtest::MakeScratchDir(L"close");
  auto w = RealFileSystem().CreateAlways(dir + L"f.bin");
  ASSERT_TRUE(w);
  ASSERT_EQ(w->Write("abc", 3), 3u);
  EXPECT_TRUE(w->Flush());
  EXPECT_TRUE(w->Close());
  EXPECT_TRUE(w->Close());
  EXPECT_TRUE(w->Flush());
  w.reset();
  EXPECT_EQ(vqtest::ReadAll(dir + L"f.bin"), "abc");
  // The move into place flushes the folder too; it still replaces the target in one step.
  Put(dir + L"g.bin", "new");
  EXPECT_TRUE(RealFileSystem().Rename(dir + L"g.bin", dir + L"f.bin"));
  EXPECT_EQ(vqtest::ReadAll(dir + L"f.bin"), "new");
}

#ifndef _WIN32
// Events lost in a queue overflow may include the creation of a directory; the watcher watches
// the tree again, so a file saved later in that directory is still seen.
TEST(FileSystemSeam, AfterAnOverflowNewDirectoriesAreWatched) {
  std::string limit;
  ASSERT_TRUE(ReadWholeFile(L"/proc/sys/fs/inotify/max_queued_events", &limit));
  const int maxEvents = std::atoi(limit.c_str());
  if (maxEvents <= 0 || maxEvents > 200000) GTEST_SKIP() << "queue limit " << maxEvents;
  std::wstring dir = vqtest::MakeScratchDir(L"overflow");
  auto w = DirWatcher::Open(dir);
  ASSERT_TRUE(w);
  // Each new empty file makes at least two events (creation, close after write).
  for (int i = 0; i < maxEvents / 2 + 100; ++i) Put(dir + L"f" + std::to_wstring(i) + L".txt", "");
  ASSERT_TRUE(RealFileSystem().CreateDirectoryTree(dir + L"made-while-lost/"));
  std::vector<DirWatcher::Change> changes;
  // The events before the overflow come first, a buffer at a time.
  bool overflow = false;
  for (int i = 0; i < maxEvents && !overflow; ++i) overflow = w->Wait(&changes) == DirWatcher::Result::Overflow;
  ASSERT_TRUE(overflow);
  Put(dir + L"made-while-lost/late.txt", "x");
  Put(dir + L"wake.txt", "x");  // seen in any case, so a missed file cannot block the wait
  bool seen = false, woken = false;
  for (int i = 0; i < 5 && !woken; ++i) {
    if (w->Wait(&changes) != DirWatcher::Result::Changes) continue;
    for (const auto& c : changes) {
      seen = seen || c.name == L"made-while-lost/late.txt";
      woken = woken || c.name == L"wake.txt";
    }
  }
  EXPECT_TRUE(seen);
}
#endif

#ifdef _WIN32
// More changes between two waits than the 1024-byte buffer holds: wine tells it as a failed call
// (ERROR_NOTIFY_ENUM_DIR), Windows as an empty success. Either is an overflow of a watch that still
// works: the next change is reported on the same handle.
TEST(FileSystemSeam, AnOverflowedBufferIsAnOverflowNotAFailure) {
  std::wstring dir = vqtest::MakeScratchDir(L"overflow");
  auto w = DirWatcher::Open(dir);
  ASSERT_TRUE(w);
  std::thread later([&] {
    SleepMs(300);
    Put(dir + L"first.txt", "1");
  });
  std::vector<DirWatcher::Change> changes;
  DirWatcher::Result first = w->Wait(&changes);  // the first wait is what starts the collecting
  later.join();
  ASSERT_EQ(first, DirWatcher::Result::Changes);
  for (int i = 0; i < 200; ++i) Put(dir + L"f" + std::to_wstring(i) + L".txt", "");
  SleepMs(300);
  EXPECT_EQ(w->Wait(&changes), DirWatcher::Result::Overflow);
  std::thread wake([&] {
    SleepMs(300);
    Put(dir + L"wake.txt", "x");
  });
  bool woken = false;
  for (int i = 0; i < 5 && !woken; ++i) {
    if (w->Wait(&changes) != DirWatcher::Result::Changes) continue;
    for (const auto& c : changes) woken = woken || c.name == L"wake.txt";
  }
  wake.join();
  EXPECT_TRUE(woken);
}
#endif
