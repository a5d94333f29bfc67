// The file-system seam and the directory watcher on the real file system of each platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
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
