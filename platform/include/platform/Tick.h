#pragma once

#include <cstdint>

namespace platform {

// Milliseconds of a monotonic clock; only differences are meaningful.
uint64_t TickCount();

}  // namespace platform
