// The ad-block engine on a filter list and request URLs. The input is the
// list text up to its first empty line, then one request a line: a URL,
// optionally followed by a blank and the host (else the host is read from
// the URL). Each URL is checked against the loaded rules; short cases are
// compared with the reference engine of the tests (std::regex over every
// rule in list order).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "ReferenceEngine.h"
#include "adblock/CAdFilter.h"
#include "adblock/RuleConversion.h"

namespace {

std::string HostOf(const std::string& url) {
    size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    size_t end = url.find_first_of(":/?", start);
    return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// No regular-expression rule ("/.../"), at most three wildcards a line, no
// run of ten digits and no repeat of a repeat ("a++", "(a+)+", "a{2}+", and
// "*+", since a wildcard becomes ".*"): the
// engine refuses such rules on purpose (std::regex takes exponential time on
// them), so the two cannot agree there.
bool ReferenceCanAnswer(const std::string& list) {
    for (size_t pos = 0; pos <= list.size();) {
        size_t end = list.find('\n', pos);
        if (end == std::string::npos) end = list.size();
        std::string line = list.substr(pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        size_t options = line.find('$');
        std::string pattern = line.substr(0, options);
        if (pattern.size() >= 2 && pattern.front() == '/' && pattern.back() == '/') return false;
        for (const char* nested : {"++", "+{", "}+", "}{", ")+", "){", "*+", "*{", "?+", "?{"})
            if (line.find(nested) != std::string::npos) return false;
        size_t stars = 0, digits = 0;
        for (char c : line) {
            stars += c == '*';
            digits = c >= '0' && c <= '9' ? digits + 1 : 0;
            // The reference compiles without the engine's guard against
            // numbers that overflow libstdc++'s reading of counts.
            if (digits > 9) return false;
        }
        if (stars > 3) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::EnterScratchFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find("\n\n");
    const std::string list = input.substr(0, split);
    const std::string requests = split == std::string::npos ? std::string() : input.substr(split + 2);

    // The conversion of each line on its own.
    for (size_t pos = 0; pos <= list.size();) {
        size_t end = list.find('\n', pos);
        if (end == std::string::npos) end = list.size();
        auto converted = adblock::ConvertLine(list.substr(pos, end - pos));
        if (converted) FUZZ_CHECK(converted->exception == 0 || converted->exception == 1);
        pos = end + 1;
    }

    fuzzsupport::WriteFile("Data/list.txt", list);
    CAdFilter filter("Data/list.txt");
    filter.LoadRules();
    FUZZ_CHECK(filter.IsLoaded());
    const auto rules = filter.Rules();
    // The reference engine runs every rule through libstdc++'s backtracking
    // std::regex, which takes exponential time on wildcard runs and nested
    // repeats; it is asked only about lists it can answer quickly.
    const bool compare = list.size() <= 2048 && ReferenceCanAnswer(list);
    std::unique_ptr<ReferenceEngine> reference;
    std::set<std::string> checked;

    for (size_t pos = 0; pos < requests.size();) {
        size_t end = requests.find('\n', pos);
        if (end == std::string::npos) end = requests.size();
        std::string line = requests.substr(pos, end - pos);
        pos = end + 1;
        size_t blank = line.find(' ');
        const std::string url = line.substr(0, blank);
        const std::string host = blank == std::string::npos ? HostOf(url) : line.substr(blank + 1);

        const AdDecision decision = filter.Explain(url, host);
        FUZZ_CHECK(decision.verdict == 0 || decision.verdict == 1);
        if (decision.rule) FUZZ_CHECK(decision.verdict == decision.rule->exception());
        // The verdict is remembered per URL (whatever the host): the first
        // check of a URL is the rules' decision, later ones repeat it.
        const int32_t first = filter.CheckUrl(url, host);
        if (url.empty()) FUZZ_CHECK(first == 1);
        else if (checked.insert(url).second) FUZZ_CHECK(first == decision.verdict);
        FUZZ_CHECK(filter.CheckUrl(url, "other.example") == first);

        if (compare && url.size() <= 64 && host.size() <= 64) {
            if (!reference) reference = std::make_unique<ReferenceEngine>(CMyList("Data/list.txt").GetList());
            const ReferenceEngine::Decision want = reference->Decide(url, host);
            FUZZ_CHECK(want.verdict == decision.verdict || url.empty());
            FUZZ_CHECK(want.line == (decision.rule ? decision.rule->sourceLine() : std::string("-")) || url.empty());
        }
    }
    return 0;
}
