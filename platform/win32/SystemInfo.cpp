#include "platform/SystemInfo.h"

#include <windows.h>

#include "WideText.h"

namespace platform {

SystemVersionNumber SystemVersion() {
    // The low word holds the version: major in its low byte, minor in the high one.
    const DWORD version = GetVersion();
    return {static_cast<unsigned>(LOBYTE(LOWORD(version))), static_cast<unsigned>(HIBYTE(LOWORD(version)))};
}

std::string SystemFolder() {
    wchar_t folder[MAX_PATH];
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    // 0 is a failure, a larger count the size the folder would need.
    if (n == 0 || n >= MAX_PATH) return {};
    std::wstring_view text(folder, n);
    while (text.size() > 3 && (text.back() == L'\\' || text.back() == L'/')) text.remove_suffix(1);
    return win32::NarrowFrom(text);
}

}  // namespace platform
