#include "app/EngineHooks.h"

#include "backup/BackUp.h"
#include "backup/Clean.h"
#include "backup/Monitor.h"
#include "backup/Restore.h"
#include "backup/Schedule.h"
#include "platform/CodePage.h"
#include "platform/Thread.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"

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
  platform::StartThread([] {
    Maintenance().BeginClean([] { WriteLog(L"校验备份正在进行，清理将在校验结束后开始\r\n"); });
    CleanTreadFun(nullptr);
    Maintenance().EndClean();
  });
}

void StartVerifyThread() {
  platform::StartThread([] {
    if (!Maintenance().BeginVerify([] { WriteLog(L"清理正在进行，校验将在清理结束后开始\r\n"); })) {
      WriteLog(L"校验备份已在进行\r\n");
      return;
    }
    RunVerify(platform::RealFileSystem(), CurrentWorkDirs(), platform::WideToAnsi(AppSettings.S_ZIP_PSW.Get()));
    Maintenance().EndVerify();
  });
}

}  // namespace vq
