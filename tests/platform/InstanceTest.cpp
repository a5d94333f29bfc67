// The single-instance mark and the restart's wait, against real processes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "common/Text.h"
#include "platform/Instance.h"
#include "platform/NamedMutex.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "tests/support/TestSupport.h"

#ifndef _WIN32
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Stands in for a file system without locks: while set, every flock fails with this errno.
static int g_flockFailure = 0;

extern "C" int flock(int fd, int op) {
  if (g_flockFailure != 0) {
    errno = g_flockFailure;
    return -1;
  }
  using Real = int (*)(int, int);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "flock"));
  return real(fd, op);
}
#endif

using namespace vq;
using namespace vq::platform;

TEST(RestartOrigin, IsHandedToTheNextProcessOnceAndNamesOnlyARunningProcessOfThisProgram) {
  uint32_t pid = 0;
  EXPECT_FALSE(TakeRestartOrigin(&pid)) << "a plain start was not started for a restart";
  MarkRestartOrigin();
  ASSERT_TRUE(TakeRestartOrigin(&pid));
  EXPECT_EQ(pid, CurrentProcessId());
  EXPECT_FALSE(TakeRestartOrigin(&pid)) << "what this process starts later must not inherit it";

  EXPECT_TRUE(IsProcessOfThisProgram(CurrentProcessId()));
  EXPECT_FALSE(IsProcessOfThisProgram(0));
  EXPECT_FALSE(IsProcessOfThisProgram(0x7FFFFFF0u));
  EXPECT_TRUE(WaitForProcessEnd(CurrentProcessId(), 60000)) << "the replaced image keeps our id";
  EXPECT_TRUE(WaitForProcessEnd(0x7FFFFFF0u, 60000)) << "nothing to wait for";
}

#ifndef _WIN32
namespace {
// A child of another program that stays until killed.
pid_t StartSleeper() {
  pid_t pid = fork();
  if (pid == 0) {
    execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// A copy of this very process that ends after ms.
pid_t StartOwnCopyEndingAfter(int ms) {
  pid_t pid = fork();
  if (pid == 0) {
    usleep(static_cast<useconds_t>(ms) * 1000);
    _exit(0);
  }
  return pid;
}

bool Alive(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

void Reap(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// Holds the instance lock as a running instance would, naming pid in the file.
int HoldLock(pid_t pid) {
  std::wstring dir = ConfigDir();
  EXPECT_TRUE(CreateDirectoryTree(dir));
  int fd = open(WideToUtf8(dir + L"instance.pid").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  std::string text = std::to_string(pid) + "\n";
  EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  return fd;
}
}  // namespace

TEST(RestartOrigin, WaitsForACopyOfThisProgramToEndButNotForAnotherProgram) {
  pid_t copy = StartOwnCopyEndingAfter(600);
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(IsProcessOfThisProgram(static_cast<uint32_t>(copy)));
  EXPECT_TRUE(WaitForProcessEnd(static_cast<uint32_t>(copy), 20000)) << "an unreaped child counts as ended";
  double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(waited, 0.5);
  EXPECT_LT(waited, 10.0);
  waitpid(copy, nullptr, 0);

  pid_t stays = StartOwnCopyEndingAfter(20000);
  EXPECT_FALSE(WaitForProcessEnd(static_cast<uint32_t>(stays), 200)) << "the time-out is honoured";
  Reap(stays);

  pid_t other = StartSleeper();
  usleep(200 * 1000);  // let exec replace the image
  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(IsProcessOfThisProgram(static_cast<uint32_t>(other)));
  EXPECT_TRUE(WaitForProcessEnd(static_cast<uint32_t>(other), 20000));
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
  Reap(other);
}

TEST(InstanceMark, AStalePidOfAnotherProgramIsNeverSignalled) {
  vqtest::PointConfigAt(vqtest::MakeScratchDir(L"instance"));
  pid_t other = StartSleeper();
  usleep(200 * 1000);
  int fd = HoldLock(other);
  EXPECT_TRUE(HandOverToRunningInstance()) << "the lock is held: an instance runs";
  usleep(200 * 1000);
  EXPECT_TRUE(Alive(other)) << "SIGUSR1 would have ended the unrelated process";
  EXPECT_EQ(MarkRunningInstance(nullptr), InstanceMark::TakenByOther);
  close(fd);
  Reap(other);
}

TEST(InstanceMark, AFileSystemWithoutLocksIsNoRunningInstance) {
  vqtest::PointConfigAt(vqtest::MakeScratchDir(L"instance"));
  int fd = HoldLock(getpid());
  close(fd);  // the file stays; nobody holds it
  g_flockFailure = ENOLCK;
  const bool handedOver = HandOverToRunningInstance();
  const InstanceMark mark = MarkRunningInstance(nullptr);
  g_flockFailure = 0;
  EXPECT_FALSE(handedOver) << "every start would leave silently";
  EXPECT_EQ(mark, InstanceMark::Failed) << "the program runs on and says so";
}
#endif

#ifndef _WIN32
// The lock folder in a place anybody can write to (/tmp without a runtime directory): a name
// made first by someone else, a folder others may write to, or a link is never used; the
// configuration directory's own folder is, made private.
TEST(LockFolder, OnlyAPrivateFolderOfThisUserHoldsTheLocks) {
  std::string base = vq::WideToUtf8(vqtest::MakeScratchDir(L"lockdir"));
  if (base.back() == '/') base.pop_back();
  const std::string fallback = base + "/config/vq.lumen/locks";
  const std::string mine = base + "/vq.lumen-" + std::to_string(getuid());
  EXPECT_EQ(vq::platform::ChooseLockDir(base, fallback), mine) << "made here, private";

  ASSERT_EQ(chmod(mine.c_str(), 0777), 0);
  EXPECT_EQ(vq::platform::ChooseLockDir(base, fallback), fallback) << "others may write to it";
  struct stat st;
  ASSERT_EQ(stat(fallback.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u) << "the fallback is private";

  ASSERT_EQ(rmdir(mine.c_str()), 0);
  ASSERT_EQ(symlink(fallback.c_str(), mine.c_str()), 0);
  EXPECT_EQ(vq::platform::ChooseLockDir(base, fallback), fallback) << "a link in its place";
  ASSERT_EQ(unlink(mine.c_str()), 0);

  if (getuid() == 0) {  // only root can give a folder to somebody else
    ASSERT_EQ(mkdir(mine.c_str(), 0700), 0);
    ASSERT_EQ(chown(mine.c_str(), 65534, 65534), 0);
    EXPECT_EQ(vq::platform::ChooseLockDir(base, fallback), fallback) << "somebody else's folder";
    ASSERT_EQ(rmdir(mine.c_str()), 0);
  }
  EXPECT_EQ(vq::platform::ChooseLockDir(base + "/missing/deeper", ""), "") << "neither will do";
}
#endif
