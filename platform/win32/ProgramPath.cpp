#include "platform/ProgramPath.h"

#include <windows.h>

#include "WideText.h"

namespace platform {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::string ProgramPath() {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    // 0 is a failure; a full buffer means the path was cut.
    if (n == 0 || n >= MAX_PATH) return {};
    return win32::NarrowFrom(std::wstring_view(path, n));
}

std::string ProgramFolder() {
    std::string path = ProgramPath();
    size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) return {};
    // A program at the top of a drive keeps the root's separator ("C:\").
    if (cut == 0 || (cut == 2 && path[1] == ':')) return path.substr(0, cut + 1);
    return path.substr(0, cut);
}

bool SetWorkingDirectory(const std::string& folder) {
    if (folder.empty()) return false;
    std::wstring wide = win32::WideFrom(folder);
    return !wide.empty() && SetCurrentDirectoryW(wide.c_str()) != 0;
}

std::string JoinPath(const std::string& folder, const std::string& relative) {
    std::string rel = relative;
    for (char& c : rel)
        if (c == '/') c = '\\';
    if (folder.empty()) return rel;
    if (IsSeparator(folder.back())) return folder + rel;
    return folder + "\\" + rel;
}

}  // namespace platform
