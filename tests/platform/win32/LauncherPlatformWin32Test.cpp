// What only Windows shows of the Launcher's facilities: the token's debug
// privilege and the system's own folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>

#include "platform/Privilege.h"
#include "platform/SystemInfo.h"

namespace {

TEST(DebugPrivilegeWin32Test, EnabledInTheTokenOfAnAdministrator) {
    // Wine's user, like the elevated Launcher, holds the privilege: enabling
    // it must succeed and show in the token afterwards.
    EXPECT_TRUE(platform::EnableDebugPrivilege());
    EXPECT_TRUE(platform::DebugPrivilegeEnabled());
    EXPECT_TRUE(platform::EnableDebugPrivilege());  // enabling again is no failure
}

TEST(SystemInfoWin32Test, TheSystemFolderHoldsTheSystemsLibraries) {
    const std::string folder = platform::SystemFolder();
    std::string lower = folder;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_TRUE(lower.ends_with("\\system32")) << folder;
    EXPECT_TRUE(std::filesystem::exists(folder + "\\kernel32.dll")) << folder;
}

}  // namespace
