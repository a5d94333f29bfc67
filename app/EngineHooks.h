// Start-up steps and menu actions whose work is not built yet. Each is called at its place and
// does nothing until its part of the engine exists.
#pragma once

namespace vq {

void StartScheduleThread();  // the schedule thread (1 MB stack) — not built yet
bool StartDirMonitThread();  // the change monitor; false when its thread could not be made — not built yet
void StartBackUpThread();    // the backup worker — not built yet
void StartCleanThread();     // one cleaning run of the history view on a thread of its own — not built yet
void StartProductInfo();     // product ini, product-information log, update thread (app/UpdateHooks.cpp)
void RequestUpdateCheck();   // asks the update thread for a check (app/UpdateHooks.cpp)
void LogAboutLines();        // the About lines from the product constants (app/UpdateHooks.cpp)

}  // namespace vq
