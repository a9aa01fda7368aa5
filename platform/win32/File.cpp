#include "platform/File.h"

#include <windows.h>

#include <algorithm>

#include "WideText.h"

namespace platform {

bool ReplaceFileWith(const std::string& target, const std::string& temporary, std::string_view bytes) {
    const std::wstring tmp = win32::WideFrom(temporary);
    const std::wstring dst = win32::WideFrom(target);
    if (tmp.empty() || dst.empty()) return false;
    // CREATE_NEW: a file already at the temporary name is never opened.
    HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        ok = WriteFile(h, bytes.data() + done, chunk, &written, nullptr) && written > 0;
        done += written;
    }
    ok = FlushFileBuffers(h) && ok;
    ok = CloseHandle(h) && ok;
    // Unlike rename() on Windows, MoveFileExW replaces an existing target.
    if (!ok || !MoveFileExW(tmp.c_str(), dst.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(tmp.c_str());
        return false;
    }
    return true;
}

unsigned long CurrentProcessNumber() { return GetCurrentProcessId(); }

}  // namespace platform
