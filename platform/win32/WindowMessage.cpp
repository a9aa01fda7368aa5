// Window messages between programs: FindWindow and SendMessageTimeout to a
// window found by its title, and a window of our own that a thread serves.
#include "platform/WindowMessage.h"

#include <windows.h>

#include <future>
#include <mutex>
#include <thread>

#include "Utf8Text.h"

namespace platform {

namespace {

constexpr wchar_t kWindowClass[] = L"MorvaneMessageWindow";

// FindWindow ignores letter case; the title must match exactly. The text is
// read without a message, so a busy window cannot hold the search up.
bool HasTitle(HWND window, const std::wstring& title) {
    std::wstring text(title.size() + 2, L'\0');
    const int n = InternalGetWindowText(window, text.data(), static_cast<int>(text.size()));
    return n >= 0 && text.compare(0, static_cast<size_t>(n), title) == 0 && static_cast<size_t>(n) == title.size();
}

// A program's main window is a top-level window; a window that could only
// be made message-only (no display) is found among those.
HWND FindTitled(const std::string& title) {
    const std::wstring wide = win32::WideFromUtf8(title);
    if (wide.empty()) return nullptr;
    for (HWND parent : {static_cast<HWND>(nullptr), HWND_MESSAGE}) {
        HWND candidate = nullptr;
        while ((candidate = FindWindowExW(parent, candidate, nullptr, wide.c_str())) != nullptr)
            if (HasTitle(candidate, wide)) return candidate;
    }
    return nullptr;
}

// What a window of ours serves; reached from the window procedure.
struct WindowState {
    const MessageWindow::Handler* handler;
};

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcW(window, message, wParam, lParam);
    }
    const auto* state = reinterpret_cast<const WindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    // Commands and the messages programs define for each other go to the
    // handler; the window system's own are its business.
    if (state && (message == WM_COMMAND || message >= WM_USER)) {
        if (*state->handler) (*state->handler)(WindowMessage{message, wParam, static_cast<int64_t>(lParam)});
        return 0;
    }
    // Only Close() ends the window.
    if (message == WM_CLOSE) return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterWindowClass() {
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = WindowProcedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kWindowClass;
        return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

struct Created {
    HWND window = nullptr;
    DWORD threadId = 0;
};

}  // namespace

bool FindWindowByTitle(const std::string& title) { return FindTitled(title) != nullptr; }

bool SendMessageToWindow(const std::string& title, const WindowMessage& message, int timeoutMs) {
    HWND window = FindTitled(title);
    if (!window) return false;
    DWORD_PTR result = 0;
    // Fails when the time passes, or when the receiver's thread ends or its
    // window goes before the message is handled.
    const UINT timeout = timeoutMs < 0 ? INFINITE : static_cast<UINT>(timeoutMs);
    return SendMessageTimeoutW(window, message.message, static_cast<WPARAM>(message.wParam),
                               static_cast<LPARAM>(message.lParam), SMTO_NORMAL | SMTO_ERRORONEXIT, timeout,
                               &result) != 0;
}

// The window and the thread that owns it: a window's messages are handled
// by the thread that created it, in its message loop.
struct MessageWindow::Impl {
    WindowState state;
    HWND window = nullptr;
    DWORD threadId = 0;
    std::thread thread;
};

MessageWindow::MessageWindow(std::string title, Handler handler)
    : title_(std::move(title)), handler_(std::move(handler)) {}

MessageWindow::~MessageWindow() { Close(); }

bool MessageWindow::Open() {
    if (isOpen()) return true;
    if (FindWindowByTitle(title_)) return false;
    const std::wstring title = win32::WideFromUtf8(title_);
    if (title.empty() || !RegisterWindowClass()) return false;

    auto impl = std::make_unique<Impl>();
    impl->state.handler = &handler_;
    std::promise<Created> created;
    std::future<Created> result = created.get_future();
    impl->thread = std::thread([created = std::move(created), title, state = &impl->state]() mutable {
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        // Hidden for good: it is never shown. Without a display only a
        // message-only window can be made.
        HWND window = CreateWindowExW(0, kWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 300, 200,
                                      nullptr, nullptr, instance, state);
        if (!window)
            window = CreateWindowExW(0, kWindowClass, title.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                                     state);
        created.set_value(Created{window, GetCurrentThreadId()});
        if (!window) return;
        MSG message;
        // WM_QUIT (from Close()) or a failure ends the loop; messages sent
        // by other threads and programs are handled inside GetMessageW.
        while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
        DestroyWindow(window);
    });
    const Created window = result.get();
    if (!window.window) {
        impl->thread.join();
        return false;
    }
    impl->window = window.window;
    impl->threadId = window.threadId;
    impl_ = std::move(impl);
    return true;
}

void MessageWindow::Close() {
    if (!isOpen()) return;
    // The thread has had its message queue since it made the window. A full
    // queue refuses the post for a moment; any other refusal means the
    // thread has left its loop already.
    for (int attempt = 0; attempt < 100 && !PostThreadMessageW(impl_->threadId, WM_QUIT, 0, 0); ++attempt) {
        if (GetLastError() != ERROR_NOT_ENOUGH_QUOTA) break;
        Sleep(10);
    }
    impl_->thread.join();
    impl_.reset();
}

}  // namespace platform
