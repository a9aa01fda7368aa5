#pragma once

class RequestBodyEnd;
struct ConnectionRecord;

// Forwards the rest of a request body from the browser to the origin, and
// nothing after it: it ends when `body` is complete, the browser closes, or
// a transfer fails. A body whose chunked framing breaks ends the exchange
// (both sockets shut down: the origin would wait for the rest for ever).
// Returns 0.
int UploadRelay(ConnectionRecord* record, RequestBodyEnd* body);
