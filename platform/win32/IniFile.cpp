#include "platform/IniFile.h"

#include <windows.h>

#include <algorithm>
#include <string_view>

namespace platform {

namespace {

std::string_view Trim(std::string_view s) {
    const char* blanks = " \t\r\n\v\f";
    const size_t first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    const size_t last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

// GetPrivateProfileString looks for a bare file name in the Windows folder;
// the program's names are relative to its current folder.
std::string FullPath(const std::string& file) {
    std::string full(MAX_PATH, '\0');
    DWORD n = GetFullPathNameA(file.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n >= full.size()) {
        // Too small: n is the size needed, the terminating zero included.
        full.resize(n);
        n = GetFullPathNameA(file.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (n == 0 || n >= full.size()) return {};
    full.resize(n);
    return full;
}

}  // namespace

std::string ReadProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                              size_t bufferSize, const std::string& file) {
    if (bufferSize == 0) return {};
    const DWORD size = static_cast<DWORD>(std::min<size_t>(bufferSize, 0x7FFFFFFF));
    // The system drops only trailing blanks of the default; values lose
    // blanks at both ends, and so does the default here.
    const std::string fallback(Trim(defaultValue).substr(0, size - 1));
    const std::string path = file.empty() ? std::string() : FullPath(file);
    if (path.empty()) return fallback;
    std::string buffer(size, '\0');
    const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer.data(), size,
                                             path.c_str());
    buffer.resize(std::min<DWORD>(n, size - 1));
    return buffer;
}

}  // namespace platform
