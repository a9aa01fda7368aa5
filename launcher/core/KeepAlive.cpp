#include "core/Launcher.h"
#include "platform/ProcessSnapshot.h"

namespace launcher {

using platform::ProcessWaitResult;

void KeepTargetAlive(const LauncherSettings& settings, const platform::WaitEvent& stop,
                     std::atomic<platform::ProcessId>& targetId) {
    if (!settings.debugPrivilege) return;

    // A copy started by someone else (or left by an earlier Launcher) is not
    // ours to reap; once it has ended, ours takes its place.
    platform::ProcessId running = platform::FindProcessByName(settings.targetProgram);
    if (running != platform::kNoProcess) {
        targetId = running;
        if (platform::WaitForProcessOrEvent(running, stop) == ProcessWaitResult::EventSet) return;
    }

    while (!stop.IsSet()) {
        platform::ProcessId child = platform::StartProgram(settings.targetProgram, {});
        if (child == platform::kNoProcess) return;
        targetId = child;
        // When the Launcher ends, the target stays running.
        if (platform::WaitForProcessOrEvent(child, stop) == ProcessWaitResult::EventSet) return;
        platform::WaitForChild(child);  // reaps it (and waits, should the wait above have failed)
    }
}

}  // namespace launcher
