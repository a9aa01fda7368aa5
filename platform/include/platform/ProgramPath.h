#pragma once

#include <string>

namespace platform {

// Full path of the running program; empty on failure.
std::string ProgramPath();
// The folder that holds the running program, without a trailing separator.
std::string ProgramFolder();
// Makes the folder the process's working directory.
bool SetWorkingDirectory(const std::string& folder);
// Joins a folder and a relative path written with either separator.
std::string JoinPath(const std::string& folder, const std::string& relative);

}  // namespace platform
