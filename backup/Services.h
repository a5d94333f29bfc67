// What the engine threads work with: the file system, the clock and the directory watchers. The
// start-up hooks hand the real ones in; tests hand in their own.
#pragma once

#include "platform/Clock.h"
#include "platform/DirWatcher.h"
#include "platform/FileSystem.h"

namespace vq {

struct EngineServices {
  platform::FileSystem& fs;
  platform::Clock& clock;
  platform::DirWatchers& watchers;
};

inline EngineServices RealEngineServices() {
  return {platform::RealFileSystem(), platform::RealClock(), platform::RealDirWatchers()};
}

}  // namespace vq
