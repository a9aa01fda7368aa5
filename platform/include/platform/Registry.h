#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Read-only access to the registry. Names and string data are narrow text
// (the ANSI code page on Windows, UTF-8 in the POSIX stand-in). Key names
// match as the registry does, ignoring ASCII letter case.
//
// The POSIX stand-in is a folder tree, one folder per key, under
// $MORVANE_REGISTRY_ROOT (default $XDG_CONFIG_HOME/morvane/registry,
// $XDG_CONFIG_HOME defaulting to ~/.config). HKEY_CURRENT_USER is the folder
// "HKCU", HKEY_LOCAL_MACHINE the folder "HKLM". A value is a regular file in
// its key's folder, named as the value ("(Default)" for the unnamed one),
// holding the value's data, one trailing line break ignored; an exact match
// of a name wins over one that differs in case.
enum class RegistryRoot { CurrentUser, LocalMachine };

class RegistryKey {
public:
    // Opens root\path, path components separated by backslashes (or slashes).
    // Empty when the key does not exist or cannot be read.
    static std::optional<RegistryKey> Open(RegistryRoot root, const std::string& path);
    ~RegistryKey();
    RegistryKey(RegistryKey&& other) noexcept;
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // The number of direct sub-keys (0 when it cannot be read).
    std::size_t SubKeyCount() const;
    // The sub-key at `index` of the enumeration (the registry's order:
    // sorted ignoring case); empty past the end, on a read error, and for a
    // name longer than 255 characters.
    std::optional<std::string> SubKeyName(std::size_t index) const;
    // Every sub-key name the enumeration gives, in its order.
    std::vector<std::string> SubKeyNames() const;

    // A string value; empty when absent or not a string.
    std::optional<std::string> ReadString(const std::string& valueName) const;

    // The system's key, defined by each implementation.
    struct Handle;
    explicit RegistryKey(std::unique_ptr<Handle> handle) noexcept;

private:
    std::unique_ptr<Handle> handle_;
};

}  // namespace platform
