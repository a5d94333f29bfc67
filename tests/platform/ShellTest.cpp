// The desktop services of the update prompt that can be checked without a desktop.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <chrono>
#include <cstdlib>
#include <string>

#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/Shell.h"
#include "tests/support/TestSupport.h"

using namespace vq;

namespace {
std::atomic<int> g_terminations{0};
extern "C" void CountTermination(int) { g_terminations.fetch_add(1); }
}  // namespace

TEST(Shell, AProcessWithoutAMarkedWindowHasNoMainWindow) { EXPECT_EQ(platform::FindMainWindow(), nullptr); }

#ifndef _WIN32
TEST(Shell, CancelOnPosixEndsTheTerminalFrontEndAsAnInterruptWould) {
  auto previous = std::signal(SIGTERM, CountTermination);
  platform::PostCancelCommand(nullptr);
  for (int i = 0; i < 100 && g_terminations.load() == 0; ++i) platform::SleepMs(10);
  std::signal(SIGTERM, previous);
  EXPECT_EQ(g_terminations.load(), 1);
}
#endif

#ifndef _WIN32
namespace {
// Puts a stand-in "xdg-open" (the shell script body) first on PATH while it lives.
class FakeOpener {
 public:
  explicit FakeOpener(const std::string& body) : dir_(vqtest::MakeScratchDir(L"opener")) {
    const std::string script = WideToUtf8(dir_) + "xdg-open";
    EXPECT_TRUE(platform::WriteFileAtomically(Utf8ToWide(script), "#!/bin/sh\n" + body + "\n"));
    EXPECT_EQ(chmod(script.c_str(), 0755), 0);
    const char* path = std::getenv("PATH");
    oldPath_ = path ? path : "";
    setenv("PATH", (WideToUtf8(dir_) + ":" + oldPath_).c_str(), 1);
  }
  ~FakeOpener() { setenv("PATH", oldPath_.c_str(), 1); }
  std::wstring dir() const { return dir_; }

 private:
  std::wstring dir_;
  std::string oldPath_;
};
}  // namespace

TEST(Shell, TheHandlerGetsNoInputFromOurTerminalAndItsExitStatusCounts) {
  FakeOpener opener("readlink /proc/self/fd/0 > \"$(dirname \"$0\")/stdin\"; exit 0");
  EXPECT_TRUE(platform::OpenUrl(L"https://www.example.com/dl"));
  EXPECT_EQ(vqtest::ReadAll(opener.dir() + L"stdin"), "/dev/null\n");
  FakeOpener failing("exit 3");
  EXPECT_FALSE(platform::OpenUrl(L"https://www.example.com/dl"));
}

TEST(Shell, AHandlerReapedForUsEndsTheWaitAtOnce) {
  // With SIGCHLD ignored the system reaps the child itself and waitpid can only say ECHILD.
  FakeOpener opener("exit 3");
  auto previous = std::signal(SIGCHLD, SIG_IGN);
  auto start = std::chrono::steady_clock::now();
  const bool opened = platform::OpenUrl(L"https://www.example.com/dl");
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::signal(SIGCHLD, previous);
  EXPECT_TRUE(opened) << "started, its end unseen: as a handler that keeps running";
  EXPECT_LT(seconds, 3.0) << "not the five seconds given to a handler that keeps running";
}
#endif
