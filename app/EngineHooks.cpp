#include "app/EngineHooks.h"

#include "backup/BackUp.h"
#include "backup/Clean.h"
#include "backup/Monitor.h"
#include "backup/Schedule.h"
#include "platform/Thread.h"

namespace vq {

void StartScheduleThread() {
  platform::StartThread([] { ScheduleThreadFun(RealEngineServices()); }, 1048576);
}
// The threads receive the real services here; nothing below fetches them itself.
bool StartDirMonitThread() {
  return platform::StartThread([] { DirMonitThreadFun(RealEngineServices()); });
}
void StartBackUpThread() {
  platform::StartThread([] { BackUpThreadFun(RealEngineServices()); });
}
void StartCleanThread() {
  platform::StartThread([] { CleanTreadFun(nullptr); });
}

}  // namespace vq
