#include "sievekit/CMyFile.h"

#include "TextFile.h"

CMyFile::CMyFile(const char* fileName, int, int) : fileName_(fileName ? fileName : "") {}

std::wstring CMyFile::getContent() const {
    std::string bytes;
    if (!sievekit::ReadTextFile(fileName_, bytes)) return {};
    return sievekit::Utf8ToWide(bytes);
}
