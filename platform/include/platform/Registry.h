#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Read-only access to the registry. The POSIX stand-in is a folder tree, one
// folder per key, under $MORVANE_REGISTRY_ROOT (default
// $XDG_CONFIG_HOME/morvane/registry, $XDG_CONFIG_HOME defaulting to
// ~/.config). HKEY_CURRENT_USER is the folder "HKCU", HKEY_LOCAL_MACHINE the
// folder "HKLM". A value is a regular file in its key's folder, named as the
// value ("(Default)" for the unnamed one), holding the value's data; a string
// value is UTF-8 text, one trailing line break ignored. Key names match as the
// registry does, ignoring ASCII letter case; an exact match wins.
enum class RegistryRoot { CurrentUser, LocalMachine };

class RegistryKey {
public:
    // Opens root\path, path components separated by backslashes (or slashes).
    // Empty when the key does not exist.
    static std::optional<RegistryKey> Open(RegistryRoot root, const std::string& path);

    // Names of the direct sub-keys in enumeration order (sorted ignoring case).
    std::vector<std::string> SubKeyNames() const;
    std::size_t SubKeyCount() const { return SubKeyNames().size(); }
    // The sub-key at `index` of the enumeration; empty past the end.
    std::optional<std::string> SubKeyName(std::size_t index) const;

    // A string value; empty when absent.
    std::optional<std::string> ReadString(const std::string& valueName) const;

    // The folder standing in for the key.
    const std::string& Folder() const { return folder_; }

private:
    explicit RegistryKey(std::string folder) : folder_(std::move(folder)) {}
    std::string folder_;
};

// The folder under which the stand-in's roots live.
std::string RegistryRootFolder();

}  // namespace platform
