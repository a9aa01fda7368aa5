#pragma once

#include <cstdint>
#include <string_view>

#include "web/RequestHeaders.h"

// Who may reach the local web server, and who is asking. Byte-level
// decisions on the request's header fields, without sockets.

// The names the server answers to: 127.0.0.1, localhost and the configured
// listen address, with the server's port or none. Listening on 0.0.0.0,
// other machines use this machine's address, so any numeric IPv4 address
// counts as well. Any other name (a page's own, pointed at this machine by
// DNS rebinding) is refused.
bool IsOwnHost(std::string_view host, std::string_view listenAddress, uint16_t port);

// Where a request comes from, as the browser's marks on it say.
enum class RequestSource {
    Direct,     // no mark of a page: a local program, curl, a typed address
    OwnPage,    // sent by a page of this server (Sec-Fetch-Site: same-origin, or its own Origin)
    OtherPage,  // made by some other page, or marks that cannot be trusted
};

// The marks are Sec-Fetch-Site, Origin and Referer. A page of this server
// has the origin "http://" + the Host field (its port defaulting to the
// server's); without a Host field, any own name with the server's port.
// A mark given twice counts as another page's.
RequestSource ClassifyRequestSource(const RequestHeaders& headers, std::string_view listenAddress, uint16_t port);
