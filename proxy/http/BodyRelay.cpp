#include "http/BodyRelay.h"

#include <platform/SendAll.h>
#include <platform/Socket.h>
#include <platform/Tick.h>
#include <platform/TimedReceive.h>

#include <algorithm>
#include <climits>
#include <limits>

namespace {
constexpr int kRelayStep = 8192;
}  // namespace

int32_t ExpectedResponseTotal(int32_t headerLength, int32_t contentLength) {
    if (contentLength == -1) return -1;
    int64_t total = static_cast<int64_t>(headerLength) + (contentLength < 0 ? 0 : contentLength);
    return total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
}

BodyRelay::BodyRelay(int32_t expectedTotal, platform::Socket upstreamSocket, platform::Socket browserSocket,
                     std::string buffer)
    : expectedTotal(expectedTotal),
      upstreamSocket(upstreamSocket),
      browserSocket(browserSocket),
      buffer(std::move(buffer)) {}

int BodyRelay::ReceiveStep(char* chunk, int length) const {
    if (idleMs < 0) return platform::RecvSome(upstreamSocket, chunk, length).rc;
    return platform::ReceiveBefore(upstreamSocket, chunk, length, platform::TickCount() + static_cast<uint64_t>(idleMs));
}

void BodyRelay::ReceiveRest() {
    int64_t count = static_cast<int64_t>(buffer.size());
    // An announced length within the bound is taken at its word: one allocation.
    if (expectedTotal > 0 && holdLimit < std::numeric_limits<size_t>::max())
        buffer.reserve(std::min(static_cast<size_t>(expectedTotal), holdLimit + 1));
    char chunk[kRelayStep];
    while ((expectedTotal == -1 || count != expectedTotal) && buffer.size() <= holdLimit) {
        const size_t left = holdLimit - buffer.size();  // one more than this shows the bound passed
        int n = ReceiveStep(chunk, left < sizeof chunk ? static_cast<int>(left + 1) : static_cast<int>(sizeof chunk));
        if (n <= 0) break;
        buffer.append(chunk, static_cast<size_t>(n));
        count += n;
    }
}

void BodyRelay::ForwardRest() {
    int64_t count = static_cast<int64_t>(buffer.size());
    if (buffer.empty()) return;
    if (!platform::SendAll(browserSocket, buffer.data(), buffer.size())) return;
    if (count == expectedTotal) return;
    std::string().swap(buffer);  // sent: a long relay does not hold it
    char chunk[kRelayStep];
    for (;;) {
        int n = ReceiveStep(chunk, sizeof chunk);
        if (n <= 0) return;
        count += n;
        if (!platform::SendAll(browserSocket, chunk, static_cast<size_t>(n))) return;
        if (count == expectedTotal) return;
    }
}
