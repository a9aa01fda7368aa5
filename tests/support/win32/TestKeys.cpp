// Registry keys written with the system's reg.exe, so the test reaches the
// registry only through the platform layer's process start.
#include <random>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/Process.h"
#include "support/TestKeys.h"

namespace testsupport {

struct TestKeys::State {};

namespace {

bool RunReg(const std::vector<std::string>& arguments) {
    platform::Process reg = platform::StartProgram("reg.exe", arguments, platform::ShowWindow::Hidden);
    return reg.Wait(30000) == platform::ProcessWaitResult::Ended && reg.ExitCode() == 0;
}

std::string FullKey(const std::string& root, const std::string& relative) {
    return "HKCU\\" + root + (relative.empty() ? "" : "\\" + relative);
}

}  // namespace

TestKeys::TestKeys() {
    std::random_device seed;
    root_ = "Software\\MorvaneTest-" + std::to_string(platform::CurrentProcessNumber()) + "-" +
            std::to_string(std::mt19937(seed())() % 1000000);
    Create("");
}

TestKeys::~TestKeys() { RunReg({"delete", FullKey(root_, ""), "/f"}); }

bool TestKeys::Create(const std::string& relative) const { return RunReg({"add", FullKey(root_, relative), "/f"}); }

bool TestKeys::SetString(const std::string& relative, const std::string& name, const std::string& value) const {
    std::vector<std::string> arguments{"add", FullKey(root_, relative)};
    if (name.empty())
        arguments.push_back("/ve");
    else
        arguments.insert(arguments.end(), {"/v", name});
    arguments.insert(arguments.end(), {"/t", "REG_SZ", "/d", value, "/f"});
    return RunReg(arguments);
}

}  // namespace testsupport
