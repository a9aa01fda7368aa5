#pragma once

struct ConnectionRecord;

// Forwards the rest of a request body from the browser to the origin until
// the browser closes or a transfer fails. Returns 0.
int UploadRelay(ConnectionRecord* record);
