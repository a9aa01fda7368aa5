#include "platform/MessageBox.h"

#include <windows.h>

#include <cstdio>

#include "Utf8Text.h"

namespace platform {

void ShowMessageBox(const std::string& caption, const std::string& text) {
    // MessageBoxA reads the ANSI code page.
    const std::string ansiCaption = win32::NarrowFrom(win32::WideFromUtf8(caption));
    const std::string ansiText = win32::NarrowFrom(win32::WideFromUtf8(text));
    if (MessageBoxA(nullptr, ansiText.c_str(), ansiCaption.c_str(), MB_OK) > 0) return;
    // No desktop to show it on (a service, a session without a display):
    // the message still reaches whoever reads the error stream.
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
}

}  // namespace platform
