// The service control manager: install and removal through its handles, and
// the dispatcher, control handler and status reports of a running service.
#include "platform/Service.h"

#include <windows.h>
#include <winsvc.h>
// The interface's own names, not the macros for the wide calls.
#undef OpenService
#undef CreateService

#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "WideText.h"

namespace platform {

static_assert(kServiceWin32OwnProcess == SERVICE_WIN32_OWN_PROCESS);
static_assert(kServiceAcceptStop == SERVICE_ACCEPT_STOP);
static_assert(kServiceControlStop == SERVICE_CONTROL_STOP && kServiceControlPause == SERVICE_CONTROL_PAUSE &&
              kServiceControlContinue == SERVICE_CONTROL_CONTINUE &&
              kServiceControlInterrogate == SERVICE_CONTROL_INTERROGATE &&
              kServiceControlShutdown == SERVICE_CONTROL_SHUTDOWN);

namespace {

DWORD Win32State(ServiceState state) {
    switch (state) {
        case ServiceState::Stopped:
            return SERVICE_STOPPED;
        case ServiceState::StartPending:
            return SERVICE_START_PENDING;
        case ServiceState::StopPending:
            return SERVICE_STOP_PENDING;
        case ServiceState::Running:
            return SERVICE_RUNNING;
    }
    return SERVICE_STOPPED;
}

// A path with a blank is quoted: unquoted, the manager would try to start
// "C:\Program.exe" for "C:\Program Files\...\Proxy.exe".
std::wstring BinaryPathForManager(const std::string& path) {
    std::wstring wide = win32::WideFrom(path);
    if (wide.find(L' ') == std::wstring::npos || wide.front() == L'"') return wide;
    return L"\"" + wide + L"\"";
}

class ScmServiceHandle : public ServiceHandle {
public:
    explicit ScmServiceHandle(SC_HANDLE service) : service_(service) {}
    ~ScmServiceHandle() override { CloseServiceHandle(service_); }
    ScmServiceHandle(const ScmServiceHandle&) = delete;
    ScmServiceHandle& operator=(const ScmServiceHandle&) = delete;

    bool SetDescription(const std::string& text) override {
        std::wstring wide = win32::WideFrom(text);
        SERVICE_DESCRIPTIONW description{wide.data()};
        return ChangeServiceConfig2W(service_, SERVICE_CONFIG_DESCRIPTION, &description) != 0;
    }

    bool ControlStop() override {
        SERVICE_STATUS status{};
        return ControlService(service_, SERVICE_CONTROL_STOP, &status) != 0;
    }

    bool Delete() override { return DeleteService(service_) != 0; }

private:
    SC_HANDLE service_;
};

class ScmManager : public ServiceManager {
public:
    explicit ScmManager(SC_HANDLE manager) : manager_(manager) {}
    ~ScmManager() override { CloseServiceHandle(manager_); }
    ScmManager(const ScmManager&) = delete;
    ScmManager& operator=(const ScmManager&) = delete;

    std::unique_ptr<ServiceHandle> OpenService(const std::string& name, ServiceAccess access) override {
        DWORD rights = 0;
        switch (access) {
            case ServiceAccess::QueryConfig:
                rights = SERVICE_QUERY_CONFIG;
                break;
            case ServiceAccess::StopAndDelete:
                rights = SERVICE_STOP | DELETE;
                break;
        }
        SC_HANDLE service = OpenServiceW(manager_, win32::WideFrom(name).c_str(), rights);
        if (!service) return nullptr;
        return std::make_unique<ScmServiceHandle>(service);
    }

