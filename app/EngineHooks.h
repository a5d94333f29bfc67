// Start-up steps and menu actions whose work is not built yet. Each is called at its place and
// does nothing until its part of the engine exists.
#pragma once

namespace vq {

void StartScheduleThread();  // the schedule thread (1 MB stack)
bool StartDirMonitThread();  // the change monitor; false when its thread could not be made
void StartBackUpThread();    // the backup worker
void StartCleanThread();     // one cleaning run of the history view on a thread of its own
void StartProductInfo();     // product ini, product-information log, update thread — not built yet
void RequestUpdateCheck();   // asks the update thread for a check — not built yet
void LogAboutLines();        // the About lines from the product constants — not built yet

}  // namespace vq
