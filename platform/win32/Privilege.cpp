// The debug privilege of this process's token.
#include "platform/Privilege.h"

#include <windows.h>

#include <vector>

namespace platform {

namespace {

// SE_DEBUG_NAME, spelt wide whatever the headers' character setting.
constexpr const wchar_t* kDebugPrivilegeName = L"SeDebugPrivilege";

}  // namespace

bool EnableDebugPrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return false;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool enabled = false;
    if (LookupPrivilegeValueW(nullptr, kDebugPrivilegeName, &privileges.Privileges[0].Luid)) {
        // AdjustTokenPrivileges succeeds for a privilege the token does not
        // hold and says so only through the last error (ERROR_NOT_ALL_ASSIGNED).
        const BOOL adjusted = AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr);
        enabled = adjusted && GetLastError() == 0;
    }
    CloseHandle(token);
    return enabled;
}

bool DebugPrivilegeEnabled() {
    LUID debug{};
    if (!LookupPrivilegeValueW(nullptr, kDebugPrivilegeName, &debug)) return false;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    bool enabled = false;
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    if (size >= sizeof(TOKEN_PRIVILEGES)) {
        std::vector<unsigned char> buffer(size);
        if (GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) {
            const auto* held = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
            for (DWORD i = 0; i < held->PrivilegeCount; ++i) {
                const LUID_AND_ATTRIBUTES& p = held->Privileges[i];
                if (p.Luid.LowPart == debug.LowPart && p.Luid.HighPart == debug.HighPart)
                    enabled = (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
            }
        }
    }
    CloseHandle(token);
    return enabled;
}

}  // namespace platform
