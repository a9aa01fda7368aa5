#pragma once

struct ConnectionRecord;

// Copies bytes one way, from the record's upstream socket to its client
// socket, until a receive or a send fails or the peer closes. A tunnel runs
// one relay per direction (the second on a record with the sockets swapped).
// Returns 0.
int TunnelRelay(ConnectionRecord* record);
