// The desktop services of the update prompt that can be checked without a desktop.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>

#include "platform/Clock.h"
#include "platform/Shell.h"

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
