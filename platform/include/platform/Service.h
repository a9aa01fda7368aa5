#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The service control manager, as far as the programs use it.
enum class ServiceState : unsigned {
    Stopped = 1,
    StartPending = 2,
    StopPending = 3,
    Running = 4,
};

enum ServiceControlCode : unsigned {
    kServiceControlStop = 1,
    kServiceControlPause = 2,
    kServiceControlContinue = 3,
    kServiceControlInterrogate = 4,
    kServiceControlShutdown = 5,
};

constexpr unsigned kServiceAcceptStop = 1;
// The Win32 exit code that tells the manager to show the service's own
// (service-specific) exit code (ERROR_SERVICE_SPECIFIC_ERROR).
constexpr unsigned kServiceSpecificError = 1066;
constexpr unsigned kServiceWin32OwnProcess = 0x10;

struct ServiceStatus {
    unsigned serviceType = kServiceWin32OwnProcess;
    ServiceState currentState = ServiceState::Stopped;
    unsigned controlsAccepted = kServiceAcceptStop;
    unsigned win32ExitCode = 0;
    unsigned serviceSpecificExitCode = 0;
    unsigned checkPoint = 0;
    unsigned waitHint = 0;
};

class ServiceHandle {
public:
    virtual ~ServiceHandle() = default;
    virtual bool SetDescription(const std::string& text) = 0;
    // Asks the running service to stop; does not wait.
    virtual bool ControlStop() = 0;
    virtual bool Delete() = 0;
};

enum class ServiceAccess { QueryConfig, StopAndDelete };

class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    // Null when the service does not exist or cannot be opened.
    virtual std::unique_ptr<ServiceHandle> OpenService(const std::string& name, ServiceAccess access) = 0;
    // Registers an own-process service that starts automatically at system
    // start (it is not started now). Null on failure.
    virtual std::unique_ptr<ServiceHandle> CreateService(const std::string& name, const std::string& displayName,
                                                         const std::string& binaryPath) = 0;
};

// Null when the manager cannot be opened.
std::unique_ptr<ServiceManager> OpenServiceManager();

using ServiceMainFunction = std::function<void()>;
using ServiceControlHandler = std::function<void(unsigned controlCode)>;

// Runs the service in this process: serviceMain runs on a service thread of
// its own while the calling thread receives the controls and hands them to
// the registered handler. Returns when serviceMain has returned; false when
// the dispatcher cannot be started.
bool StartServiceDispatcher(const std::string& serviceName, ServiceMainFunction serviceMain);

// Runs the service in this process without the service control manager,
// in the foreground of a console: serviceMain runs on a service thread while
// the calling thread hands the controls to the registered handler, and
// Ctrl-C, Ctrl-Break or closing the console (on POSIX SIGINT or SIGTERM)
// are the stop control, a system shutdown the shutdown control. Returns when
// serviceMain has returned; false when the console's controls cannot be had.
bool RunServiceInForeground(const std::string& serviceName, ServiceMainFunction serviceMain);

// Registers the control handler of the running service; false on failure.
bool RegisterServiceControlHandler(const std::string& serviceName, ServiceControlHandler handler);

// Reports the service's status to the manager.
bool ReportServiceStatus(const ServiceStatus& status);

}  // namespace platform

namespace platform {

// Status reports are kept so they can be inspected (the order of states a
// run went through); the oldest are dropped beyond a few hundred.
std::vector<ServiceState> ReportedServiceStates();
void ClearReportedServiceStates();

// Hands a control code to the running dispatcher as the manager would (the
// POSIX dispatcher also maps SIGTERM and SIGINT to stop, SIGPWR to shutdown).
void PostServiceControl(unsigned controlCode);

}  // namespace platform
