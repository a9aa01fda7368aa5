#pragma once

#include <gtest/gtest.h>
#include <platform/File.h>

#include <filesystem>
#include <string>
#include <vector>

namespace sievetest {

// Replaces a file the way an updater or editor should: the new content
// appears whole or not at all, so a concurrent reader never sees half a file.
inline void ReplaceFile(const std::string& path, const std::string& content) {
    if (!platform::ReplaceFileWith(path, path + ".writing", content)) ADD_FAILURE() << "could not replace " << path;
}

// Names of the files in a folder, to spot leftovers of an interrupted save.
inline std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    return names;
}

// Code page 936 spellings of the Chinese texts the tests use.
inline const std::string kGbkZhongWen = "\xD6\xD0\xCE\xC4";   // 中文
inline const std::string kGbkSeQing = "\xC9\xAB\xC7\xE9";     // 色情
inline const std::string kUtf8SeQing = "\xE8\x89\xB2\xE6\x83\x85";  // 色情

}  // namespace sievetest