    std::unique_ptr<ServiceHandle> CreateService(const std::string& name, const std::string& displayName,
                                                 const std::string& binaryPath) override {
        if (binaryPath.empty()) return nullptr;  // the program's path could not be taken
        const std::wstring path = BinaryPathForManager(binaryPath);
        // Own process, started at system start (not now), LocalSystem, no
        // load-order group, no tag, no dependencies.
        SC_HANDLE service = CreateServiceW(manager_, win32::WideFrom(name).c_str(),
                                           win32::WideFrom(displayName).c_str(), SERVICE_ALL_ACCESS,
                                           SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                           path.c_str(), nullptr, nullptr, L"\0", nullptr, nullptr);
        if (!service) return nullptr;
        return std::make_unique<ScmServiceHandle>(service);
    }

private:
    SC_HANDLE manager_;
};

// The one service this process runs. The lock guards every member; the
// service main and the handler are called outside it.
struct DispatcherState {
    std::mutex lock;
    ServiceMainFunction serviceMain;
    ServiceControlHandler handler;
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    std::deque<unsigned> posted;
    std::deque<ServiceState> reported;
    // A run in the foreground of a console (no manager): the console's
    // handler queues the control and wakes the run's thread, which hands it
    // on; ended is set when the service main has returned. The two events
    // live as long as the process, since the console may call its handler
    // at any moment.
    bool foreground = false;
    HANDLE wake = nullptr;   // auto-reset
    HANDLE ended = nullptr;  // manual-reset
};

DispatcherState& State() {
    static DispatcherState state;
    return state;
}

// Hands queued controls to the registered handler, oldest first.
void DeliverQueued() {
    for (;;) {
        ServiceControlHandler handler;
        unsigned code;
        {
            std::lock_guard<std::mutex> g(State().lock);
            if (!State().handler || State().posted.empty()) return;
            handler = State().handler;
            code = State().posted.front();
            State().posted.pop_front();
        }
        handler(code);
    }
}

// Runs on the service thread the dispatcher creates; the arguments the
// manager passes are not used.
void WINAPI ServiceMainEntry(DWORD, LPWSTR*) {
    ServiceMainFunction serviceMain;
    {
        std::lock_guard<std::mutex> g(State().lock);
        serviceMain = State().serviceMain;
    }
    if (serviceMain) serviceMain();
}

// Runs on the dispatcher's thread, for every control the manager sends.
void WINAPI ControlEntry(DWORD controlCode) {
    ServiceControlHandler handler;
    {
        std::lock_guard<std::mutex> g(State().lock);
        handler = State().handler;
    }
    if (handler) handler(controlCode);
}

// Runs on a thread the console starts for each of its control events.
BOOL WINAPI ConsoleControlEntry(DWORD event) {
    unsigned code = kServiceControlStop;
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
            break;
        case CTRL_SHUTDOWN_EVENT:
            code = kServiceControlShutdown;
            break;
        default:
            return FALSE;
    }
    HANDLE wake;
    HANDLE ended;
    {
        std::lock_guard<std::mutex> g(State().lock);
        if (!State().foreground) return FALSE;
        State().posted.push_back(code);
        wake = State().wake;
        ended = State().ended;
    }
    SetEvent(wake);
    // After these the system ends the process once the handler returns:
    // give the stop its time (the system allows about five seconds).
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        WaitForSingleObject(ended, 4000);
    return TRUE;
}

}  // namespace

std::unique_ptr<ServiceManager> OpenServiceManager() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return nullptr;
    return std::make_unique<ScmManager>(manager);
}

bool StartServiceDispatcher(const std::string& serviceName, ServiceMainFunction serviceMain) {
    std::wstring name = win32::WideFrom(serviceName);
    {
        std::lock_guard<std::mutex> g(State().lock);
        State().serviceMain = std::move(serviceMain);
    }
    SERVICE_TABLE_ENTRYW table[] = {{name.data(), &ServiceMainEntry}, {nullptr, nullptr}};
    // Returns once the service has stopped; fails at once in a process the
    // manager did not start (a program run from a command prompt).
    bool ran = StartServiceCtrlDispatcherW(table) != 0;
    std::lock_guard<std::mutex> g(State().lock);
    State().serviceMain = nullptr;
    State().handler = nullptr;
    State().statusHandle = nullptr;
    State().posted.clear();
    return ran;
}

