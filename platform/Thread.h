// Threads of the engine: started once, never joined.
#pragma once

#include <cstddef>
#include <functional>

namespace vq::platform {

// Starts fn on a new detached thread; stackSize 0 means the platform default.
// Returns false when the thread could not be created.
bool StartThread(std::function<void()> fn, size_t stackSize = 0);

}  // namespace vq::platform
