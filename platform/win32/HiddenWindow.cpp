// The invisible main window: a window of its own class, shown hidden, whose
// destruction ends the thread's message loop.
#include "platform/HiddenWindow.h"

#include <windows.h>

#include "WideText.h"

namespace platform {

struct HiddenWindow::State {
    std::string title;
    HWND window = nullptr;
    DWORD creator = 0;
    // Written by the window procedure, which runs on the creating thread only.
    bool destroyed = false;
};

namespace {

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            // Nothing to draw.
            ValidateRect(window, nullptr);
            return 0;
        case WM_DESTROY: {
            // Ends the loop of a window whose object still lives; one that its
            // object's destructor takes down leaves no quit message behind for
            // a later loop on the thread.
            auto* state = reinterpret_cast<HiddenWindow::State*>(GetWindowLongPtrW(window, GWLP_USERDATA));
            if (state) {
                state->destroyed = true;
                PostQuitMessage(0);
            }
            return 0;
        }
        default:
            // WM_CLOSE among them: the default destroys the window.
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

std::unique_ptr<HiddenWindow> HiddenWindow::Create(const std::string& className, const std::string& title) {
    const std::wstring wideClass = win32::WideFrom(className);
    const std::wstring wideTitle = win32::WideFrom(title);
    if (wideClass.empty()) return nullptr;
    const HINSTANCE instance = GetModuleHandleW(nullptr);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = wideClass.c_str();
    // A second window of the class in this process reuses the registration.
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;

    HWND window = CreateWindowExW(0, wideClass.c_str(), wideTitle.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                  CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    if (!window) return nullptr;
    auto state = std::make_unique<State>();
    state->title = title;
    state->window = window;
    state->creator = GetCurrentThreadId();
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state.get()));
    ShowWindow(window, SW_HIDE);
    return std::unique_ptr<HiddenWindow>(new HiddenWindow(std::move(state)));
}

HiddenWindow::HiddenWindow(std::unique_ptr<State> state) : state_(std::move(state)) {}

HiddenWindow::~HiddenWindow() {
    if (state_->destroyed) return;
    // The window must not reach the state once it is gone.
    SetWindowLongPtrW(state_->window, GWLP_USERDATA, 0);
    // Only the creating thread may destroy the window; from any other, ask it.
    if (GetCurrentThreadId() == state_->creator)
        DestroyWindow(state_->window);
    else
        PostMessageW(state_->window, WM_CLOSE, 0, 0);
}

const std::string& HiddenWindow::Title() const { return state_->title; }

int HiddenWindow::RunMessageLoop() {
    if (state_->destroyed) return 0;
    MSG message;
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(message.wParam);
        if (got == -1) return 0;  // nothing left to wait with: end as if destroyed
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void HiddenWindow::Destroy() {
    // Posted, so it is safe from any thread: the window procedure runs on the
    // creating thread and destroys the window there.
    PostMessageW(state_->window, WM_CLOSE, 0, 0);
}

}  // namespace platform
