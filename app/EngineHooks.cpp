#include "app/EngineHooks.h"

namespace vq {

void StartScheduleThread() {}
bool StartDirMonitThread() { return true; }
void StartBackUpThread() {}
void StartProductInfo() {}

}  // namespace vq
