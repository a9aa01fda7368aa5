#include "web/EntryCheck.h"

#include <sievekit/CStrCoding.h>
#include <sievekit/CUtility.h>

#include <string>
#include <string_view>

#include "pipeline/MainDomain.h"

namespace {

std::string_view TrimBlanks(std::string_view text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

EntryVerdict CheckDomain(std::string_view parameter) {
    std::string_view entry = TrimBlanks(parameter);
    while (!entry.empty() && entry.front() == '.') entry.remove_prefix(1);
    while (!entry.empty() && entry.back() == '.') entry.remove_suffix(1);
    if (entry.empty()) return EntryVerdict::Accepted;
    std::string lower(entry);
    LowerAscii(lower);
    int labels = 0;
    for (size_t at = 0; at <= lower.size();) {
        size_t dot = lower.find('.', at);
        if (dot == std::string::npos) dot = lower.size();
        if (dot > at) ++labels;
        at = dot + 1;
    }
    if (labels < 2) return EntryVerdict::TooFewLabels;
    if (IsKeptSuffix(lower)) return EntryVerdict::WholeCountrySuffix;
    return EntryVerdict::Accepted;
}

EntryVerdict CheckFragment(const std::string& parameter) {
    const std::string decoded = CStrCoding().UrlGB2312Decode(parameter);
    const std::string_view fragment = TrimBlanks(decoded);
    if (fragment.empty()) return EntryVerdict::Accepted;
    const std::wstring wide = CUtility().atow(fragment.data(), static_cast<int>(fragment.size()));
    return wide.size() < kMinImageFragment ? EntryVerdict::FragmentTooShort : EntryVerdict::Accepted;
}

}  // namespace

EntryVerdict CheckEntry(const SuffixAndParameter& command) {
    if (!command.hasParameter) return EntryVerdict::Accepted;
    if (command.suffix == ".black" || command.suffix == ".white" || command.suffix == ".noimg")
        return CheckDomain(command.parameter);
    if (command.suffix == ".filterimage") return CheckFragment(command.parameter);
    return EntryVerdict::Accepted;
}
