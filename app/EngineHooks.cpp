#include "app/EngineHooks.h"

#include "backup/BackUp.h"
#include "backup/Clean.h"
#include "backup/Monitor.h"
#include "backup/Schedule.h"
#include "platform/Thread.h"

namespace vq {

void StartScheduleThread() { platform::StartThread(ScheduleThreadFun, 1048576); }
bool StartDirMonitThread() { return platform::StartThread(DirMonitThreadFun); }
void StartBackUpThread() { platform::StartThread(BackUpThreadFun); }
void StartCleanThread() {
  platform::StartThread([] { CleanTreadFun(nullptr); });
}

}  // namespace vq
