// The flags the engine threads share. Each is one whole 32-bit value, read and written
// indivisibly; there are no locks.
#pragma once

#include <atomic>
#include <cstdint>

namespace vq {

// Set (1) by the monitor, the schedule and the reset commands to ask the worker for a pass; the
// worker clears it after each pass.
extern std::atomic<int32_t> srcChanged;
// Set (1) once the change monitor watches the source; the worker's first pass waits for it.
extern std::atomic<int32_t> monitRunning;
// Files backed up by the pass that is running or ran last.
extern std::atomic<int32_t> backFileCount;

}  // namespace vq
