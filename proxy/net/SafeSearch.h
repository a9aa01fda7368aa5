#pragma once

#include <string_view>

// SafeSearch: the big search engines publish a name whose addresses serve
// only filtered results, for networks and filters to send their users to.
// The proxy connects requests and tunnels for those engines' hosts to that
// name's addresses; the request, its Host header and the TLS inside a tunnel
// stay as they are (the addresses answer for the original names).
//
// The name for a host ("forcesafesearch.google.com" for "www.google.co.uk"),
// or empty when the host is no search engine of the table. ASCII case and a
// final dot are ignored.
std::string_view SafeSearchAddressName(std::string_view host);
