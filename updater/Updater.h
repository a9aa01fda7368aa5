#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/ConsoleDialog.h"

namespace updater {

// Where the update dialog talks to the user.
struct Console {
    std::shared_ptr<platform::ConsoleInput> input = platform::ConsoleInput::Standard();
    std::FILE* out = stdout;
    std::FILE* err = stderr;
};

// Title of the program's hidden main window; other programs reach its menu
// commands through window messages.
constexpr const char* kMainWindowTitle = "Updater";
constexpr unsigned kWmCommand = 0x0111;
constexpr int kCommandUpgradeData = 32773;  // "更新配置"
constexpr int kCommandExit = 105;           // "退出(&X)"

// The main user-interface program is told that an installer is about to run.
constexpr unsigned kInstallerStartingMessage = 1699;
constexpr const char* kMainProgramTitles[] = {"Morvane", "Morvane_锁定"};

constexpr const char* kInstallerFile = "update.exe";

// The whole program: arguments after the program name; returns the exit code.
int RunUpdater(const std::vector<std::string>& arguments, const Console& console = {});

}  // namespace updater
