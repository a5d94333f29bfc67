#include "backup/EngineState.h"

namespace vq {

std::atomic<int32_t> srcChanged{0};
std::atomic<int32_t> monitRunning{0};
std::atomic<int32_t> backFileCount{0};

}  // namespace vq
