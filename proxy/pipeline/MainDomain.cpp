#include "pipeline/MainDomain.h"

#include <array>
#include <utility>

namespace {

// Suffixes kept whole, each with the dotless form that hides its dot while
// the last two labels are taken.
constexpr std::array<std::pair<const char*, const char*>, 10> kKeptSuffixes{{
    {"com.cn", "comcn"},
    {"net.cn", "netcn"},
    {"org.cn", "orgcn"},
    {"com.hk", "comhk"},
    {"cn.com", "cncom"},
    {"com.tw", "comtw"},
    {"com.au", "comau"},
    {"net.au", "netau"},
    {"gov.cn", "govcn"},
    {"ac.cn", "accn"},
}};

void ReplaceFirst(std::string& text, const std::string& from, const std::string& to) {
    size_t pos = text.find(from);
    if (pos != std::string::npos) text.replace(pos, from.size(), to);
}

}  // namespace

bool IsKeptSuffix(std::string_view name) {
    for (const auto& suffix : kKeptSuffixes)
        if (name == suffix.first) return true;
    return false;
}

std::string MainDomain(const std::string& host) {
    if (host.empty()) return {};
    std::string text = host;
    for (const auto& [dotted, dotless] : kKeptSuffixes) ReplaceFirst(text, dotted, dotless);
    int dots = 0;
    for (size_t i = text.size(); i-- > 0;) {
        if (text[i] == '.' && ++dots == 2) {
            text.erase(0, i + 1);
            break;
        }
    }
    for (const auto& [dotted, dotless] : kKeptSuffixes) ReplaceFirst(text, dotless, dotted);
    return text;
}
