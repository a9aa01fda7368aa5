#include "platform/File.h"

#include <windows.h>

#include <algorithm>

#include "WideText.h"

namespace platform {

namespace {

// How long a replace waits for readers that hold the target open. The
// program's own readers hold a file only for one read; the limit keeps a
// save from hanging on another program that keeps the file open.
constexpr ULONGLONG kHeldTargetWaitMs = 2000;

// Puts the written temporary file in the target's place.
bool MoveIntoPlace(const std::wstring& tmp, const std::wstring& dst) {
    const ULONGLONG deadline = GetTickCount64() + kHeldTargetWaitMs;
    for (unsigned attempt = 0;; ++attempt) {
        if (MoveFileExW(tmp.c_str(), dst.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        // MoveFileExW never replaces a file that is open, however the reader
        // shares it (ReplaceFileW could, but it moves the old file aside
        // first, so a reader could then find no file at all): wait until no
        // reader holds the target. Windows' own scanners and indexers open
        // files briefly too.
        DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return false;
        // Refused for good, not because of a reader.
        DWORD attributes = GetFileAttributesW(dst.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
            return false;
        if (GetTickCount64() >= deadline) return false;
        Sleep(attempt < 16 ? 0 : 1);  // first let the readers of this process run
    }
}

}  // namespace

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
    if (!ok || !MoveIntoPlace(tmp, dst)) {
        DeleteFileW(tmp.c_str());
        return false;
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    const std::wstring name = win32::WideFrom(path);
    if (name.empty()) return false;
    // Shared for writing and deletion too, so that this reader never makes
    // another program's attempt to write, rename or delete the file fail.
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(h, &size) && size.QuadPart > 0 && static_cast<unsigned long long>(size.QuadPart) < bytes.max_size())
        bytes.reserve(static_cast<size_t>(size.QuadPart));
    // Read to the end rather than to the size seen at the start: the file may
    // grow meanwhile.
    bool ok = true;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h, buffer, sizeof buffer, &got, nullptr)) ok = false;
        if (!ok || got == 0) break;
        bytes.append(buffer, got);
    }
    CloseHandle(h);
    if (!ok) bytes.clear();
    return ok;
}

unsigned long CurrentProcessNumber() { return GetCurrentProcessId(); }

}  // namespace platform
