#pragma once

#include <atomic>
#include <cstdint>

struct ConnectionRecord;

// Copies bytes one way, from the record's upstream socket to its client
// socket, until a receive or a send fails or the peer closes. A tunnel runs
// one relay per direction (the second on a record with the sockets swapped);
// both share `lastByteTick` (platform::TickCount of the last byte either way)
// and end when the tunnel has carried nothing for idleMs. Returns 0.
int TunnelRelay(ConnectionRecord* record, std::atomic<uint64_t>* lastByteTick, int idleMs);
