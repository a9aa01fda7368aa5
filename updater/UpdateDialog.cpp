#include "UpdateDialog.h"

#include <filesystem>
#include <system_error>

#include "DataUpgrade.h"
#include "InstallerCheck.h"
#include "platform/Download.h"
#include "platform/MessageBox.h"
#include "platform/OpenUrl.h"
#include "platform/Process.h"
#include "platform/WindowMessage.h"

namespace updater {

namespace {

constexpr const char* kDialogTitle = "Morvane 在线升级";
constexpr const char* kNoticeCaption = "提示";
constexpr const char* kDownloadErrorText = "下载发生错误!";
constexpr const char* kCheckErrorMessage =
    "\r\n\r\n检测新版本发生错误,请稍候再试。\r\n\r\n关注更新页面,随时发现更新版本。\r\n\r\n";
constexpr const char* kUnverifiedMessage =
    "下载的安装程序无法验证，已删除，没有运行。\r\nThe download could not be verified: it was deleted and not run.\r\n\r\n"
    "请从更新页面下载新版本：\r\nPlease get the new version from the update page:\r\n\r\n";
constexpr const char* kOpenPageButton = "打开更新页面";
constexpr const char* kUpToDateMessage =
    "\r\n\r\n您使用的是最新版本的Morvane，当前没有更新需要安装。\r\n\r\n关注更新页面,随时发现更新版本。\r\n\r\n";

std::string Link(const std::string& address, const std::string& label) {
    return "<a href=\"" + address + "\">" + label + "</a>";
}

}  // namespace

void CBindCallback::OnProgress(uint64_t progress, uint64_t progressMax) const {
    dialog->SetProgressRange(kProgressBar, progressMax);
    dialog->SetProgressPos(kProgressBar, progress);
}

UpdateDialog::UpdateDialog(const UpdateSettings& settings, const CommandLine& commandLine, const Console& console)
    : settings_(settings), commandLine_(commandLine), dialog_(console.input, console.out, console.err) {
    dialog_.SetTitle(kDialogTitle);
    dialog_.AddText(kDownloadingText, "正在下载更新……", false);
    dialog_.AddProgress(kProgressBar, false);
    dialog_.AddText(kLinkText, Link(settings_.website + "/soft_update", "查看最新版本说明"));
    dialog_.AddButton(kButtonInstall, "安  装");
}

UpdateDialog::~UpdateDialog() { JoinInstaller(); }

void UpdateDialog::JoinInstaller() {
    if (installer_.joinable()) installer_.join();
}

std::string UpdateDialog::UpdatePageLink() const {
    const std::string page = settings_.website + "/soft_update";
    return Link(page, page);
}

bool UpdateDialog::InitDialog() {
    const UpdateCheckResult result = CheckForUpdate(settings_, commandLine_.installedVersion, release_);
    switch (result) {
        case UpdateCheckResult::NewRelease:
            dialog_.SetText(kLinkText, "有更新版本!\r\n\r\n最新版本:" + release_.version + "  更新日期:" + release_.date +
                                           "\r\n\r\n查看新版本更新内容详细。请点击下面网址：\r\n\r\n" +
                                           UpdatePageLink());
            updateAvailable_ = true;
            dialog_.Show();  // also when hidden
            return true;
        case UpdateCheckResult::Error:
        case UpdateCheckResult::UpToDate:
            if (commandLine_.hidden) return false;
            dialog_.SetText(kLinkText, "当前版本:" + commandLine_.installedVersion +
                                           (result == UpdateCheckResult::Error ? kCheckErrorMessage : kUpToDateMessage) +
                                           UpdatePageLink());
            dialog_.SetText(kButtonInstall, "确定");
            return true;
    }
    return false;
}

void UpdateDialog::StartInstall() {
    installing_ = true;
    dialog_.EnableButton(kButtonInstall, false);
    dialog_.SetText(kButtonInstall, "安装中……");
    dialog_.ShowControl(kDownloadingText, true);
    dialog_.ShowControl(kProgressBar, true);
    JoinInstaller();  // a thread from an earlier, failed attempt has ended
    installer_ = std::thread([this] { InstallerThread(); });
}

void UpdateDialog::InstallerThread() {
    const CBindCallback callback{&dialog_};
    const bool downloaded = platform::DownloadToFile(
        release_.url, kInstallerFile, [&callback](uint64_t total, uint64_t soFar) { callback.OnProgress(soFar, total); });
    if (!downloaded) {
        // Closable again first, then tell the user.
        dialog_.Post(kInstallFailed);
        dialog_.FinishProgressLine();
        platform::ShowMessageBox(kNoticeCaption, kDownloadErrorText);
        return;
    }
    dialog_.FinishProgressLine();  // the installer may write to the terminal
    // Whoever sits on the network path could have sent any program: only
    // the one the release description vouches for runs.
    if (!MayRun(CheckInstaller(kInstallerFile, release_))) {
        std::error_code ec;
        std::filesystem::remove(kInstallerFile, ec);
        dialog_.Post(kInstallUnverified);
        return;
    }
    platform::MarkRunnable(kInstallerFile);
    // The main program must hear about the installer before it runs.
    for (const char* title : kMainProgramTitles) {
        if (platform::FindWindowByTitle(title)) {
            platform::SendMessageToWindow(title, platform::WindowMessage{kInstallerStartingMessage, 0, 0});
            break;
        }
    }
    // Not waited for: the Updater ends while the installer runs.
    platform::StartProgram(std::string("./") + kInstallerFile, {"/SILENT"}, platform::ShowWindow::Shown);
    dialog_.Post(kInstallDone);
}

void UpdateDialog::OfferUpdatePage() {
    installing_ = false;
    offeringPage_ = true;
    dialog_.ShowControl(kDownloadingText, false);
    dialog_.ShowControl(kProgressBar, false);
    dialog_.SetText(kLinkText, kUnverifiedMessage + UpdatePageLink());
    dialog_.SetText(kButtonInstall, kOpenPageButton);
    dialog_.EnableButton(kButtonInstall, true);
}

int UpdateDialog::Run() {
    if (!InitDialog()) return 0;
    if (!commandLine_.hidden) dialog_.Show();

    for (;;) {
        // While the installer downloads, the user's input (closing among it)
        // waits unread.
        const platform::DialogEvent event = dialog_.WaitEvent(!installing_);
        switch (event.kind) {
            case platform::DialogEventKind::Button:
                if (offeringPage_) {
                    platform::OpenUrl(settings_.website + "/soft_update/");
                    return 0;
                }
                if (!updateAvailable_) return 0;
                if (!installing_) StartInstall();
                break;
            case platform::DialogEventKind::Close:
                if (!installing_) return 0;
                break;
            case platform::DialogEventKind::Posted:
                switch (event.code) {
                    case kInstallFailed:
                        installing_ = false;
                        break;
                    case kInstallUnverified:
                        JoinInstaller();
                        OfferUpdatePage();
                        break;
                    case kInstallDone:
                        JoinInstaller();
                        dialog_.End();
                        platform::OpenUrl(settings_.website + "/soft_update/");
                        return 0;
                    case kCommandUpgradeData:
                        JoinInstaller();
                        return RunDataUpgrade(settings_);
                    case kCommandExit:
                        JoinInstaller();
                        return 0;
                    default:
                        break;
                }
                break;
        }
    }
}

}  // namespace updater
