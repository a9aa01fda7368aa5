#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/Environment.h"
#include "platform/WindowMessage.h"
#include "support/TempFolder.h"

using platform::FindWindowByTitle;
using platform::MessageWindow;
using platform::SendMessageToWindow;
using platform::WindowMessage;

// Each test gets its own runtime folder, where the POSIX stand-in keeps its
// windows, so titles never collide. (Windows has one set of windows per
// desktop: there the tests take turns, see CMakeLists.txt.)
class WindowMessageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("XDG_RUNTIME_DIR")) old_ = old;
        ASSERT_TRUE(platform::SetEnvironmentValue("XDG_RUNTIME_DIR", folder_.path()));
    }
    void TearDown() override {
        if (old_.empty())
            platform::RemoveEnvironmentValue("XDG_RUNTIME_DIR");
        else
            platform::SetEnvironmentValue("XDG_RUNTIME_DIR", old_);
    }
    testsupport::TempFolder folder_;
    std::string old_;
};
