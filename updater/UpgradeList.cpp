#include "UpgradeList.h"

#include <cstdlib>
#include <fstream>

namespace updater {

namespace {

// The integer at the start of a column, read the way atoi does.
long long LeadingInteger(const std::string& text) {
    return std::strtoll(text.c_str(), nullptr, 10);
}

std::string Cut(const std::string& text, size_t maximum) { return text.substr(0, maximum); }

}  // namespace

UpgradeItem ParseUpgradeLine(const std::string& line) {
    std::vector<std::string> columns;
    size_t pos = 0;
    while (columns.size() < 6) {
        // Runs of tabs are one separator, so an empty column is never seen.
        pos = line.find_first_not_of('\t', pos);
        if (pos == std::string::npos) break;
        size_t end = line.find('\t', pos);
        if (end == std::string::npos) end = line.size();
        columns.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    columns.resize(6);

    UpgradeItem item;
    item.archive = LeadingInteger(columns[0]) != 0;
    item.fileName = Cut(columns[1], UpgradeItem::kFileNameMax);
    item.version = Cut(columns[2], UpgradeItem::kVersionMax);
    item.url = Cut(columns[3], UpgradeItem::kUrlMax);
    item.extraPath = Cut(columns[4], UpgradeItem::kExtraPathMax);
    item.extraFlag = LeadingInteger(columns[5]) != 0;
    return item;
}

void ReadUpgradeList(UpgradeList& list) {
    std::ifstream in(list.fileName, std::ios::binary);
    if (!in) return;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() >= kLongManifestLine) break;
        if (!line.empty() && line.front() == ';') continue;
        list.items.push_back(ParseUpgradeLine(line));
    }
}

bool IsSafeItemPath(const std::string& fileName) {
    if (fileName.empty()) return true;  // an empty name simply fails to download
    if (fileName.front() == '/' || fileName.front() == '\\') return false;
    if (fileName.size() >= 2 && fileName[1] == ':') return false;  // "C:..." names a drive
    size_t start = 0;
    while (start <= fileName.size()) {
        size_t end = fileName.find_first_of("/\\", start);
        if (end == std::string::npos) end = fileName.size();
        if (fileName.compare(start, end - start, "..") == 0 && end - start == 2) return false;
        start = end + 1;
    }
    return true;
}

}  // namespace updater
