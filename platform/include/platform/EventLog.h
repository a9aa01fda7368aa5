#pragma once

#include <string>

namespace platform {

// Writes one information event under the given source. Returns false when the
// source cannot be registered or the event cannot be written (the text is
// then dropped).
bool ReportInformationEvent(const std::string& source, const std::string& text);

}  // namespace platform
