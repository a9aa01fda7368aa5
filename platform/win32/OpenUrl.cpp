#include "platform/OpenUrl.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>

#include "Utf8Text.h"

namespace platform {

bool OpenUrl(const std::string& url) {
    // The shell may hand the address to a COM server.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const std::wstring address = win32::WideFromUtf8(url);
    const HINSTANCE result = ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOW);
    if (SUCCEEDED(com)) CoUninitialize();
    // Values above 32 mean success.
    if (reinterpret_cast<INT_PTR>(result) > 32) return true;
    std::printf("%s\n", url.c_str());
    std::fflush(stdout);
    return false;
}

}  // namespace platform
