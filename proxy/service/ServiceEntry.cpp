#include <platform/MessageBox.h>
#include <platform/ProgramPath.h>
#include <platform/Service.h>

#include <cstddef>

#include "service/ServiceHost.h"

const char* const kServiceName = "Proxy";

namespace {

// The whole command line against a switch, ASCII letters in any case.
bool IsSwitch(const std::string& commandLine, const char* name) {
    size_t i = 0;
    for (; name[i] != '\0'; ++i) {
        if (i >= commandLine.size()) return false;
        char a = commandLine[i], b = name[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != b) return false;
    }
    return i == commandLine.size();
}

}  // namespace

int InstallService() {
    if (auto manager = platform::OpenServiceManager()) {
        if (manager->OpenService(kServiceName, platform::ServiceAccess::QueryConfig)) return 1;
    }
    auto manager = platform::OpenServiceManager();
    if (!manager) {
        platform::ShowMessageBox(kServiceName, "Couldn't open service manager");
        return 0;
    }
    auto service = manager->CreateService(kServiceName, kServiceName, platform::ProgramPath());
    if (!service) {
        platform::ShowMessageBox(kServiceName, "Couldn't create service");
        return 0;
    }
    service->SetDescription("Local proxy service.");
    return 1;
}

int UninstallService() {
    {
        auto manager = platform::OpenServiceManager();
        if (!manager) return 1;
        if (!manager->OpenService(kServiceName, platform::ServiceAccess::QueryConfig)) return 1;
    }
    auto manager = platform::OpenServiceManager();
    if (!manager) {
        platform::ShowMessageBox(kServiceName, "Couldn't open service manager");
        return 0;
    }
    auto service = manager->OpenService(kServiceName, platform::ServiceAccess::StopAndDelete);
    if (!service) {
        platform::ShowMessageBox(kServiceName, "Couldn't open service");
        return 0;
    }
    service->ControlStop();  // no wait for the service to stop
    if (service->Delete()) return 1;
    ReportServiceEvent("Service could not be deleted");
    return 0;
}

int ProxyEntry(const std::string& commandLine) {
    if (IsSwitch(commandLine, "-install")) {
        InstallService();
        return 0;
    }
    if (IsSwitch(commandLine, "-uninstall")) {
        UninstallService();
        return 0;
    }
    if (IsSwitch(commandLine, "-https-on")) return RunHttpsSwitch(true);
    if (IsSwitch(commandLine, "-https-off")) return RunHttpsSwitch(false);
    // For development: the same servers in the foreground of a console,
    // without the service control manager, until Ctrl-C.
    if (IsSwitch(commandLine, "-console")) {
        if (!platform::RunServiceInForeground(kServiceName, &ServiceMain))
            ReportServiceEvent("Console controls not available");
        return ServiceStartFailed() ? 1 : 0;
    }
    if (!platform::StartServiceDispatcher(kServiceName, &ServiceMain))
        ReportServiceEvent("Register Service Main Function Error!");
    return ServiceStartFailed() ? 1 : 0;
}
