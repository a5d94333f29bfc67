#include "platform/Clock.h"

namespace vq::platform {

namespace {
class SystemClock : public Clock {
 public:
  UnixTime Now() override { return platform::Now(); }
  void SleepMs(uint32_t ms) override { platform::SleepMs(ms); }
};
}  // namespace

Clock& RealClock() {
  static Clock* c = new SystemClock();
  return *c;
}

}  // namespace vq::platform
