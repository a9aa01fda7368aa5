#pragma once

#include <string>

// A whole text file (UTF-8, optional byte-order mark) read as wide text.
class CMyFile {
public:
    CMyFile(const char* fileName, int reserved1 = 0, int reserved2 = 0);
    // The file's content as it is now; empty when it cannot be read.
    std::wstring getContent() const;

private:
    std::string fileName_;
};
