#include "support/TempFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

TempFolder::TempFolder(bool enter) {
    // A new folder with a random name; create_directory fails on an existing
    // one, so two tests never share a folder.
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; path_.empty(); ++attempt) {
        if (attempt == 100) throw std::runtime_error("no fresh temporary folder");
        fs::path candidate = fs::temp_directory_path() / ("morvane-test-" + std::to_string(random() % 1000000000000ULL));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) path_ = candidate.generic_string();
    }
    if (enter) {
        previousDir_ = fs::current_path().string();
        fs::current_path(path_);
    }
}

TempFolder::~TempFolder() {
    std::error_code ec;
    if (!previousDir_.empty()) fs::current_path(previousDir_, ec);
    fs::remove_all(path_, ec);
}

void TempFolder::Write(const std::string& relative, const std::string& content) const {
    fs::path p = fs::path(path_) / relative;
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string TempFolder::Read(const std::string& relative) const {
    std::ifstream in(fs::path(path_) / relative, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool TempFolder::Exists(const std::string& relative) const { return fs::exists(fs::path(path_) / relative); }

}  // namespace testsupport
