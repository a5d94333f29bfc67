// Start-up steps whose work is not built yet. Each is called at its place in the start-up
// sequence and does nothing until its part of the engine exists.
#pragma once

namespace vq {

void StartScheduleThread();  // the schedule thread (1 MB stack) — not built yet
bool StartDirMonitThread();  // the change monitor; false when its thread could not be made — not built yet
void StartBackUpThread();    // the backup worker — not built yet
void StartProductInfo();     // product ini, product-information log, update thread — not built yet

}  // namespace vq
