#include "support/TempFolder.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

TempFolder::TempFolder(bool enter) {
    std::string tmpl = (fs::temp_directory_path() / "morvane-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
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
