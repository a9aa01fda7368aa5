#pragma once

#include <cstddef>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

#include "tls/TlsSession.h"

// The hosts for which the browser refused our certificate the last time we
// intercepted: an app that pins its certificates, or a browser that does not
// trust our CA. Their CONNECTs are tunnelled from then on. Bounded: the host
// least recently refused goes first. Safe for many threads.
class RefusedHosts {
public:
    explicit RefusedHosts(size_t capacity);

    // What the browser side's handshake for the host showed: a refusal of our
    // certificate is remembered, a completed handshake forgets an earlier one,
    // anything else (a time-out, a closed connection) changes nothing.
    void NoteHandshake(const std::string& host, tls::HandshakeStatus status);
    bool Contains(const std::string& host) const;
    size_t Size() const;

private:
    void Remember(const std::string& host);
    void Forget(const std::string& host);

    const size_t capacity_;
    mutable std::mutex lock_;  // guards both below
    std::list<std::string> order_;  // most recently refused first
    std::unordered_map<std::string, std::list<std::string>::iterator> hosts_;
};
