#include "platform/OpenUrl.h"

#include <cstdio>

#include "platform/Process.h"

namespace platform {

bool OpenUrl(const std::string& url) {
    const std::string opener = FindProgram("xdg-open");
    if (!opener.empty() && StartProgram(opener, {url}, ShowWindow::Shown)) return true;
    std::printf("%s\n", url.c_str());
    std::fflush(stdout);
    return false;
}

}  // namespace platform
