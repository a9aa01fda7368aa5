#pragma once

#include <iosfwd>

class CAdFilter;

namespace adblock {

// Reads lines "url<TAB>host[<TAB>anything]" and writes for each one
// "verdict<TAB>deciding list line", "-" standing for no matching rule. The
// verdict is what CheckUrl gives a URL it has not seen before; a url of the
// form "host:port" (a CONNECT target) is checked as the proxy checks a
// tunnel, as "https://host/".
void ExplainLines(const CAdFilter& filter, std::istream& in, std::ostream& out);

}  // namespace adblock
