#include <cstddef>
#include <filesystem>
#include <vector>

#include "core/Launcher.h"
#include "platform/Registry.h"

namespace launcher {

const char* const kAppContainerMappingsKey =
    "SOFTWARE\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\CurrentVersion\\AppContainer\\Mappings";

namespace {

// Runs the exemption commands one after the other. Their results are not
// looked at; each is waited for (up to a limit) so that the clearing command
// cannot remove exemptions added after it, and so no ended child is left
// unreaped.
class CommandRunner {
public:
    CommandRunner(const LauncherSettings& settings, const platform::WaitEvent& stop)
        : settings_(settings), stop_(stop) {}

    // Waits for what is still running, unless the program is ending.
    ~CommandRunner() {
        for (platform::Process& command : stillRunning_)
            if (platform::WaitForProcessOrEvent(command, stop_) != platform::ProcessWaitResult::Ended) break;
    }

    void Run(const std::string& program, const std::vector<std::string>& arguments) {
        platform::Process command = platform::StartProgram(program, arguments, platform::ShowWindow::Hidden);
        if (!command) return;
        if (platform::WaitForProcessOrEvent(command, stop_, settings_.exemptionCommandLimitMs) !=
            platform::ProcessWaitResult::Ended)
            stillRunning_.push_back(std::move(command));
    }

private:
    const LauncherSettings& settings_;
    const platform::WaitEvent& stop_;
    std::vector<platform::Process> stillRunning_;
};

}  // namespace

void ExemptStoreApps(const LauncherSettings& settings, const platform::WaitEvent& stop) {
    // Loopback isolation exists from 6.1 on; the check is on both numbers.
    if (settings.version.major < 6 || settings.version.minor < 1) return;
    if (stop.Wait(settings.exemptionDelayMs)) return;

    CommandRunner runner(settings, stop);
    runner.Run(settings.exemptionTool, {"LoopbackExempt", "-c"});

    auto mappings = platform::RegistryKey::Open(platform::RegistryRoot::CurrentUser, settings.mappingsKey);
    if (!mappings) return;
    const std::string tool = (std::filesystem::path(settings.systemFolder) / settings.exemptionTool).string();
    const std::size_t count = mappings->SubKeyCount();
    for (std::size_t index = 0; index < count; ++index) {
        // Each sub-key is named by an AppContainer's security identifier; an
        // index whose name cannot be read is skipped.
        auto sid = mappings->SubKeyName(index);
        if (!sid) continue;
        if (stop.IsSet()) return;
        runner.Run(tool, {"LoopbackExempt", "-a", "-p=" + *sid});
        if (stop.Wait(settings.exemptionPauseMs)) return;
    }
}

}  // namespace launcher
