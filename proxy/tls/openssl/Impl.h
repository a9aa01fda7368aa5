#pragma once

#include <platform/Socket.h>

#include <cstdint>
#include <string>

#include "tls/LocalCa.h"
#include "tls/Leaf.h"
#include "tls/TlsContext.h"
#include "tls/TlsSession.h"
#include "tls/openssl/Handles.h"
#include "tls/openssl/SocketBio.h"

namespace tls {

struct LocalCa::Impl {
    X509Ptr certificate;
    KeyPtr key;
    std::string certificatePem;
    std::string name;
};

struct Leaf::Impl {
    X509Ptr certificate;
    KeyPtr key;
};

struct ServerContext::Impl {
    SslCtxPtr context;
    BioMethodPtr socketBio;
};

struct ClientContext::Impl {
    SslCtxPtr context;
    BioMethodPtr socketBio;
    X509Ptr refusedRoot;  // may be null
};

struct TlsSession::Impl {
    SocketIo io;  // the BIO points here: the Impl never moves
    SslPtr ssl;
    bool broken = false;  // after a fatal error nothing more may be sent
};

}  // namespace tls
