#include "core/Launcher.h"
#include "platform/ProcessSnapshot.h"

namespace launcher {

using platform::ProcessWaitResult;

void KeepTargetAlive(const LauncherSettings& settings, const platform::WaitEvent& stop,
                     std::atomic<platform::ProcessId>& targetId) {
    if (!settings.debugPrivilege) return;

    // A copy started by someone else (or left by an earlier Launcher) is
    // waited for; once it has ended, ours takes its place.
    const platform::ProcessId running = platform::FindProcessByName(settings.targetProgram);
    if (running != platform::kNoProcess) {
        targetId = running;
        platform::Process copy = platform::Process::Open(running);
        if (copy && platform::WaitForProcessOrEvent(copy, stop) == ProcessWaitResult::EventSet) return;
    }

    while (!stop.IsSet()) {
        platform::Process child = platform::StartProgram(settings.targetProgram, {}, platform::ShowWindow::Hidden);
        if (!child) return;
        targetId = child.Id();
        // When the Launcher ends, the target stays running.
        const ProcessWaitResult result = platform::WaitForProcessOrEvent(child, stop);
        if (result == ProcessWaitResult::EventSet) return;
        // Should the combined wait fail, wait for the process alone rather
        // than start copy after copy; give up when even that fails.
        if (result != ProcessWaitResult::Ended && child.Wait() != ProcessWaitResult::Ended) return;
    }
}

}  // namespace launcher
