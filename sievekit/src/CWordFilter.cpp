#include "sievekit/CWordFilter.h"

#include <algorithm>
#include <queue>
#include <vector>

#include "sievekit/CUtility.h"
#include "TextFile.h"

namespace {

wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

std::vector<std::wstring> ReadWords(const char* path) {
    std::vector<std::wstring> words;
    std::string bytes;
    if (!sievekit::ReadTextFile(path, bytes)) return words;
    for (const auto& line : sievekit::SplitLines(bytes)) {
        size_t b = line.find_first_not_of(" \t");
        if (b == std::string::npos || line[b] == '#') continue;
        size_t e = line.find_last_not_of(" \t");
        words.push_back(sievekit::Utf8ToWide(line.substr(b, e - b + 1)));
    }
    return words;
}

}  // namespace

// Aho-Corasick automaton over ASCII-case-folded wide characters: one pass over
// the text finds whether any word occurs, however many words there are.
struct CWordFilter::Matcher {
    struct Node {
        std::vector<std::pair<wchar_t, int>> edges;  // sorted by character
        int fail = 0;
        bool terminal = false;  // a word ends here or at a suffix of this node
    };
    std::vector<Node> nodes{1};
    size_t wordCount = 0;
    // The root's moves on ASCII characters, looked up directly (-1: none);
    // most text is ASCII and the root is where most moves start.
    int rootAscii[128] = {};

    int Next(int node, wchar_t c) const {
        const auto& e = nodes[node].edges;
        auto it = std::lower_bound(e.begin(), e.end(), c, [](const auto& p, wchar_t v) { return p.first < v; });
        return it != e.end() && it->first == c ? it->second : -1;
    }

    void Add(const std::wstring& word) {
        if (word.empty()) return;
        int node = 0;
        for (wchar_t raw : word) {
            wchar_t c = FoldAscii(raw);
            int next = Next(node, c);
            if (next < 0) {
                next = static_cast<int>(nodes.size());
                nodes.emplace_back();
                auto& e = nodes[node].edges;
                auto it = std::lower_bound(e.begin(), e.end(), c,
                                           [](const auto& p, wchar_t v) { return p.first < v; });
                e.insert(it, {c, next});
            }
            node = next;
        }
        if (!nodes[node].terminal) ++wordCount;
        nodes[node].terminal = true;
    }

    void Build() {
        for (int c = 0; c < 128; ++c) rootAscii[c] = Next(0, static_cast<wchar_t>(c));
        std::queue<int> pending;
        for (auto& [c, child] : nodes[0].edges) {
            nodes[child].fail = 0;
            pending.push(child);
        }
        while (!pending.empty()) {
            int node = pending.front();
            pending.pop();
            for (auto& [c, child] : nodes[node].edges) {
                int f = nodes[node].fail;
                int target;
                while ((target = Next(f, c)) < 0 && f != 0) f = nodes[f].fail;
                nodes[child].fail = target >= 0 && target != child ? target : 0;
                if (nodes[nodes[child].fail].terminal) nodes[child].terminal = true;
                pending.push(child);
            }
        }
    }

    bool Find(const wchar_t* text, size_t n) const {
        if (wordCount == 0) return false;
        int node = 0;
        for (size_t i = 0; i < n; ++i) {
            wchar_t c = FoldAscii(text[i]);
            int next;
            while ((next = node == 0 && c >= 0 && c < 128 ? rootAscii[c] : Next(node, c)) < 0 && node != 0)
                node = nodes[node].fail;
            node = next < 0 ? 0 : next;
            if (nodes[node].terminal) return true;
        }
        return false;
    }
};

CWordFilter::CWordFilter(int kind) : kind_(kind), matcher_(std::make_shared<const Matcher>()) {}

CWordFilter::~CWordFilter() = default;

void CWordFilter::ReloadData(bool includeProductList) {
    std::lock_guard<std::mutex> reload(reloadLock_);
    auto m = std::make_shared<Matcher>();
    if (kind_ == 0) {
        for (const auto& w : ReadWords("Data/exempt_words.txt")) m->Add(w);
    } else {
        if (includeProductList)
            for (const auto& w : ReadWords("Data/block_words.txt")) m->Add(w);
        for (const auto& w : ReadWords("Data/user_block_words.txt")) m->Add(w);
    }
    m->Build();
    std::lock_guard<std::mutex> g(matcherLock_);
    matcher_ = std::move(m);
}

std::shared_ptr<const CWordFilter::Matcher> CWordFilter::Current() const {
    std::lock_guard<std::mutex> g(matcherLock_);
    return matcher_;
}

int CWordFilter::HasWord(const std::string& text) const {
    if (text.empty()) return 0;
    std::wstring wide = CUtility().atow(text.data(), static_cast<int>(text.size()));
    return HasWord(wide);
}

int CWordFilter::HasWord(const std::wstring& text) const {
    auto m = Current();
    return m->Find(text.data(), text.size()) ? 1 : 0;
}

size_t CWordFilter::WordCount() const { return Current()->wordCount; }
