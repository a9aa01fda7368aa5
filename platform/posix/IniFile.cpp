#include "platform/IniFile.h"

#include <fstream>
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

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string Cut(std::string_view value, size_t bufferSize) {
    if (bufferSize == 0) return {};
    return std::string(value.substr(0, bufferSize - 1));
}

}  // namespace

std::string ReadProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                              size_t bufferSize, const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return Cut(Trim(defaultValue), bufferSize);

    bool inSection = false;
    bool sectionSeen = false;
    std::string line;
    bool firstLine = true;
    while (std::getline(in, line)) {
        std::string_view view(line);
        if (firstLine && view.substr(0, 3) == "\xEF\xBB\xBF") view.remove_prefix(3);
        firstLine = false;
        view = Trim(view);
        if (view.empty() || view.front() == ';') continue;
        if (view.front() == '[') {
            // Only the first section of that name counts.
            if (inSection) break;
            const size_t close = view.find(']');
            const std::string_view name = Trim(view.substr(1, close == std::string_view::npos ? view.npos : close - 1));
            inSection = !sectionSeen && EqualsNoCase(name, section);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        if (!inSection) continue;
        const size_t eq = view.find('=');
        if (eq == std::string_view::npos) continue;
        if (!EqualsNoCase(Trim(view.substr(0, eq)), key)) continue;
        std::string_view value = Trim(view.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return Cut(value, bufferSize);
    }
    return Cut(Trim(defaultValue), bufferSize);
}

}  // namespace platform
