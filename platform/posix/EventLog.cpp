#include "platform/EventLog.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>

namespace platform {

bool ReportInformationEvent(const std::string& source, const std::string& text) {
    ::openlog(source.c_str(), LOG_PID, LOG_DAEMON);
    ::syslog(LOG_INFO, "%s", text.c_str());
    ::closelog();
    if (::isatty(STDERR_FILENO)) std::fprintf(stderr, "%s: %s\n", source.c_str(), text.c_str());
    return true;
}

}  // namespace platform
