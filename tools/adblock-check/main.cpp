// adblock-check LISTFILE
//
// Loads an ad-block list with the proxy's own engine, reads lines
// "url<TAB>host" from standard input and prints for each
// "verdict<TAB>deciding list line" ("-" when no rule matched). A url written
// "host:port" is a CONNECT target, checked as "https://host/" like the proxy does.
// With --stats it first tells on standard error how the rules were indexed.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "adblock/CAdFilter.h"
#include "adblock/ExplainLines.h"

int main(int argc, char** argv) {
    bool stats = false;
    int arg = 1;
    if (arg < argc && std::string(argv[arg]) == "--stats") {
        stats = true;
        ++arg;
    }
    if (arg + 1 != argc) {
        std::fprintf(stderr, "usage: adblock-check [--stats] LISTFILE < lines of url<TAB>host\n");
        return 2;
    }
    const std::string listFile = argv[arg];
    if (!std::ifstream(listFile)) {
        std::fprintf(stderr, "adblock-check: cannot read %s\n", listFile.c_str());
        return 2;
    }

    CAdFilter filter(listFile);
    filter.LoadRules();
    if (auto rules = filter.Rules(); stats && rules) {
        size_t urlRegex = 0, anyRegex = 0;
        for (size_t i = 0; i < rules->size(); ++i) {
            urlRegex += rules->rule(i).UrlNeedsRegex();
            anyRegex += rules->rule(i).NeedsRegex();
        }
        std::fprintf(stderr,
                     "rules %zu; without a literal key %zu; URL pattern on std::regex %zu; "
                     "any pattern on std::regex %zu\n",
                     rules->size(), rules->AlwaysConfirmedCount(), urlRegex, anyRegex);
    }

    std::ios::sync_with_stdio(false);
    adblock::ExplainLines(filter, std::cin, std::cout);
    return 0;
}