bool RunServiceInForeground(const std::string&, ServiceMainFunction serviceMain) {
    HANDLE wake;
    HANDLE ended;
    {
        std::lock_guard<std::mutex> g(State().lock);
        if (!State().wake) State().wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!State().ended) State().ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!State().wake || !State().ended) return false;
        wake = State().wake;
        ended = State().ended;
        ResetEvent(ended);
        State().foreground = true;
    }
    auto finish = [] {
        SetConsoleCtrlHandler(&ConsoleControlEntry, FALSE);
        std::lock_guard<std::mutex> g(State().lock);
        State().foreground = false;
        State().handler = nullptr;
        State().posted.clear();
    };
    // A program started with Ctrl-C ignored (a setting children inherit)
    // takes it again.
    SetConsoleCtrlHandler(nullptr, FALSE);
    if (!SetConsoleCtrlHandler(&ConsoleControlEntry, TRUE)) {
        finish();
        return false;
    }
    std::thread service;
    try {
        service = std::thread([&serviceMain, ended] {
            serviceMain();
            SetEvent(ended);
        });
    } catch (const std::system_error&) {
        finish();
        return false;
    }
    // Controls are handed on here, as the dispatcher's thread does; the
    // service's own end is the other event.
    const HANDLE events[] = {wake, ended};
    for (;;) {
        DWORD woke = WaitForMultipleObjects(2, events, FALSE, 1000);
        DeliverQueued();
        if (woke == WAIT_OBJECT_0 + 1) break;
    }
    service.join();
    finish();
    return true;
}

bool RegisterServiceControlHandler(const std::string& serviceName, ServiceControlHandler handler) {
    bool foreground;
    {
        // In place before the manager can send the first control.
        std::lock_guard<std::mutex> g(State().lock);
        State().handler = std::move(handler);
        foreground = State().foreground;
    }
    if (foreground) {
        // No manager: the console's controls that came first wait in the queue.
        DeliverQueued();
        return true;
    }
    SERVICE_STATUS_HANDLE status = RegisterServiceCtrlHandlerW(win32::WideFrom(serviceName).c_str(), &ControlEntry);
    {
        std::lock_guard<std::mutex> g(State().lock);
        if (!status) {
            State().handler = nullptr;
            return false;
        }
        State().statusHandle = status;
    }
    DeliverQueued();
    return true;
}

bool ReportServiceStatus(const ServiceStatus& status) {
    SERVICE_STATUS_HANDLE handle;
    {
        std::lock_guard<std::mutex> g(State().lock);
        State().reported.push_back(status.currentState);
        if (State().reported.size() > 512) State().reported.pop_front();
        handle = State().statusHandle;
    }
    if (!handle) return false;
    SERVICE_STATUS record{};
    record.dwServiceType = status.serviceType;
    record.dwCurrentState = Win32State(status.currentState);
    record.dwControlsAccepted = status.controlsAccepted;
    record.dwWin32ExitCode = status.win32ExitCode;
    record.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    record.dwCheckPoint = status.checkPoint;
    record.dwWaitHint = status.waitHint;
    return SetServiceStatus(handle, &record) != 0;
}

std::vector<ServiceState> ReportedServiceStates() {
    std::lock_guard<std::mutex> g(State().lock);
    return {State().reported.begin(), State().reported.end()};
}

void ClearReportedServiceStates() {
    std::lock_guard<std::mutex> g(State().lock);
    State().reported.clear();
}

void PostServiceControl(unsigned controlCode) {
    {
        std::lock_guard<std::mutex> g(State().lock);
        State().posted.push_back(controlCode);
    }
    // With a handler registered the control is handled now, on this thread;
    // before that it waits for the registration.
    DeliverQueued();
}

}  // namespace platform
