#pragma once

#include <memory>
#include <string>

namespace platform {

// The invisible main window of a windowless program. Its life is the message
// loop, which ends when the window is destroyed: by Destroy() (the program's
// own Exit command) or, on POSIX, by SIGTERM or SIGINT, the way a log-off
// destroys a window.
class HiddenWindow {
public:
    // Null when the window cannot be created. Create it before starting other
    // threads: from then on SIGTERM and SIGINT are blocked in the creating
    // thread and in every thread it starts, and reach only the message loop.
    static std::unique_ptr<HiddenWindow> Create(const std::string& className, const std::string& title);
    ~HiddenWindow();
    HiddenWindow(const HiddenWindow&) = delete;
    HiddenWindow& operator=(const HiddenWindow&) = delete;

    // Runs the message loop until the window is destroyed; returns the quit
    // code (0). Returns at once when the window was already destroyed. Call it
    // on the thread that created the window: the window's messages go there.
    int RunMessageLoop();
    // Destroys the window; safe from any thread.
    void Destroy();

    const std::string& Title() const;

    struct State;  // the system's objects behind the window

private:
    explicit HiddenWindow(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace platform
