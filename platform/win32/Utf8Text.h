#pragma once

// The program's own texts (titles, captions, dialog texts) are UTF-8; text
// that came from the system may be in the ANSI code page instead. Shared by
// the Win32 implementation only.

#include <windows.h>

#include <string>
#include <string_view>

#include "WideText.h"

namespace platform::win32 {

// UTF-8 when the bytes are valid UTF-8, else the ANSI code page.
inline std::wstring WideFromUtf8(std::string_view text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return WideFrom(text, CP_ACP);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

}  // namespace platform::win32
