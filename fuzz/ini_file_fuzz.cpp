// The INI reader (ReadProfileString) on a configuration or release file.
// The names asked for are taken from the file itself, so that present
// sections and keys are found.

#include <cstddef>
#include <cstdint>
#include <string>

#include <platform/IniFile.h>

#include "FuzzSupport.h"

namespace {

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// The first "[name]" and the first "key=" after it, as written.
void NamesIn(const std::string& text, std::string& section, std::string& key) {
    size_t open = text.find('[');
    size_t close = open == std::string::npos ? open : text.find(']', open);
    if (close != std::string::npos) section = text.substr(open + 1, close - open - 1);
    size_t from = close == std::string::npos ? 0 : close + 1;
    size_t lineStart = text.find('\n', from);
    if (lineStart == std::string::npos) return;
    size_t eq = text.find('=', lineStart);
    if (eq != std::string::npos) key = text.substr(lineStart + 1, eq - lineStart - 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::EnterScratchFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    fuzzsupport::WriteFile("Data/test.ini", text);
    std::string section = "Proxy", key = "proxyPort";
    NamesIn(text, section, key);
    const size_t bufferSize = size == 0 ? 16 : data[0] % 64;
    const std::string fallback = "  default value ";

    const std::string value = platform::ReadProfileString(section, key, fallback, bufferSize, "Data/test.ini");
    FUZZ_CHECK(bufferSize == 0 ? value.empty() : value.size() <= bufferSize - 1);
    FUZZ_CHECK(text.find(value) != std::string::npos || fallback.find(value) != std::string::npos);
    // Names compare without regard to ASCII case.
    FUZZ_CHECK(platform::ReadProfileString(Upper(section), Upper(key), fallback, bufferSize, "Data/test.ini") == value);
    // A longer buffer only cuts later.
    const std::string longer = platform::ReadProfileString(section, key, fallback, 4096, "Data/test.ini");
    FUZZ_CHECK(longer.compare(0, value.size(), value) == 0);
    for (const char* k : {"Version", "Url", "Description", "showControl", "listenAddress"})
        FUZZ_CHECK(platform::ReadProfileString("Setup", k, "", 1024, "Data/test.ini").size() <= 1023);
    return 0;
}
