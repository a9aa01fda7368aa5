#include "LeftoverFiles.h"

#include <platform/ProcessSnapshot.h>

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace sievekit {

namespace {

// The decimal number that ends `text` after its last '.'; the text before
// that '.' is left in `text`. False when there is none.
bool TakeNumber(std::string_view& text, long long& value) {
    size_t dot = text.rfind('.');
    if (dot == std::string_view::npos) return false;
    std::string_view digits = text.substr(dot + 1);
    if (digits.empty() || digits.size() > 10) return false;
    value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    text = text.substr(0, dot);
    return true;
}

// The writer's process id when the name is "<file>.tmp.<pid>.<n>" with
// <file> a ".txt" or ".ini" file; -1 otherwise.
long long WriterOf(std::string_view name) {
    long long sequence = 0, pid = 0;
    if (!TakeNumber(name, sequence) || !TakeNumber(name, pid)) return -1;
    if (!name.ends_with(".tmp")) return -1;
    name.remove_suffix(4);
    if (name.size() <= 4 || !(name.ends_with(".txt") || name.ends_with(".ini"))) return -1;
    return pid;
}

}  // namespace

void RemoveLeftoverTemporaryFiles(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::directory_iterator it(fs::path(folder), error), end;
    for (; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        long long pid = WriterOf(it->path().filename().string());
        if (pid < 0 || pid > INT32_MAX) continue;
        if (!platform::ExecutableName(static_cast<platform::ProcessId>(pid)).empty()) continue;  // still saving
        std::error_code removeError;
        fs::remove(it->path(), removeError);
    }
}

}  // namespace sievekit
