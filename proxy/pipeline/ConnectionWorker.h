#pragma once

struct ConnectionRecord;

// Serves one browser connection on a pooled thread, then leaves the record to
// the registry.
void ConnectionWorker(ConnectionRecord* record);
