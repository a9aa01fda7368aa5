#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// What ended a wait of a dialog's loop.
enum class DialogEventKind {
    Button,  // the user pressed the enabled push button (Enter)
    Close,   // the user asked to close the dialog (end of input)
    Posted,  // another thread posted a code with Post()
};

struct DialogEvent {
    DialogEventKind kind;
    int code = 0;  // the posted code, or the button's control id
};

// Where a console dialog reads the user's keys.
class ConsoleInput {
public:
    // The process's standard input: a terminal, a pipe or a file. On a
    // console that delivers keys as events rather than lines, Enter ends a
    // line and Esc or Ctrl+Z ends the input.
    static std::shared_ptr<ConsoleInput> Standard();
    // A pipe within the process that stands for the keyboard: what Type()
    // writes is read as typed, EndInput() is the end of input. Null when the
    // pipe cannot be made.
    static std::shared_ptr<ConsoleInput> MakeFeed();

    ~ConsoleInput();
    ConsoleInput(const ConsoleInput&) = delete;
    ConsoleInput& operator=(const ConsoleInput&) = delete;

    // For a feed only; false once the input has ended. Small amounts only:
    // the pipe holds a few kilobytes until the dialog reads them.
    bool Type(const std::string& keys);
    void EndInput();

private:
    friend class ConsoleDialog;
    struct Impl;  // the OS's handle of the reading end (and of a feed's writing end)
    explicit ConsoleInput(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// A dialog on the terminal: texts go to the output stream, the progress bar
// to the error stream, the one push button is Enter and closing is end of
// input. Controls are identified by id like the controls of a dialog
// template. Texts are UTF-8; they may carry links written as
// <a href="address">label</a>, which are printed with their address. Every
// member may be called from any thread.
class ConsoleDialog {
public:
    // Without an input (null) the dialog sees the end of input at once.
    explicit ConsoleDialog(std::shared_ptr<ConsoleInput> input = ConsoleInput::Standard(), std::FILE* out = stdout,
                           std::FILE* err = stderr);
    ~ConsoleDialog();
    ConsoleDialog(const ConsoleDialog&) = delete;
    ConsoleDialog& operator=(const ConsoleDialog&) = delete;

    void SetTitle(const std::string& title);
    void AddText(int id, const std::string& text, bool visible = true);
    void AddProgress(int id, bool visible = false);
    void AddButton(int id, const std::string& text);

    // Prints the title and every visible control. Changes made after this
    // are printed as they happen.
    void Show();
    bool isShown() const;

    void SetText(int id, const std::string& text);
    void ShowControl(int id, bool visible);
    void EnableButton(int id, bool enabled);
    void SetProgressRange(int id, uint64_t maximum);
    void SetProgressPos(int id, uint64_t position);

    // Ends the progress bar's line, so that other output (a message box)
    // starts on a line of its own.
    void FinishProgressLine();

    // The dialog goes away: an open progress line is ended and later changes
    // are no longer printed.
    void End();

    // Wakes the dialog's loop with a code; safe from any thread.
    void Post(int code);

    // Waits for the next event. Posted codes come first, in order. With
    // readInput false only posted codes end the wait (the user's input stays
    // unread until a later wait reads it).
    DialogEvent WaitEvent(bool readInput = true);

    // How the terminal shows a text: line ends unified, links with their
    // address.
    static std::string RenderText(const std::string& text);

private:
    enum class Kind { Text, Progress, Button };
    struct Control {
        int id;
        Kind kind;
        std::string text;
        bool visible = true;
        bool enabled = true;
        uint64_t maximum = 0;
        uint64_t position = 0;
        int drawnPermille = -1;
    };

    struct Wake;  // how Post() wakes a waiting loop (the OS's own means)

    Control* Find(int id);
    void PrintControl(const Control& control);  // mutex_ held
    void DrawProgress(Control& control);        // mutex_ held
    void EndProgressLine();                     // mutex_ held
    // A posted code, or a typed line that presses the button; mutex_ held.
    bool TakeReadyEvent(bool readInput, DialogEvent& event);
    // Writes text to one of the dialog's streams and flushes it (on a
    // console window as the characters, elsewhere as the UTF-8 bytes).
    static void Write(std::FILE* stream, const std::string& text);

    std::shared_ptr<ConsoleInput> input_;
    std::FILE* out_;
    std::FILE* err_;
    std::unique_ptr<Wake> wake_;

    mutable std::mutex mutex_;  // guards everything below
    std::string title_;
    std::vector<Control> controls_;
    bool shown_ = false;
    bool progressLineOpen_ = false;
    std::deque<int> posted_;
    std::string pendingInput_;
};

}  // namespace platform
