#pragma once

#include <string>
#include <string_view>

namespace platform {

// Files that only this program's account may read, such as a private key.

// Replaces `target` with `bytes` the way ReplaceFileWith does (through
// `temporary`, in one step), the file being readable and writable by this
// account alone from the moment it exists. False on any failure, with the
// target untouched and the temporary file removed.
bool WritePrivateFile(const std::string& target, const std::string& temporary, std::string_view bytes);

enum class PrivateFileRead {
    Ok,
    Missing,  // no such file
    Exposed,  // another account may read or change it: its content is not used
    Failed,   // it exists but cannot be read
};

// Reads a file written by WritePrivateFile, after checking that it still
// belongs to this account and nobody else may read or change it.
PrivateFileRead ReadPrivateFile(const std::string& path, std::string& bytes);

}  // namespace platform
