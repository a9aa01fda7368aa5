#include "Updater.h"

#include "CommandLine.h"
#include "DataUpgrade.h"
#include "Settings.h"
#include "UpdateDialog.h"
#include "platform/WindowMessage.h"

namespace updater {

int RunUpdater(const std::vector<std::string>& arguments, const Console& console) {
    const CommandLine commandLine = ParseCommandLine(arguments);
    const UpdateSettings settings = LoadUpdateSettings();
    if (!commandLine.softwareUpdate) return RunDataUpgrade(settings);

    UpdateDialog dialog(settings, commandLine, console);
    // The hidden main window: its menu commands arrive as window messages
    // and are handled by the dialog's loop. Another running Updater may hold
    // the title; this one then works without it.
    platform::MessageWindow mainWindow(kMainWindowTitle, [&dialog](const platform::WindowMessage& message) {
        const int command = static_cast<int>(message.wParam & 0xFFFF);
        if (message.message == kWmCommand && (command == kCommandUpgradeData || command == kCommandExit))
            dialog.PostCommand(command);
    });
    mainWindow.Open();
    const int exitCode = dialog.Run();
    mainWindow.Close();
    return exitCode;
}

}  // namespace updater
