#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Updater.h"
#include "UpdaterTestSupport.h"
#include "platform/ConsoleDialog.h"
#include "platform/Crypto.h"
#include "platform/Download.h"

namespace updatertest {

constexpr const char* kReleasePath = "/czelk/SoftUpgrade.txt";

// The user's side of the console: what is typed in and what is shown.
class FakeConsole {
public:
    FakeConsole() : input_(platform::ConsoleInput::MakeFeed()) {
        out_ = std::fopen((files_ / "out.txt").c_str(), "w+b");
        err_ = std::fopen((files_ / "err.txt").c_str(), "w+b");
    }
    ~FakeConsole() {
        if (out_) std::fclose(out_);
        if (err_) std::fclose(err_);
    }
    FakeConsole(const FakeConsole&) = delete;
    FakeConsole& operator=(const FakeConsole&) = delete;

    bool ready() const { return input_ && out_ && err_; }
    void Type(const std::string& text) { input_->Type(text); }
    void CloseInput() { input_->EndInput(); }
    updater::Console console() const { return updater::Console{input_, out_, err_}; }
    std::string Out() const { return Contents(out_); }
    std::string Err() const { return Contents(err_); }

private:
    static std::string Contents(std::FILE* f) {
        std::fflush(f);
        std::string text;
        std::rewind(f);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
        return text;
    }
    testsupport::TempFolder files_;
    std::shared_ptr<platform::ConsoleInput> input_;
    std::FILE* out_ = nullptr;
    std::FILE* err_ = nullptr;
};

// The PATH with a folder in front of it.
inline std::string PathWithFirst(const std::string& folder) {
    const char separator = std::filesystem::path::preferred_separator == '\\' ? ';' : ':';
    const char* path = std::getenv("PATH");
    return folder + separator + (path ? path : "/usr/bin:/bin");
}

class UpdateModeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(console_.ready());
        WriteUpdateConfig(folder_, server_);
        // Browser start recorded instead of performed where a page is opened
        // with xdg-open.
        folder_.Write("bin/xdg-open", "#!/bin/sh\necho \"$1\" >> '" + (folder_ / "opened.txt") + "'\n");
        platform::MarkRunnable(folder_ / "bin/xdg-open");
    }

    // sha256: the value of the release's Sha256 key; none when empty.
    void ServeRelease(const std::string& version, const std::string& sha256 = "") {
        server_.Serve(kReleasePath, "[Setup]\r\nVersion=" + version + "\r\nDate=2026-12-01\r\nUrl=" + server_.base() +
                                        "/files/update.exe\r\n" + (sha256.empty() ? "" : "Sha256=" + sha256 + "\r\n") +
                                        "Description=fixes|speed\r\n");
    }

    // A fake installer: records its arguments; padded so the download has a
    // size worth a progress bar. Returns its SHA-256 as sha256sum prints it.
    std::string ServeInstaller(size_t pieces = 1, int pauseMs = 0) {
        std::string script = "#!/bin/sh\necho \"$@\" > '" + (folder_ / "started.txt") + "'\n";
        script += "# " + std::string(64 * 1024, 'p') + "\n";
        installerSize_ = script.size();
        server_.ServeSlowly("/files/update.exe", script, pieces, pauseMs);
        folder_.Write("served-installer", script);
        platform::Sha256Digest digest{};
        EXPECT_TRUE(platform::Sha256OfFile(folder_ / "served-installer", digest));
        std::string sum;
        for (uint8_t byte : digest) {
            sum += "0123456789abcdef"[byte >> 4];
            sum += "0123456789abcdef"[byte & 15];
        }
        return sum;
    }

    int Run(const std::vector<std::string>& arguments) { return updater::RunUpdater(arguments, console_.console()); }

    std::string Page() const { return server_.base() + "/site/soft_update"; }

    testsupport::TempFolder folder_{true};
    HttpFixture server_;
    FakeConsole console_;
    ScopedEnv runtime_{"XDG_RUNTIME_DIR", folder_.path()};
    ScopedEnv path_{"PATH", PathWithFirst(folder_ / "bin")};
    size_t installerSize_ = 0;
};

}  // namespace updatertest
