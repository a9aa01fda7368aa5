// Read-only registry access.
#include "platform/Registry.h"

#include <windows.h>

#include <utility>

#include "WideText.h"

namespace platform {

struct RegistryKey::Handle {
    HKEY key = nullptr;
    ~Handle() { RegCloseKey(key); }
};

namespace {

// The registry's own limit on a key name, without the terminating zero.
constexpr DWORD kMaxKeyNameLength = 255;

HKEY RootKey(RegistryRoot root) {
    switch (root) {
        case RegistryRoot::CurrentUser:
            return HKEY_CURRENT_USER;
        case RegistryRoot::LocalMachine:
            return HKEY_LOCAL_MACHINE;
    }
    return HKEY_CURRENT_USER;
}

}  // namespace

std::optional<RegistryKey> RegistryKey::Open(RegistryRoot root, const std::string& path) {
    std::string backslashed = path;
    for (char& c : backslashed)
        if (c == '/') c = '\\';
    const std::wstring subKey = win32::WideFrom(backslashed);
    if (subKey.empty() != backslashed.empty()) return std::nullopt;
    // Reading is all this interface does: KEY_READ opens wherever the user may
    // enumerate, also where writing is refused.
    HKEY key = nullptr;
    if (RegOpenKeyExW(RootKey(root), subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    auto handle = std::make_unique<Handle>();
    handle->key = key;
    return RegistryKey(std::move(handle));
}

RegistryKey::RegistryKey(std::unique_ptr<Handle> handle) noexcept : handle_(std::move(handle)) {}
RegistryKey::~RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;

std::size_t RegistryKey::SubKeyCount() const {
    DWORD count = 0;
    if (RegQueryInfoKeyW(handle_->key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return 0;
    return count;
}

std::optional<std::string> RegistryKey::SubKeyName(std::size_t index) const {
    if (index > MAXDWORD) return std::nullopt;
    wchar_t name[kMaxKeyNameLength + 1];
    DWORD length = kMaxKeyNameLength + 1;
    if (RegEnumKeyExW(handle_->key, static_cast<DWORD>(index), name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return win32::NarrowFrom(std::wstring_view(name, length));
}

std::vector<std::string> RegistryKey::SubKeyNames() const {
    std::vector<std::string> names;
    const std::size_t count = SubKeyCount();
    for (std::size_t index = 0; index < count; ++index)
        if (auto name = SubKeyName(index)) names.push_back(std::move(*name));
    return names;
}

std::optional<std::string> RegistryKey::ReadString(const std::string& valueName) const {
    const std::wstring name = win32::WideFrom(valueName);
    if (name.empty() != valueName.empty()) return std::nullopt;
    // The value may grow between asking its size and reading it: ask again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(handle_->key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return std::nullopt;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
        std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
        DWORD read = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        const LSTATUS rc =
            RegQueryValueExW(handle_->key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &read);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
        // Stored strings may or may not carry their terminating zeros.
        data.resize(read / sizeof(wchar_t));
        while (!data.empty() && data.back() == L'\0') data.pop_back();
        return win32::NarrowFrom(data);
    }
    return std::nullopt;
}

}  // namespace platform
