#include "adblock/ExplainLines.h"

#include <istream>
#include <ostream>
#include <string>

#include "adblock/CAdFilter.h"

namespace adblock {

namespace {

// "host:port", the target of a CONNECT request.
bool IsTunnelTarget(const std::string& url) {
    size_t colon = url.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == url.size()) return false;
    if (url.find('/') != std::string::npos) return false;
    for (size_t i = colon + 1; i < url.size(); ++i)
        if (url[i] < '0' || url[i] > '9') return false;
    return true;
}

}  // namespace

void ExplainLines(const CAdFilter& filter, std::istream& in, std::ostream& out) {
    std::string line, url, host, text;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t tab = line.find('\t');
        url = line.substr(0, tab);
        host.clear();
        if (tab != std::string::npos) {
            size_t next = line.find('\t', tab + 1);
            host = line.substr(tab + 1, next == std::string::npos ? std::string::npos : next - tab - 1);
        }
        if (IsTunnelTarget(url)) url = TunnelCheckUrl(url.substr(0, url.rfind(':')));
        AdDecision d = filter.Explain(url, host);
        text = std::to_string(d.verdict);
        text += '\t';
        text += d.rule ? d.rule->sourceLine() : "-";
        text += '\n';
        out << text;
    }
}

}  // namespace adblock
