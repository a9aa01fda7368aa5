// The console dialog's waits on Windows. Standard input may be a console
// (keys arrive as input events), a pipe (which cannot be waited on: it is
// looked at between short waits for a post) or a file.
#include "platform/ConsoleDialog.h"

#include <windows.h>
#include <io.h>

#include <algorithm>

#include "Utf8Text.h"

namespace platform {

namespace {

// How long a wait on a pipe sleeps between looks at it; a post wakes it at
// once.
constexpr DWORD kPipeLookMs = 50;

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

}  // namespace

struct ConsoleInput::Impl {
    HANDLE read = nullptr;
    HANDLE write = nullptr;  // a feed's writing end
    bool owned = false;      // standard input is not ours to close
    bool ended = false;      // seen by the dialog's loop: Esc on a console is read once
};

ConsoleInput::ConsoleInput(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ConsoleInput::~ConsoleInput() {
    EndInput();
    if (impl_->owned && impl_->read) CloseHandle(impl_->read);
}

std::shared_ptr<ConsoleInput> ConsoleInput::Standard() {
    auto impl = std::make_unique<Impl>();
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    impl->read = input == INVALID_HANDLE_VALUE ? nullptr : input;
    return std::shared_ptr<ConsoleInput>(new ConsoleInput(std::move(impl)));
}

std::shared_ptr<ConsoleInput> ConsoleInput::MakeFeed() {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, nullptr, 0)) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->read = read;
    impl->write = write;
    impl->owned = true;
    return std::shared_ptr<ConsoleInput>(new ConsoleInput(std::move(impl)));
}

bool ConsoleInput::Type(const std::string& keys) {
    if (!impl_->write) return false;
    size_t done = 0;
    while (done < keys.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(keys.size() - done, 1u << 16));
        if (!WriteFile(impl_->write, keys.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

void ConsoleInput::EndInput() {
    if (!impl_->write) return;
    CloseHandle(impl_->write);
    impl_->write = nullptr;
}

struct ConsoleDialog::Wake {
    HANDLE event = nullptr;  // auto-reset: set by Post()
};

ConsoleDialog::ConsoleDialog(std::shared_ptr<ConsoleInput> input, std::FILE* out, std::FILE* err)
    : input_(std::move(input)), out_(out), err_(err), wake_(std::make_unique<Wake>()) {
    wake_->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

ConsoleDialog::~ConsoleDialog() {
    {
        std::lock_guard lock(mutex_);
        EndProgressLine();
    }
    if (wake_->event) CloseHandle(wake_->event);
}

void ConsoleDialog::Write(std::FILE* stream, const std::string& text) {
    std::fflush(stream);
    const int fd = _fileno(stream);
    const HANDLE handle = fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (IsConsole(handle)) {
        // A console shows characters, whatever its code page.
        const std::wstring wide = win32::WideFromUtf8(text);
        DWORD written = 0;
        if (wide.empty() ||
            WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr))
            return;
    }
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

void ConsoleDialog::Post(int code) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(code);
    }
    SetEvent(wake_->event);
}

namespace {

enum class InputStep { Read, Waited, Ended };

// Console keys: Enter is a line, Esc and Ctrl+Z end the input; other keys
// and events (mouse, focus, sizing) are dropped.
InputStep ReadConsoleKeys(HANDLE console, HANDLE wake, std::string& typed) {
    const HANDLE handles[2] = {wake, console};
    const DWORD waited = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (waited == WAIT_OBJECT_0) return InputStep::Waited;
    if (waited != WAIT_OBJECT_0 + 1) return InputStep::Ended;
    DWORD pending = 0;
    if (!GetNumberOfConsoleInputEvents(console, &pending)) return InputStep::Ended;
    if (pending == 0) return InputStep::Read;
    INPUT_RECORD records[32];
    DWORD got = 0;
    if (!ReadConsoleInputW(console, records, std::min<DWORD>(pending, 32), &got)) return InputStep::Ended;
    for (DWORD i = 0; i < got; ++i) {
        if (records[i].EventType != KEY_EVENT || !records[i].Event.KeyEvent.bKeyDown) continue;
        const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
        // Keys after the end are of no interest.
        if (key.wVirtualKeyCode == VK_ESCAPE || key.uChar.UnicodeChar == 0x1A) return InputStep::Ended;
        if (key.wVirtualKeyCode == VK_RETURN) typed += '\n';
    }
    return InputStep::Read;
}

InputStep ReadPlain(HANDLE file, std::string& typed) {
    char buffer[256];
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr) || got == 0) return InputStep::Ended;
    typed.append(buffer, got);
    return InputStep::Read;
}

InputStep ReadPipe(HANDLE pipe, HANDLE wake, std::string& typed) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
        // A closed writing end is the end of input.
        if (GetLastError() == ERROR_BROKEN_PIPE) return InputStep::Ended;
        // A pipe that cannot be looked into (Wine hands a Unix pipe over
        // so): read it, deaf to posts until the user types.
        return ReadPlain(pipe, typed);
    }
    if (available == 0) {
        const DWORD waited = WaitForSingleObject(wake, kPipeLookMs);
        if (waited == WAIT_OBJECT_0) return InputStep::Waited;
        return waited == WAIT_TIMEOUT ? InputStep::Read : InputStep::Ended;
    }
    char buffer[256];
    DWORD got = 0;
    if (!ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) || got == 0)
        return InputStep::Ended;
    typed.append(buffer, got);
    return InputStep::Read;
}

}  // namespace

DialogEvent ConsoleDialog::WaitEvent(bool readInput) {
    ConsoleInput::Impl* input = input_ ? input_->impl_.get() : nullptr;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            DialogEvent event{DialogEventKind::Close, 0};
            if (TakeReadyEvent(readInput, event)) return event;
        }
        if (!readInput) {
            if (WaitForSingleObject(wake_->event, INFINITE) != WAIT_OBJECT_0) return DialogEvent{DialogEventKind::Close, 0};
            continue;
        }
        // Lines typed before the end have pressed the button by now.
        if (!input || !input->read || input->ended) return DialogEvent{DialogEventKind::Close, 0};
        std::string typed;
        InputStep step;
        if (IsConsole(input->read))
            step = ReadConsoleKeys(input->read, wake_->event, typed);
        else if (GetFileType(input->read) == FILE_TYPE_PIPE)
            step = ReadPipe(input->read, wake_->event, typed);
        else
            step = ReadPlain(input->read, typed);
        if (!typed.empty()) {
            std::lock_guard lock(mutex_);
            pendingInput_ += typed;
        }
        switch (step) {
            case InputStep::Read:
            case InputStep::Waited:
                break;
            case InputStep::Ended:
                input->ended = true;
                break;
        }
    }
}

}  // namespace platform
