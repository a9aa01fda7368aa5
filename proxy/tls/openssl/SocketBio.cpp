#include "tls/openssl/SocketBio.h"

#include <platform/Tick.h>

#include <climits>

namespace tls {

namespace {

// A read that runs into the deadline is reported as "retry" so that OpenSSL
// keeps the session whole: the caller gets a time-out and may read again.
int SocketRead(BIO* bio, char* out, int length) {
    auto* io = static_cast<SocketIo*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (io->readDeadline != 0) {
        const uint64_t now = platform::TickCount();
        const uint64_t left = io->readDeadline > now ? io->readDeadline - now : 0;
        // With no time left this still looks whether data is there.
        const int waited = platform::WaitReadable(io->socket, left > INT_MAX ? INT_MAX : static_cast<int>(left)).rc;
        if (waited == 0) {
            io->timedOut = true;
            BIO_set_retry_read(bio);
            return -1;
        }
        if (waited < 0) return -1;
    }
    return platform::RecvSome(io->socket, out, length).rc;  // 0: the peer closed
}

int SocketWrite(BIO* bio, const char* data, int length) {
    auto* io = static_cast<SocketIo*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    int sent = 0;
    while (sent < length) {
        const int n = platform::SendSome(io->socket, data + sent, length - sent).rc;
        if (n <= 0) return -1;
        sent += n;
    }
    return sent;
}

long SocketCtrl(BIO*, int command, long, void*) {
    // Writes go straight to the socket: there is never anything to flush.
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int SocketCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

int SocketDestroy(BIO*) { return 1; }  // the socket belongs to the connection

}  // namespace

BioMethodPtr NewSocketBioMethod() {
    // One type number for the process: OpenSSL hands out only a few.
    static const int type = BIO_get_new_index() | BIO_TYPE_SOURCE_SINK;
    BioMethodPtr method(BIO_meth_new(type, "platform socket"));
    if (!method) return nullptr;
    if (BIO_meth_set_read(method.get(), SocketRead) != 1 || BIO_meth_set_write(method.get(), SocketWrite) != 1 ||
        BIO_meth_set_ctrl(method.get(), SocketCtrl) != 1 || BIO_meth_set_create(method.get(), SocketCreate) != 1 ||
        BIO_meth_set_destroy(method.get(), SocketDestroy) != 1)
        return nullptr;
    return method;
}

BIO* NewSocketBio(BIO_METHOD* method, SocketIo* io) {
    BIO* bio = BIO_new(method);
    if (bio) BIO_set_data(bio, io);
    return bio;
}

}  // namespace tls
