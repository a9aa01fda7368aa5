#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Reads one value from an INI file the way GetPrivateProfileString does:
// section and key names compare without regard to ASCII case, the first
// matching section and key win, the value is trimmed of blanks and of one
// pair of enclosing quotes, and it is cut to bufferSize - 1 bytes. The
// default (cut the same way) is returned when the file, the section or the
// key is missing. Lines starting with ";" are comments. The file name is a
// path like any other: a bare name is in the current folder.
std::string ReadProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                              size_t bufferSize, const std::string& file);

}  // namespace platform
