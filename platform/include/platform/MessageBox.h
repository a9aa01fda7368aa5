#pragma once

#include <string>

namespace platform {

// A message box with only an OK button.
void ShowMessageBox(const std::string& caption, const std::string& text);

}  // namespace platform
