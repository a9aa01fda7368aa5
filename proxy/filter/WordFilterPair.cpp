#include "filter/WordFilterPair.h"

namespace {
template <typename Text>
bool Filtered(const WordFilterPair& words, const Text& text) {
    if (words.exempt && words.exempt->HasWord(text) != 0) return false;
    return words.block && words.block->HasWord(text) != 0;
}
}  // namespace

bool TextIsFiltered(const WordFilterPair& words, const std::wstring& text) { return Filtered(words, text); }

bool TextIsFiltered(const WordFilterPair& words, const std::string& text) { return Filtered(words, text); }
