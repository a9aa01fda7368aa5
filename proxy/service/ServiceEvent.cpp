#include <platform/EventLog.h>

#include <cstdarg>
#include <cstdio>

#include "service/ServiceHost.h"

void ReportServiceEvent(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    platform::ReportInformationEvent(kServiceName, text);
}
