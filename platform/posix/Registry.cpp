// Read-only registry stand-in: keys are folders, values are files.
#include "platform/Registry.h"

#include "platform/RegistryFolder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

namespace platform {

struct RegistryKey::Handle {
    std::string folder;  // the folder standing in for the key
};

namespace {

constexpr std::size_t kMaxKeyNameLength = 255;

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(LowerAscii(x)) < static_cast<unsigned char>(LowerAscii(y));
    });
}

// Entries of a folder that are folders (wantFolders) or regular files.
std::vector<std::string> Entries(const std::string& folder, bool wantFolders) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return names;
    while (dirent* entry = ::readdir(dir.get())) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string path = folder + "/" + name;
        if (wantFolders ? IsFolder(path) : IsFile(path)) names.push_back(std::move(name));
    }
    return names;
}

// The entry of `folder` that stands for the registry name `name`: the exact
// name when present, else the first one equal ignoring case.
std::optional<std::string> Resolve(const std::string& folder, const std::string& name, bool wantFolder) {
    const std::string exact = folder + "/" + name;
    if (wantFolder ? IsFolder(exact) : IsFile(exact)) return exact;
    std::vector<std::string> names = Entries(folder, wantFolder);
    std::sort(names.begin(), names.end());
    for (const auto& candidate : names)
        if (EqualIgnoringCase(candidate, name)) return folder + "/" + candidate;
    return std::nullopt;
}

const char* RootFolderName(RegistryRoot root) {
    switch (root) {
        case RegistryRoot::CurrentUser:
            return "HKCU";
        case RegistryRoot::LocalMachine:
            return "HKLM";
    }
    return "HKCU";
}

}  // namespace

std::string RegistryRootFolder() {
    const char* root = std::getenv("MORVANE_REGISTRY_ROOT");
    if (root && *root) return root;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config) return std::string(config) + "/morvane/registry";
    const char* home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.config/morvane/registry";
    return {};
}

std::optional<RegistryKey> RegistryKey::Open(RegistryRoot root, const std::string& path) {
    const std::string base = RegistryRootFolder();
    if (base.empty()) return std::nullopt;
    auto folder = Resolve(base, RootFolderName(root), true);
    if (!folder) return std::nullopt;
    std::string component;
    std::stringstream parts(path);
    while (folder && std::getline(parts, component, '\\')) {
        std::stringstream inner(component);
        std::string name;
        while (folder && std::getline(inner, name, '/')) {
            if (name.empty()) continue;
            // Keys named "." or ".." would leave the tree.
            if (name == "." || name == "..") return std::nullopt;
            folder = Resolve(*folder, name, true);
        }
    }
    if (!folder) return std::nullopt;
    auto handle = std::make_unique<Handle>();
    handle->folder = std::move(*folder);
    return RegistryKey(std::move(handle));
}

RegistryKey::RegistryKey(std::unique_ptr<Handle> handle) noexcept : handle_(std::move(handle)) {}
RegistryKey::~RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;

std::size_t RegistryKey::SubKeyCount() const { return SubKeyNames().size(); }

std::vector<std::string> RegistryKey::SubKeyNames() const {
    std::vector<std::string> names = Entries(handle_->folder, true);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        if (LessIgnoringCase(a, b)) return true;
        if (LessIgnoringCase(b, a)) return false;
        return a < b;
    });
    return names;
}

std::optional<std::string> RegistryKey::SubKeyName(std::size_t index) const {
    std::vector<std::string> names = SubKeyNames();
    // The registry's own limit on a key name; a longer folder name is no key.
    if (index >= names.size() || names[index].size() > kMaxKeyNameLength) return std::nullopt;
    return names[index];
}

std::optional<std::string> RegistryKey::ReadString(const std::string& valueName) const {
    const std::string name = valueName.empty() ? "(Default)" : valueName;
    if (name.find('/') != std::string::npos || name == "." || name == "..") return std::nullopt;
    auto file = Resolve(handle_->folder, name, false);
    if (!file) return std::nullopt;
    std::ifstream in(*file, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream content;
    content << in.rdbuf();
    std::string text = content.str();
    if (text.ends_with("\r\n"))
        text.resize(text.size() - 2);
    else if (text.ends_with('\n'))
        text.pop_back();
    return text;
}

}  // namespace platform
