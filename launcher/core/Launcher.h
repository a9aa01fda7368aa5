#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "platform/HiddenWindow.h"
#include "platform/Process.h"
#include "platform/SystemInfo.h"
#include "platform/WaitEvent.h"

namespace launcher {

// Everything the Launcher takes from outside. The program passes the real
// values; tests pass short waits and names of their own fake programs.
struct LauncherSettings {
    // The program kept running, started by bare name (working folder, then PATH).
    std::string targetProgram;
    // The loopback-exemption tool. The clearing command finds it by bare name,
    // the add commands in systemFolder.
    std::string exemptionTool;
    std::string systemFolder;
    // Pause after start-up before the exemption commands.
    int exemptionDelayMs = 0;
    // Pause after each add command.
    int exemptionPauseMs = 0;
    // How long one exemption command may run before the next starts anyway.
    int exemptionCommandLimitMs = 60000;
    // The key under HKEY_CURRENT_USER whose sub-keys name the store
    // applications to exempt (kAppContainerMappingsKey).
    std::string mappingsKey;
    // Whether the debug privilege could be enabled; without it the target is
    // never started.
    bool debugPrivilege = false;
    platform::SystemVersionNumber version{0, 0};
    // The name that keeps the Launcher to one instance.
    std::string mutexName;
};

// The registry key whose sub-keys name the installed store (AppContainer)
// applications, under HKEY_CURRENT_USER.
extern const char* const kAppContainerMappingsKey;

// The keep-alive thread's work: waits for a running copy of the target found
// by its exact executable name, then starts the target and waits for it, again
// and again. Returns when the privilege is missing, when a start fails, or
// when `stop` is set (a running target is left running). `targetId` receives
// the id of each process waited on.
void KeepTargetAlive(const LauncherSettings& settings, const platform::WaitEvent& stop,
                     std::atomic<platform::ProcessId>& targetId);

// The loopback-exemption thread's work: on a system from version 6.1 on,
// after the start-up pause, clears all exemptions and then exempts each store
// application listed under settings.mappingsKey. Returns early when `stop` is
// set.
void ExemptStoreApps(const LauncherSettings& settings, const platform::WaitEvent& stop);

// The program: a hidden window, one instance per session, two worker threads.
class Launcher {
public:
    explicit Launcher(LauncherSettings settings);
    ~Launcher();
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    // The entry function; call once. Returns -1 when another instance holds
    // the name, 0 when the window cannot be created, else the message loop's
    // quit code once the window is destroyed (after the workers have ended).
    int Run();
    // The Exit command: destroys the window, so Run returns. Any thread.
    void Close();

    // The target process last found or started; kNoProcess before that.
    platform::ProcessId TargetProcessId() const { return targetId_.load(); }

private:
    const LauncherSettings settings_;
    platform::WaitEvent stop_;
    std::atomic<platform::ProcessId> targetId_{platform::kNoProcess};
    std::mutex windowLock_;  // guards window_ and closeRequested_
    platform::HiddenWindow* window_ = nullptr;
    bool closeRequested_ = false;
};

}  // namespace launcher
