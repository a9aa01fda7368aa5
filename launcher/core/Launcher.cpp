#include "core/Launcher.h"

#include <thread>
#include <utility>

#include "platform/NamedMutex.h"

namespace launcher {

Launcher::Launcher(LauncherSettings settings) : settings_(std::move(settings)) {}

Launcher::~Launcher() = default;

int Launcher::Run() {
    auto window = platform::HiddenWindow::Create("LAUNCHER", "Launcher");
    if (!window) return 0;

    // Held until Run returns, that is for the program's life.
    platform::NamedMutex instance(settings_.mutexName);
    if (instance.AlreadyExisted()) return -1;

    {
        std::lock_guard<std::mutex> lock(windowLock_);
        window_ = window.get();
        if (closeRequested_) window_->Destroy();
    }

    std::thread keepAlive(KeepTargetAlive, std::cref(settings_), std::cref(stop_), std::ref(targetId_));
    std::thread loopback(ExemptStoreApps, std::cref(settings_), std::cref(stop_));

    const int quitCode = window->RunMessageLoop();

    // Both workers watch the stop event in every wait, so they end promptly.
    stop_.Set();
    keepAlive.join();
    loopback.join();
    {
        std::lock_guard<std::mutex> lock(windowLock_);
        window_ = nullptr;
    }
    return quitCode;
}

void Launcher::Close() {
    std::lock_guard<std::mutex> lock(windowLock_);
    closeRequested_ = true;
    if (window_) window_->Destroy();
}

}  // namespace launcher
