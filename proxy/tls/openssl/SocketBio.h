#pragma once

#include <openssl/bio.h>
#include <platform/Socket.h>

#include <cstdint>

#include "tls/openssl/Handles.h"

namespace tls {

// What a session's BIO reads and writes: a platform socket, and the moment
// (platform::TickCount) by which a read must have data; 0 for no limit.
struct SocketIo {
    platform::Socket socket = platform::kInvalidSocket;
    uint64_t readDeadline = 0;
    bool timedOut = false;  // the last read ran into the deadline
};

// The BIO method over SocketIo, made once per context.
BioMethodPtr NewSocketBioMethod();
// A BIO of that method on `io`, which must outlive it. Null on failure.
BIO* NewSocketBio(BIO_METHOD* method, SocketIo* io);

}  // namespace tls
