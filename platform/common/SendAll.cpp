#include "platform/SendAll.h"

#include <climits>

namespace platform {

bool SendAll(Socket socket, const char* data, size_t length) {
    while (length > 0) {
        const int step = length > INT_MAX ? INT_MAX : static_cast<int>(length);
        const int n = SendSome(socket, data, step).rc;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace platform
