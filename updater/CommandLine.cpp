#include "CommandLine.h"

namespace updater {

namespace {

// The first count characters of UTF-8 text (never a broken character).
std::string FirstCharacters(const std::string& text, size_t count) {
    size_t bytes = 0;
    while (bytes < text.size() && count > 0) {
        ++bytes;
        while (bytes < text.size() && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) ++bytes;
        --count;
    }
    return text.substr(0, bytes);
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    for (const std::string& argument : arguments) {
        if (argument == "-h") line.hidden = true;
        if (argument == "-u") line.softwareUpdate = true;
        if (argument.find("-v") != std::string::npos) {
            // "-v" and one separator (":" or "=") come before the version.
            line.installedVersion = argument.size() > 3 ? FirstCharacters(argument.substr(3), kInstalledVersionMax) : "";
        }
    }
    return line;
}

}  // namespace updater
