// Named mutex objects. The system removes the name when its last handle
// closes, however the holder ends.
#include "platform/NamedMutex.h"

#include <windows.h>

#include "WideText.h"

namespace platform {

struct NamedMutex::Handle {
    HANDLE mutex = nullptr;
    ~Handle() { CloseHandle(mutex); }
};

NamedMutex::NamedMutex(const std::string& name) {
    const std::wstring wide = win32::WideFrom(name);
    if (wide.empty()) {
        error_ = ERROR_INVALID_NAME;
        return;
    }
    // Not inheritable: programs this process starts do not keep the name.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, wide.c_str());
    const DWORD error = GetLastError();
    if (mutex && error == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        alreadyExisted_ = true;
        return;
    }
    if (!mutex) {
        // A mutex of another user's with that name cannot be opened, but it exists.
        if (error == ERROR_ACCESS_DENIED)
            alreadyExisted_ = true;
        else
            error_ = static_cast<int>(error);
        return;
    }
    handle_ = std::make_unique<Handle>();
    handle_->mutex = mutex;
}

NamedMutex::~NamedMutex() = default;

}  // namespace platform
