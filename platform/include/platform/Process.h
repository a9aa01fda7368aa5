#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The number the system knows a process by, as a process snapshot lists it.
using ProcessId = std::uint32_t;
constexpr ProcessId kNoProcess = 0;

enum class ProcessWaitResult {
    Ended,     // the process has ended (or no longer exists)
    EventSet,  // the event was set first (only a wait with an event)
    TimedOut,
    Failed,    // the process cannot be waited on
};

// How a started program's window is shown. POSIX programs have none; the
// stand-in ignores it.
enum class ShowWindow { Hidden, Shown };

class WaitEvent;

// A process to wait on: one this process started (StartProgram) or one it
// opened by id (Process::Open). Owns the system's handle on it (a process
// handle on Windows, a pidfd on POSIX) and closes it when it goes; the
// process itself runs on. A default-constructed one names no process.
class Process {
public:
    Process() noexcept;
    ~Process();
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // A running process that this process did not start, opened to wait on
    // it. Names no process when there is none with that id or it cannot be
    // opened.
    static Process Open(ProcessId id);

    explicit operator bool() const { return handle_ != nullptr; }
    ProcessId Id() const;

    // Waits until the process ends; timeoutMs < 0 waits without limit.
    ProcessWaitResult Wait(int timeoutMs = -1);
    // The exit code once a wait has seen the process end. Empty before that,
    // and on POSIX for a process this one did not start or one that a signal
    // ended.
    std::optional<int> ExitCode() const;

    // The system's objects behind the process, defined by each implementation.
    struct Handle;
    explicit Process(std::unique_ptr<Handle> handle) noexcept;

private:
    std::unique_ptr<Handle> handle_;
    friend ProcessWaitResult WaitForProcessOrEvent(Process& process, const WaitEvent& event, int timeoutMs);
};

// Where a bare program name is found: the current folder first, then the
// search path (PATH). Empty when not found. A name with a folder in it is
// returned as it is. On Windows a name without an extension is also looked
// for with ".exe".
std::string FindProgram(const std::string& name);

// Starts a program with its arguments, each passed as one argument, never
// through a shell; a bare name is looked up with FindProgram. The program
// runs in workingFolder (empty: this process's folder). Names no process when
// the program cannot be started.
Process StartProgram(const std::string& program, const std::vector<std::string>& arguments, ShowWindow show,
                     const std::string& workingFolder = {});

// Ctrl-C for console programs this process starts (tests of them).
// TakeOwnConsole gives this process a console of its own (Windows; elsewhere
// nothing needs to change); StartConsoleProgram starts a program as
// StartProgram does, hidden, but on this process's console; SendInterrupt
// reaches it as Ctrl-C at that console does: on Windows the Ctrl-C event goes
// to every program on the console while this process runs on; on POSIX the
// program gets SIGINT. False when it cannot be done.
bool TakeOwnConsole();
Process StartConsoleProgram(const std::string& program, const std::vector<std::string>& arguments,
                            const std::string& workingFolder = {});
bool SendInterrupt(const Process& process);

}  // namespace platform
