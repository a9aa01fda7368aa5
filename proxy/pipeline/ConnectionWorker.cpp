#include "pipeline/ConnectionWorker.h"

#include "net/CLocalProxy.h"

// Until requests are served, a connection is held open until the browser
// closes it (or the listener stops), then its record is released.
void ConnectionWorker(ConnectionRecord* record) {
    CLocalProxy* owner = record->owner;
    char buffer[4096];
    while (owner->Recv(record->clientSocket.load(), buffer, sizeof buffer) > 0) {
    }
    if (owner->IsListening()) owner->connections.Remove(record);
    owner->connections.WorkerEnded();
}
