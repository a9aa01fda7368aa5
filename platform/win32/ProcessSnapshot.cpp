// Toolhelp process snapshots.
#include "platform/ProcessSnapshot.h"

#include <windows.h>
#include <tlhelp32.h>

#include <functional>

#include "WideText.h"

namespace platform {

namespace {

// Walks a snapshot of the running processes until `stop` says so; false when
// no snapshot could be taken. The snapshot is closed in every case.
bool WalkProcesses(const std::function<bool(const PROCESSENTRY32W&)>& stop) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (stop(entry)) break;
    CloseHandle(snapshot);
    return true;
}

}  // namespace

std::string ExecutableName(ProcessId pid) {
    if (pid == kNoProcess) return {};
    std::string name;
    WalkProcesses([&](const PROCESSENTRY32W& entry) {
        if (entry.th32ProcessID != pid) return false;
        name = win32::NarrowFrom(entry.szExeFile);
        return true;
    });
    return name;
}

ProcessId FindProcessByName(const std::string& name) {
    if (name.empty()) return kNoProcess;
    const std::wstring wanted = win32::WideFrom(name);
    if (wanted.empty()) return kNoProcess;
    ProcessId found = kNoProcess;
    // Exact comparison, letter case included: "zelk.exe" is not "ZELK.exe".
    WalkProcesses([&](const PROCESSENTRY32W& entry) {
        if (wanted != entry.szExeFile) return false;
        found = entry.th32ProcessID;
        return true;
    });
    return found;
}

}  // namespace platform
