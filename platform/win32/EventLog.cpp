#include "platform/EventLog.h"

#include <windows.h>

namespace platform {

bool ReportInformationEvent(const std::string& source, const std::string& text) {
    HANDLE log = RegisterEventSourceA(nullptr, source.c_str());
    if (!log) return false;
    const char* strings[] = {text.c_str()};
    // Category 0, event identifier 0, no user, one string, no binary data.
    bool written = ReportEventA(log, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr) != 0;
    DeregisterEventSource(log);
    return written;
}

}  // namespace platform
