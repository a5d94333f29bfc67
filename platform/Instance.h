// Only one instance runs on a desktop. Windows: the main window carries the property
// "vq.lumen" = 1 and a second start finds it among the top-level windows. POSIX: a lock file
// holding the pid; a second start signals the first and leaves.
#pragma once

namespace vq::platform {

// If another instance runs, brings it forward (shows its window) and returns true: the caller
// must then leave without any trace. Creates and changes nothing in that case.
bool HandOverToRunningInstance();

enum class InstanceMark {
  Marked,        // this process is the running instance
  TakenByOther,  // another process really holds the mark (it won the race since our check)
  Failed,        // the mark could not be made for another reason (e.g. nowhere to write it)
};
// Marks this process as the running instance. window: the main window handle on Windows
// (ignored on POSIX).
InstanceMark MarkRunningInstance(void* window);

}  // namespace vq::platform

namespace vq::platform {

// POSIX: true once after a second start asked this instance to show itself (the terminal front
// end polls it). Windows: the second start shows the window itself; always false.
bool TakeShowRequest();

}  // namespace vq::platform
