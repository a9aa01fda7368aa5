#pragma once

#include <iosfwd>

class CAdFilter;

namespace adblock {

// Reads lines "url<TAB>host[<TAB>anything]" and writes for each one
// "verdict<TAB>deciding list line", "-" standing for no matching rule. The
// verdict is what CheckUrl gives a URL it has not seen before.
void ExplainLines(const CAdFilter& filter, std::istream& in, std::ostream& out);

}  // namespace adblock
