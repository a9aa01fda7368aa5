// The loaders of the list and configuration files: CMyList and the domain
// lists, CDomainManager, the keyword lists of CWordFilter and
// CProxyConfig::LoadData. The first byte picks the file the rest is written
// to; every loader then reads its file from the scratch Data folder.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include <sievekit/CDomainManager.h>
#include <sievekit/CMyList.h>
#include <sievekit/CProxyConfig.h>
#include <sievekit/CWordFilter.h>
#include <sievekit/IDomain.h>

#include "FuzzSupport.h"

namespace {

const char* const kFiles[] = {
    "Data/user_black.txt",    "Data/user_white.txt",   "Data/user_noimage.txt",   "Data/manual_image.txt",
    "Data/black_domains.txt", "Data/white_domains.txt", "Data/block_words.txt", "Data/user_block_words.txt",
    "Data/exempt_words.txt",  "Data/config.ini",
};
constexpr size_t kFileCount = sizeof kFiles / sizeof kFiles[0];

// A user list: what it read survives a store and a reload, every time.
void CheckList(const char* file) {
    CMyList list(file);
    const std::set<std::wstring> first = list.GetList();
    for (const auto& e : first) {
        FUZZ_CHECK(!e.empty() && e.find(L'\n') == std::wstring::npos);
        // Exists takes a C string: an entry holding a NUL cannot be named.
        if (e.find(L'\0') == std::wstring::npos) FUZZ_CHECK(list.Exists(e.c_str()));
    }
    list.Readonly(0);
    FUZZ_CHECK(list.Save());
    list.ReloadData();
    FUZZ_CHECK(list.GetList() == first);
    FUZZ_CHECK(list.Save());
    list.ReloadData();
    FUZZ_CHECK(list.GetList() == first);
}

// ASCII-only words of a keyword file, read the way the loader does.
std::set<std::string> AsciiWords(const std::string& bytes) {
    std::set<std::string> words;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t b = line.find_first_not_of(" \t");
        if (b == std::string::npos || line[b] == '#') continue;
        line = line.substr(b, line.find_last_not_of(" \t") - b + 1);
        if (std::all_of(line.begin(), line.end(), [](char c) { return c > 0x20 && c < 0x7F; })) words.insert(line);
    }
    return words;
}

void CheckWords(const std::string& bytes, bool exemptList) {
    CWordFilter filter(exemptList ? 0 : 1);
    filter.ReloadData(true);
    for (const std::string& w : AsciiWords(bytes)) {
        std::string upper = w;
        for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        FUZZ_CHECK(filter.HasWord(w) != 0);
        FUZZ_CHECK(filter.HasWord("<p>" + upper + "</p>") != 0);
        FUZZ_CHECK(filter.HasWord(std::wstring(w.begin(), w.end())) != 0);
    }
}

void CheckConfig() {
    CProxyConfig config;
    config.LoadData();
    ProxyData& d = config.Config();
    FUZZ_CHECK(d.proxyPort.load() != 0 && d.webPort.load() != 0);
    FUZZ_CHECK(config.getIntelligentValue() >= 0 && config.getIntelligentValue() <= 100);
    const std::string address = config.getListenAddress();
    FUZZ_CHECK(!address.empty() && address.find_first_not_of("0123456789.") == std::string::npos);
    // What was read is what is stored and read again.
    const int32_t values[] = {d.showControl, d.wordFilter, d.imageMode, d.adBlock, d.whiteListLock, d.blockVideo};
    const uint16_t ports[] = {d.proxyPort, d.webPort};
    const int intelligent = config.getIntelligentValue();
    FUZZ_CHECK(config.Save());
    CProxyConfig again;
    again.LoadData();
    ProxyData& a = again.Config();
    const int32_t reread[] = {a.showControl, a.wordFilter, a.imageMode, a.adBlock, a.whiteListLock, a.blockVideo};
    FUZZ_CHECK(std::equal(std::begin(values), std::end(values), std::begin(reread)));
    FUZZ_CHECK(ports[0] == a.proxyPort.load() && ports[1] == a.webPort.load());
    FUZZ_CHECK(intelligent == again.getIntelligentValue() && address == again.getListenAddress());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::EnterScratchFolder();
    fuzzsupport::CopyShippedData();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t which = data[0] % kFileCount;
    const std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
    for (size_t i = 0; i < kFileCount; ++i) fuzzsupport::WriteFile(kFiles[i], i == which ? content : "");

    if (which < 6) {
        CheckList(kFiles[which]);
        fuzzsupport::WriteFile(kFiles[which], content);
        // Every host-like entry of a domain list matches itself and its
        // subdomains through the manager.
        CDomainManager manager;
        CDomainList domains(kFiles[which]);
        for (const auto& e : domains.GetList()) {
            if (e.size() > 200 || e[0] == L'#') continue;
            std::string host;
            for (wchar_t c : e) host.push_back(static_cast<char>(c));
            if (!std::all_of(e.begin(), e.end(), [](wchar_t c) {
                    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                           c == L'.' || c == L'-';
                }) ||
                host.find_first_not_of('.') == std::string::npos)
                continue;
            const std::string bare = host.substr(host.find_first_not_of('.'));
            FUZZ_CHECK(domains.MatchesHost(bare.c_str()) && domains.MatchesHost(("www." + bare).c_str()));
            DomainStruct request{};
            std::snprintf(request.host, sizeof request.host, "www.%s", bare.c_str());
            std::snprintf(request.url, sizeof request.url, "http://www.%s/", bare.c_str());
            const bool blocked = manager.Exists(request);
            if (which == 0 || which == 4) FUZZ_CHECK(blocked && request.blockPage);
            if (which == 1 || which == 5) FUZZ_CHECK(!blocked && request.white);
            if (which == 2) FUZZ_CHECK(request.noImageMark && !blocked);
        }
    } else if (which < 9) {
        CheckWords(content, which == 8);
    } else {
        CheckConfig();
    }
    return 0;
}
