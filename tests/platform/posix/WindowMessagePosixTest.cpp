// The POSIX stand-in's windows are sockets in the runtime folder: a socket
// file left by a program that died must not block the title, and a closed
// window leaves no file.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "../WindowMessageTest.h"

namespace {

TEST_F(WindowMessageTest, ALeftoverSocketFileDoesNotTakeTheTitle) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = folder_ / "W.window";
    std::strcpy(address.sun_path, path.c_str());
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    EXPECT_FALSE(FindWindowByTitle("W"));
    MessageWindow window("W", [](const WindowMessage&) {});
    EXPECT_TRUE(window.Open());
    EXPECT_TRUE(FindWindowByTitle("W"));
}

TEST_F(WindowMessageTest, ClosedWindowLeavesNoSocketFile) {
    auto window = std::make_unique<MessageWindow>("W", [](const WindowMessage&) {});
    ASSERT_TRUE(window->Open());
    EXPECT_TRUE(std::filesystem::exists(folder_ / "W.window"));
    window.reset();
    EXPECT_FALSE(std::filesystem::exists(folder_ / "W.window"));
}

}  // namespace
