#include "platform/Tick.h"

#include <windows.h>

namespace platform {

uint64_t TickCount() { return GetTickCount64(); }

}  // namespace platform
