#pragma once

#include <memory>
#include <mutex>
#include <string>

// A keyword list: kind 1 is the block list ("Data/block_words.txt" and
// "Data/user_block_words.txt"), kind 0 the exempt list
// ("Data/exempt_words.txt"). HasWord finds any listed word as a substring,
// ignoring ASCII case, in one pass over the text.
class CWordFilter {
public:
    explicit CWordFilter(int kind);
    ~CWordFilter();
    CWordFilter(const CWordFilter&) = delete;
    CWordFilter& operator=(const CWordFilter&) = delete;

    // true: the product list and the user list; false: the user list only.
    void ReloadData(bool includeProductList);
    // Narrow text is code page 936.
    int HasWord(const std::string& text) const;
    int HasWord(const std::wstring& text) const;
    size_t WordCount() const;

    struct Matcher;  // the compiled automaton, swapped whole on reload

private:
    int kind_;
    // Serialises reloads, so the automaton published last is built from the
    // files as they were when the last reload began, not by a slower earlier one.
    std::mutex reloadLock_;
    // The current automaton, swapped whole on reload. A plain pointer under a
    // short lock: libstdc++ 12's atomic<shared_ptr> releases its read side
    // with relaxed order, which is a data race against the next store.
    mutable std::mutex matcherLock_;
    std::shared_ptr<const Matcher> matcher_;
    std::shared_ptr<const Matcher> Current() const;
};
