// A second program for the window message tests: sends one message to the
// window with the given title and exits 0 when it was handled, 1 when not,
// 2 on a wrong command line.
//   window_message_sender TITLE MESSAGE WPARAM LPARAM
#include <cstdlib>
#include <string>

#include "platform/WindowMessage.h"

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    const platform::WindowMessage message{static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)),
                                          std::strtoull(argv[3], nullptr, 10), std::strtoll(argv[4], nullptr, 10)};
    return platform::SendMessageToWindow(argv[1], message, 10000) ? 0 : 1;
}
