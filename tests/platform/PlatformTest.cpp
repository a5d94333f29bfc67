// The platform services the rest of the program leans on, on the real file system.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/Text.h"
#include "platform/File.h"
#include "platform/NamedMutex.h"
#include "platform/Paths.h"
#include "platform/Thread.h"
#include "tests/support/TestSupport.h"

using namespace vq;
using namespace vq::platform;

TEST(PlatformFile, ExclusiveAppendRefusesASecondWriterAndNeverTruncates) {
  std::wstring dir = vqtest::MakeScratchDir(L"file");
  std::wstring path = dir + L"日志.txt";
  bool created = false;
  {
    File a = File::OpenAppendExclusive(path, &created);
    ASSERT_TRUE(a.IsOpen());
    EXPECT_TRUE(created);
    EXPECT_EQ(a.Write("abc", 3), 3u);
    File b = File::OpenAppendExclusive(path, &created);
    EXPECT_FALSE(b.IsOpen()) << "no sharing while the first handle is open";
  }
  File c = File::OpenAppendExclusive(path, &created);
  ASSERT_TRUE(c.IsOpen());
  EXPECT_FALSE(created);
  ASSERT_TRUE(c.SeekEnd());
  EXPECT_EQ(c.Write("de", 2), 2u);
  c.Close();
  EXPECT_EQ(vqtest::ReadAll(path), "abcde");
}

TEST(PlatformFile, CreateAlwaysReplacesAndSeekRewrites) {
  std::wstring path = vqtest::MakeScratchDir(L"file") + L"z.bin";
  {
    File f = File::CreateAlways(path);
    ASSERT_TRUE(f.IsOpen());
    f.Write("0123456789", 10);
    ASSERT_TRUE(f.SeekSet(2));
    f.Write("xy", 2);
  }
  EXPECT_EQ(vqtest::ReadAll(path), "01xy456789");
  {
    File f = File::CreateAlways(path);
    f.Write("new", 3);
  }
  EXPECT_EQ(vqtest::ReadAll(path), "new");
  File r = File::OpenRead(path);
  FileInfo info;
  ASSERT_TRUE(r.Info(&info));
  EXPECT_EQ(info.size, 3u);
  EXPECT_EQ(info.attributes & kAttrDirectory, 0u);
  EXPECT_GT(info.modified, 1500000000);
  EXPECT_FALSE(File::OpenRead(path + L".missing").IsOpen());
}

TEST(PlatformFile, AtomicWriteReplacesWholeAndDirectoryTreeIsMade) {
  std::wstring dir = vqtest::MakeScratchDir(L"file");
  wchar_t s = PathSeparator();
  std::wstring deep = dir + L"a" + s + L"b" + s + L"目录" + s;
  ASSERT_TRUE(CreateDirectoryTree(deep));
  EXPECT_TRUE(IsDirectory(deep));
  EXPECT_TRUE(CreateDirectoryTree(deep));
  ASSERT_TRUE(WriteFileAtomically(deep + L"f", std::string(100000, 'a')));
  ASSERT_TRUE(WriteFileAtomically(deep + L"f", "short"));
  EXPECT_EQ(vqtest::ReadAll(deep + L"f"), "short");
  EXPECT_FALSE(PathExists(deep + L"f.tmp"));
}

TEST(PlatformMutex, SerialisesThreadsOfOneProcess) {
  NamedMutex m1(L"vq.lumen.test-mutex");
  NamedMutex m2(L"vq.lumen.test-mutex");
  std::atomic<int> inside{0};
  std::atomic<int> overlap{0};
  auto work = [&](NamedMutex& m) {
    for (int i = 0; i < 200; ++i) {
      NamedMutexLock hold(m);
      if (inside.fetch_add(1) != 0) overlap.fetch_add(1);
      std::this_thread::yield();
      inside.fetch_sub(1);
    }
  };
  std::thread a(work, std::ref(m1)), b(work, std::ref(m2));
  a.join();
  b.join();
  EXPECT_EQ(overlap.load(), 0);
}

TEST(PlatformThread, RunsOnItsOwnStackOfTheGivenSize) {
  std::atomic<int> done{0};
  ASSERT_TRUE(StartThread(
      [&] {
        // Touch most of a 1 MB stack: a thread made with the default size on some systems would
        // not survive this.
        volatile char big[900 * 1024];
        big[0] = 1;
        big[sizeof big - 1] = 2;
        done.store(big[0] + big[sizeof big - 1]);
      },
      1048576));
  for (int i = 0; i < 500 && done.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(done.load(), 3);
}

TEST(PlatformPaths, LogGoesBesideTheProgramUnlessItsDirectoryIsReadOnly) {
  EXPECT_EQ(ChooseLogDir(L"/opt/vq/", true, L"/s", L"/home/li"), L"/opt/vq/");
  EXPECT_EQ(ChooseLogDir(L"/usr/bin/", false, L"/s/", L"/home/li"), L"/s/vq.lumen/");
  EXPECT_EQ(ChooseLogDir(L"/usr/bin/", false, L"relative", L"/home/li"), L"/home/li/.local/state/vq.lumen/");
  EXPECT_EQ(ChooseLogDir(L"/usr/bin/", false, L"", L""), L"/usr/bin/") << "nowhere better: entries may be lost";
}
