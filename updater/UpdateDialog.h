#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "CommandLine.h"
#include "Release.h"
#include "Settings.h"
#include "Updater.h"
#include "platform/ConsoleDialog.h"

namespace updater {

// Controls of the update dialog.
enum DialogControl : int {
    kButtonInstall = 1,
    kProgressBar = 1001,
    kLinkText = 1005,
    kDownloadingText = 1006,
};

// Drives the dialog's progress bar from the installer download.
struct CBindCallback {
    platform::ConsoleDialog* dialog;
    void OnProgress(uint64_t progress, uint64_t progressMax) const;
};

// The software-update dialog: checks for a release, tells the user, and on
// request downloads and starts the installer on a thread of its own.
class UpdateDialog {
public:
    UpdateDialog(const UpdateSettings& settings, const CommandLine& commandLine, const Console& console);
    ~UpdateDialog();  // joins the installer thread
    UpdateDialog(const UpdateDialog&) = delete;
    UpdateDialog& operator=(const UpdateDialog&) = delete;

    // Runs the check and the dialog until it ends; returns the exit code.
    int Run();

    // A menu command of the main window, delivered from another thread.
    void PostCommand(int command) { dialog_.Post(command); }

private:
    enum PostedCode : int { kInstallFailed = 1, kInstallDone = 2, kInstallUnverified = 3 };

    // False when nothing is to be shown (hidden and no newer release).
    bool InitDialog();
    void StartInstall();
    void InstallerThread();
    std::string UpdatePageLink() const;
    // The downloaded installer was not the release's: say so and offer the
    // update page instead.
    void OfferUpdatePage();
    void JoinInstaller();

    UpdateSettings settings_;
    CommandLine commandLine_;
    platform::ConsoleDialog dialog_;
    ReleaseInfo release_;
    bool updateAvailable_ = false;
    bool installing_ = false;  // touched by the dialog's thread only
    bool offeringPage_ = false;  // the button opens the update page (dialog's thread only)
    std::thread installer_;
};

}  // namespace updater
