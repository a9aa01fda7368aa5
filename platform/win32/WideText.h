#pragma once

// Narrow text of the Win32 layer: file names and other OS text in narrow
// strings are in the ANSI code page, as the "A" calls and std::filesystem
// read them. Shared by the Win32 implementation only.

#include <windows.h>

#include <string>
#include <string_view>

namespace platform::win32 {

inline std::wstring WideFrom(std::string_view text, UINT codePage = CP_ACP) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

inline std::string NarrowFrom(std::wstring_view text, UINT codePage = CP_ACP) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace platform::win32
