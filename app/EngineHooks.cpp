#include "app/EngineHooks.h"

namespace vq {

void StartScheduleThread() {}
bool StartDirMonitThread() { return true; }
void StartBackUpThread() {}
void StartCleanThread() {}
void StartProductInfo() {}
void RequestUpdateCheck() {}
void LogAboutLines() {}

}  // namespace vq
