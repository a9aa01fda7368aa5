// The registry stand-in's keys: folders under a root of the test's own.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "support/TempFolder.h"
#include "support/TestKeys.h"

namespace testsupport {

namespace fs = std::filesystem;

struct TestKeys::State {
    TempFolder folder;
    std::optional<std::string> previousRoot;
};

namespace {

fs::path KeyFolder(const TempFolder& folder, const std::string& root, const std::string& relative) {
    std::string path = "HKCU\\" + root + (relative.empty() ? "" : "\\" + relative);
    for (char& c : path)
        if (c == '\\') c = '/';
    return fs::path(folder.path()) / path;
}

}  // namespace

TestKeys::TestKeys() : root_("Software\\MorvaneTest"), state_(std::make_unique<State>()) {
    if (const char* previous = ::getenv("MORVANE_REGISTRY_ROOT")) state_->previousRoot = previous;
    ::setenv("MORVANE_REGISTRY_ROOT", state_->folder.path().c_str(), 1);
    Create("");
}

TestKeys::~TestKeys() {
    if (state_->previousRoot)
        ::setenv("MORVANE_REGISTRY_ROOT", state_->previousRoot->c_str(), 1);
    else
        ::unsetenv("MORVANE_REGISTRY_ROOT");
}

bool TestKeys::Create(const std::string& relative) const {
    std::error_code ec;
    fs::create_directories(KeyFolder(state_->folder, root_, relative), ec);
    return !ec;
}

bool TestKeys::SetString(const std::string& relative, const std::string& name, const std::string& value) const {
    if (!Create(relative)) return false;
    std::ofstream out(KeyFolder(state_->folder, root_, relative) / (name.empty() ? "(Default)" : name),
                      std::ios::binary | std::ios::trunc);
    out << value;
    return static_cast<bool>(out);
}

}  // namespace testsupport
