#pragma once

#include <string>

#include <sievekit/CWordFilter.h>

// The proxy's two keyword filters, not owned: block (kind 1) and exempt (kind 0).
struct WordFilterPair {
    CWordFilter* block = nullptr;
    CWordFilter* exempt = nullptr;
};

// A text is filtered when the exempt list finds no word in it and the block
// list finds one. The exempt list is always asked first.
bool TextIsFiltered(const WordFilterPair& words, const std::wstring& text);
bool TextIsFiltered(const WordFilterPair& words, const std::string& text);
