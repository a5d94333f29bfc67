// The engine as start-up and the menu reach it: each call starts its work at its place in the
// start-up sequence or on its command.
#pragma once

namespace vq {

void StartScheduleThread();  // the schedule thread (1 MB stack)
bool StartDirMonitThread();  // the change monitor; false when its thread could not be made
void StartBackUpThread();    // the backup worker
void StartCleanThread();     // one cleaning run of the history view on a thread of its own
// One verify of every archive on a thread of its own, never while cleaning runs; a request while
// a verify runs is refused with a line in the log.
void StartVerifyThread();
void StartProductInfo();    // product ini, product-information log, update thread (app/UpdateHooks.cpp)
void RequestUpdateCheck();  // asks the update thread for a check (app/UpdateHooks.cpp)
void LogAboutLines();       // the About lines from the product constants (app/UpdateHooks.cpp)

}  // namespace vq
