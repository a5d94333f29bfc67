#include "app/EngineHooks.h"

namespace vq {

void StartScheduleThread() {}
bool StartDirMonitThread() { return true; }
void StartBackUpThread() {}
void StartCleanThread() {}

}  // namespace vq
