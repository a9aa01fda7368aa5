#include "platform/Process.h"

#include <windows.h>
#include <shellapi.h>

#include <string_view>
#include <utility>

#include "ProcessHandle.h"
#include "WideText.h"

namespace platform {

Process::Handle::~Handle() {
    if (process) CloseHandle(process);
}

ProcessWaitResult Process::Handle::Finish() {
    DWORD code = 0;
    // An exit code is a DWORD; main's -1 comes back as -1.
    if (GetExitCodeProcess(process, &code)) exitCode = static_cast<int>(code);
    ended = true;
    return ProcessWaitResult::Ended;
}

namespace {

bool IsFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring EnvironmentValue(const wchar_t* name) {
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return {};
    std::wstring value(n, L'\0');
    n = GetEnvironmentVariableW(name, value.data(), n);
    if (n == 0 || n >= value.size()) return {};
    value.resize(n);
    return value;
}

std::wstring FullPath(const std::wstring& path) {
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return {};
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
    if (n == 0 || n >= full.size()) return {};
    full.resize(n);
    return full;
}

std::wstring FindProgramWide(const std::string& name) {
    if (name.empty()) return {};
    const std::wstring wide = win32::WideFrom(name);
    if (wide.empty()) return {};
    if (wide.find_first_of(L"\\/:") != std::wstring::npos) return wide;
    std::vector<std::wstring> names{wide};
    if (wide.find(L'.') == std::wstring::npos) names.push_back(wide + L".exe");

    std::vector<std::wstring> folders{L"."};
    const std::wstring path = EnvironmentValue(L"PATH");
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find(L';', start);
        if (end == std::wstring::npos) end = path.size();
        std::wstring folder = path.substr(start, end - start);
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"')
            folder = folder.substr(1, folder.size() - 2);
        if (!folder.empty()) folders.push_back(std::move(folder));
        start = end + 1;
    }
    for (const auto& folder : folders) {
        const bool separated = folder.back() == L'\\' || folder.back() == L'/';
        for (const auto& candidate : names) {
            std::wstring file = folder + (separated ? L"" : L"\\") + candidate;
            if (IsFile(file)) return file;
        }
    }
    return {};
}

// Quotes one argument so that the program's command-line parser (the C
// runtime's, CommandLineToArgvW) reads it back unchanged: backslashes count
// only before a quote.
void AppendArgument(std::wstring& line, const std::wstring& argument) {
    if (!line.empty()) line += L' ';
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    for (auto it = argument.begin();; ++it) {
        size_t backslashes = 0;
        while (it != argument.end() && *it == L'\\') {
            ++it;
            ++backslashes;
        }
        if (it == argument.end()) {
            line.append(backslashes * 2, L'\\');
            break;
        }
        if (*it == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        line += *it;
    }
    line += L'"';
}

int ShowState(ShowWindow show) {
    switch (show) {
        case ShowWindow::Hidden:
            return SW_HIDE;
        case ShowWindow::Shown:
            return SW_SHOW;
    }
    return SW_HIDE;
}

}  // namespace

Process::Process() noexcept = default;
Process::Process(std::unique_ptr<Handle> handle) noexcept : handle_(std::move(handle)) {}
Process::~Process() = default;
Process::Process(Process&& other) noexcept = default;
Process& Process::operator=(Process&& other) noexcept = default;

Process Process::Open(ProcessId id) {
    if (id == kNoProcess) return {};
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, id);
    if (!process) return {};
    auto handle = std::make_unique<Handle>();
    handle->process = process;
    handle->id = id;
    return Process(std::move(handle));
}

ProcessId Process::Id() const { return handle_ ? handle_->id : kNoProcess; }

std::optional<int> Process::ExitCode() const { return handle_ ? handle_->exitCode : std::nullopt; }

ProcessWaitResult Process::Wait(int timeoutMs) {
    if (!handle_) return ProcessWaitResult::Failed;
    if (handle_->ended) return ProcessWaitResult::Ended;
    switch (WaitForSingleObject(handle_->process, win32::WaitTime(timeoutMs))) {
        case WAIT_OBJECT_0:
            return handle_->Finish();
        case WAIT_TIMEOUT:
            return ProcessWaitResult::TimedOut;
        default:
            return ProcessWaitResult::Failed;
    }
}

std::string FindProgram(const std::string& name) {
    const std::wstring found = FindProgramWide(name);
    return found.empty() ? std::string() : win32::NarrowFrom(found);
}

namespace {

// shareConsole: a console program runs on this process's console instead
// of one of its own.
Process Start(const std::string& program, const std::vector<std::string>& arguments, ShowWindow show,
              const std::string& workingFolder, bool shareConsole) {
    // The shell would look a bare name up its own way: hand it the file found
    // here, whole, so a working folder cannot change which file runs.
    const std::wstring file = FullPath(FindProgramWide(program));
    if (file.empty()) return {};
    std::wstring parameters;
    for (const auto& argument : arguments) AppendArgument(parameters, win32::WideFrom(argument));
    const std::wstring folder = win32::WideFrom(workingFolder);

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // No error dialogs: a failed start is a return value.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    if (shareConsole) info.fMask |= SEE_MASK_NO_CONSOLE;
    info.lpFile = file.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    info.nShow = ShowState(show);
    if (!ShellExecuteExW(&info)) return {};
    // Without a process handle there is nothing to wait on; a caller that
    // restarts what ended would start again at once.
    if (!info.hProcess) return {};
    auto handle = std::make_unique<Process::Handle>();
    handle->process = info.hProcess;
    handle->id = GetProcessId(info.hProcess);
    return Process(std::move(handle));
}

}  // namespace

Process StartProgram(const std::string& program, const std::vector<std::string>& arguments, ShowWindow show,
                     const std::string& workingFolder) {
    return Start(program, arguments, show, workingFolder, false);
}

Process StartConsoleProgram(const std::string& program, const std::vector<std::string>& arguments,
                            const std::string& workingFolder) {
    return Start(program, arguments, ShowWindow::Hidden, workingFolder, true);
}

namespace {

// This process stays when the Ctrl-C it sends to its console comes back to
// it. (Ignoring Ctrl-C with a null handler would be inherited by the
// programs it starts, and under Wine they then never see the event.)
BOOL WINAPI StayOnInterrupt(DWORD event) { return event == CTRL_C_EVENT ? TRUE : FALSE; }

}  // namespace

bool TakeOwnConsole() {
    FreeConsole();
    if (!AllocConsole()) return false;
    return SetConsoleCtrlHandler(&StayOnInterrupt, TRUE) != 0;
}

bool SendInterrupt(const Process&) { return GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0; }

}  // namespace platform
