#include "platform/TimedReceive.h"

#include <climits>

#include "platform/Tick.h"

namespace platform {

int ReceiveBefore(Socket socket, char* buffer, int length, uint64_t deadlineTick) {
    for (;;) {
        const uint64_t now = TickCount();
        if (now >= deadlineTick) return kReceiveTimedOut;
        const uint64_t left = deadlineTick - now;
        const int waited = WaitReadable(socket, left > INT_MAX ? INT_MAX : static_cast<int>(left)).rc;
        if (waited < 0) return -1;
        if (waited > 0) return RecvSome(socket, buffer, length).rc;
    }
}

}  // namespace platform
