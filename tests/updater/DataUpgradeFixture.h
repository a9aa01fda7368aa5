#pragma once

#include <gtest/gtest.h>

#include <string>

#include "DataUpgrade.h"
#include "Settings.h"
#include "UpdaterTestSupport.h"

namespace updatertest {

constexpr const char* kManifest = "/CZELK/ConfigUpgrade.txt";

// The program's default mode in a folder of its own, against the fixture.
class DataUpgradeTest : public ::testing::Test {
protected:
    void SetUp() override { WriteUpdateConfig(folder_, server_); }

    // One run of the program's default mode.
    void Run() { EXPECT_EQ(updater::RunDataUpgrade(updater::LoadUpdateSettings()), 0); }

    // A manifest line; the url is on the fixture.
    std::string Line(int archive, const std::string& file, const std::string& version, const std::string& path) {
        return std::to_string(archive) + "\t" + file + "\t" + version + "\t" + server_.base() + path + "\n";
    }

    testsupport::TempFolder folder_{true};
    HttpFixture server_;
};

}  // namespace updatertest
