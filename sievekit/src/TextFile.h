#pragma once

#include <string>
#include <vector>

namespace sievekit {

// Reads a whole file, dropping a leading UTF-8 byte-order mark. The path may
// be written with "\" separators. False when it cannot be read.
bool ReadTextFile(const std::string& path, std::string& bytes);
// The lines of a text: split at LF, a trailing CR removed.
std::vector<std::string> SplitLines(const std::string& bytes);
// Writes through a temporary file and a rename, so a reader sees the old or
// the new file whole. False on any failure (the old file is kept).
bool WriteFileAtomically(const std::string& path, const std::string& bytes);

std::wstring Utf8ToWide(const std::string& bytes);
std::string WideToUtf8(const std::wstring& text);

}  // namespace sievekit
