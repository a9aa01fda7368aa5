// Launcher: keeps the product's main program running and exempts the store
// applications from loopback isolation so that they reach the local proxy.
// Windowless; no command line.
#include <string>
#include <utility>

#include "core/Launcher.h"
#include "platform/Privilege.h"
#include "platform/SystemInfo.h"

namespace {

// Set before main runs, so both worker threads only ever read them.
const std::string kTargetProgram = "ZELK.exe";
const bool gDebugPrivilege = platform::EnableDebugPrivilege();

}  // namespace

int main() {
    launcher::LauncherSettings settings;
    settings.targetProgram = kTargetProgram;
    settings.exemptionTool = "CheckNetIsolation.exe";
    settings.systemFolder = platform::SystemFolder();
    settings.exemptionDelayMs = 120000;
    settings.exemptionPauseMs = 50;
    settings.mappingsKey = launcher::kAppContainerMappingsKey;
    settings.debugPrivilege = gDebugPrivilege;
    settings.version = platform::SystemVersion();
    settings.mutexName = "Launcher";

    launcher::Launcher program(std::move(settings));
    return program.Run();
}
