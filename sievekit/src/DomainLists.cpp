#include "sievekit/CUtility.h"
#include "sievekit/IDomain.h"

namespace {

bool IsComment(const std::wstring& line) { return !line.empty() && line[0] == L'#'; }

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

void LowerAscii(std::string& s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

// The form in which a domain entry is indexed and compared: narrow, trimmed,
// lower case, without a leading dot.
std::string DomainKey(const std::wstring& entry) {
    std::string s = Trim(CUtility().wtoa(entry.c_str(), static_cast<int>(entry.size())));
    while (!s.empty() && s[0] == '.') s.erase(0, 1);
    LowerAscii(s);
    return s;
}

}  // namespace

CDomainList::CDomainList(const char* fileName) : CMyList(fileName) { OnEntriesChanged(*Snapshot()); }

CDomainList::~CDomainList() = default;

void CDomainList::OnEntriesChanged(const Entries& entries) {
    auto index = std::make_shared<Index>();
    for (const auto& e : entries) {
        if (IsComment(e)) continue;
        std::string key = DomainKey(e);
        if (!key.empty()) index->insert(std::move(key));
    }
    std::lock_guard<std::mutex> g(indexLock_);
    index_ = std::move(index);
}

bool CDomainList::MatchesHost(const char* host) const {
    if (!host || !*host) return false;
    std::shared_ptr<const Index> index;
    {
        std::lock_guard<std::mutex> g(indexLock_);
        index = index_;
    }
    if (!index || index->empty()) return false;
    std::string h(host);
    LowerAscii(h);
    // The host itself, then every suffix that follows a dot.
    for (size_t pos = 0; pos != std::string::npos;) {
        if (index->count(h.substr(pos))) return true;
        size_t dot = h.find('.', pos);
        pos = dot == std::string::npos ? dot : dot + 1;
    }
    return false;
}

bool CDomainList::IsExists(const DomainStruct& domain) { return MatchesHost(domain.host); }

bool CDomainList::add(const wchar_t* text) {
    if (!text) return false;
    std::string key = DomainKey(text);
    if (key.empty()) return false;
    return AddEntry(CUtility().atow(key.c_str(), static_cast<int>(key.size())));
}

CUserBlackDomain::CUserBlackDomain() : CDomainList("Data/user_black.txt") {}
CUserWhiteDomain::CUserWhiteDomain() : CDomainList("Data/user_white.txt") {}
CNoneImageDomain::CNoneImageDomain() : CDomainList("Data/user_noimage.txt") {}

bool CNoneImageDomain::IsExists(const DomainStruct& domain) {
    return MatchesHost(domain.host) || MatchesHost(domain.refererDomain);
}

CManualFilterImage::CManualFilterImage() : CMyList("Data/manual_image.txt") { OnEntriesChanged(*Snapshot()); }

CManualFilterImage::~CManualFilterImage() = default;

void CManualFilterImage::OnEntriesChanged(const Entries& entries) {
    auto fragments = std::make_shared<std::vector<std::string>>();
    for (const auto& e : entries) {
        if (IsComment(e)) continue;
        std::string f = Trim(CUtility().wtoa(e.c_str(), static_cast<int>(e.size())));
        if (!f.empty()) fragments->push_back(std::move(f));
    }
    std::lock_guard<std::mutex> g(fragmentsLock_);
    fragments_ = std::move(fragments);
}

bool CManualFilterImage::IsExists(const DomainStruct& domain) {
    std::shared_ptr<const std::vector<std::string>> fragments;
    {
        std::lock_guard<std::mutex> g(fragmentsLock_);
        fragments = fragments_;
    }
    if (!fragments) return false;
    std::string_view url(domain.url);
    for (const auto& f : *fragments)
        if (url.find(f) != std::string_view::npos) return true;
    return false;
}

bool CManualFilterImage::add(const wchar_t* text) {
    if (!text) return false;
    std::string f = Trim(CUtility().wtoa(text, -1));
    if (f.empty()) return false;
    return AddEntry(CUtility().atow(f.c_str(), static_cast<int>(f.size())));
}
