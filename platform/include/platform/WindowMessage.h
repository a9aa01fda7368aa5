#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// A message as one program sends it to another program's window.
struct WindowMessage {
    uint32_t message = 0;
    uint64_t wParam = 0;
    int64_t lParam = 0;
};

// Titles are UTF-8 text and compare exactly (letter case too).

// True when a window with exactly this title exists and accepts messages.
bool FindWindowByTitle(const std::string& title);

// Sends a message to the window with this title and waits until the
// receiver has handled it. False when there is no such window or the
// receiver went away before answering. timeoutMs < 0 waits without limit.
bool SendMessageToWindow(const std::string& title, const WindowMessage& message, int timeoutMs = -1);

// A window of this program that other programs find by its title. Each
// message is handed to the handler on the window's own thread, one at a
// time; the sender is released when the handler returns. What a window
// system sends a window for its own upkeep (creation, sizing, painting, a
// close request) is not handed on: the window lives until Close().
class MessageWindow {
public:
    using Handler = std::function<void(const WindowMessage&)>;

    MessageWindow(std::string title, Handler handler);
    ~MessageWindow();  // stops receiving and joins the window's thread
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // False when the title is taken by a live window or the window cannot
    // be created.
    bool Open();
    void Close();
    bool isOpen() const { return impl_ != nullptr; }

private:
    struct Impl;  // the OS's window (or its stand-in) and the thread serving it

    std::string title_;
    Handler handler_;
    std::unique_ptr<Impl> impl_;  // present while open
};

}  // namespace platform
