#include "UpdaterTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "DataUpgrade.h"
#include "platform/Environment.h"
#include "platform/Process.h"

namespace updatertest {

std::string MakeArchive(const std::map<std::string, std::string>& files) {
    testsupport::TempFolder staging;
    std::vector<std::string> arguments{"a", "-bso0", "-bsp0", staging / "out.7z"};
    for (const auto& [name, content] : files) {
        staging.Write("in/" + name, content);
        arguments.push_back(name);
    }
    const std::string sevenZip = updater::FindSevenZip();
    if (sevenZip.empty()) return {};
    platform::Process archiver =
        platform::StartProgram(sevenZip, arguments, platform::ShowWindow::Hidden, staging / "in");
    if (archiver.Wait() != platform::ProcessWaitResult::Ended || archiver.ExitCode() != 0) return {};
    return staging.Read("out.7z");
}

void WriteUpdateConfig(const testsupport::TempFolder& folder, const HttpFixture& server) {
    folder.Write("Data/config.ini", "[Proxy]\nproxyPort=8080\n\n[Update]\nserver = " + server.base() +
                                        "/\nwebsite=" + server.base() + "/site\n");
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        had_ = true;
        old_ = old;
    }
    platform::SetEnvironmentValue(name_, value);
}

ScopedEnv::~ScopedEnv() {
    if (had_)
        platform::SetEnvironmentValue(name_, old_);
    else
        platform::RemoveEnvironmentValue(name_);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace updatertest
