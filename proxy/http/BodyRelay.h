#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include <platform/SocketHandle.h>

// The rest of one response after its header phase: read whole into memory
// (pages that are inspected) or streamed to the browser (everything else).
class BodyRelay {
public:
    // expectedTotal: header block plus announced body, or -1 when the length
    // is unknown (the response ends when the server closes).
    BodyRelay(int32_t expectedTotal, platform::Socket upstreamSocket, platform::Socket browserSocket,
              std::string buffer);

    // Receives until the expected total is reached, the server stops sending,
    // or the buffer holds more than holdLimit bytes (then exactly one more).
    void ReceiveRest();
    // Sends what is buffered, then relays the rest as it arrives, up to the
    // expected total.
    void ForwardRest();

    int32_t expectedTotal;
    platform::Socket upstreamSocket;
    platform::Socket browserSocket;  // kInvalidSocket when the relay only receives
    std::string buffer;
    // A receive that waits longer than this ends the relay; -1: no limit.
    int idleMs = -1;
    // The most ReceiveRest keeps before it stops; one byte more shows there is more.
    size_t holdLimit = std::numeric_limits<size_t>::max();

private:
    int ReceiveStep(char* chunk, int length) const;
};

// headerLength + contentLength, or -1 for an unknown length; never negative
// or overflowing for a huge announced length.
int32_t ExpectedResponseTotal(int32_t headerLength, int32_t contentLength);
