#pragma once

#include <cstddef>

// Every bound and time-out of the request path, in one place. The defaults
// are the program's; tests set small values. Set before serving, read-only
// while connections are served.
struct Limits {
    // A header block (the browser's request, the origin's answer) longer than
    // this closes the connection.
    size_t maxRequestHeader = 64 * 1024;
    size_t maxResponseHeader = 64 * 1024;
    // A browser must complete its request header this long after connecting.
    int requestHeaderMs = 30 * 1000;
    // An origin must start its answer this long after the request (and its
    // upload) was last sent a byte.
    int originAnswerMs = 120 * 1000;
    // An upstream connect attempt to one address gives up after this long.
    int connectMs = 10 * 1000;
    // An HTML body is read whole and filtered only up to this many bytes, as
    // received and after decoding; a longer page has its title checked in what
    // was read and is otherwise relayed as the origin sends it.
    size_t maxHtmlBody = 16 * 1024 * 1024;
    // A relay or tunnel with no byte in either direction this long is closed.
    int idleMs = 10 * 60 * 1000;
    // Live browser connections; a further one is accepted and closed at once.
    size_t maxConnections = 4096;
    // Requests the local web server serves at a time; a further one likewise.
    size_t maxWebRequests = 64;
    // A pooled thread left without work this long ends (a new one starts when needed).
    int idleThreadMs = 60 * 1000;
    // An accept that fails for lack of descriptors waits this long before the next.
    int acceptBackoffMs = 100;
    // An accept loop waits for a connection in slices this long, so that it
    // notices a stop even when closing its socket does not wake it.
    int acceptSliceMs = 250;
};
