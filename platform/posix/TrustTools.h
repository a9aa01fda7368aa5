#pragma once

#include <string>
#include <vector>

#include "platform/TrustStore.h"

// What the POSIX trust stores share: running their tools and writing their
// files. Inside platform/posix only.

namespace platform::trust {

struct ToolRun {
    int exitCode = -1;   // -1: not started, killed or ended by a signal
    int startError = 0;  // errno of the start, 0 when it started
    bool timedOut = false;
    std::string output;  // stdout and stderr, the last few KB
};

// Runs a program found on PATH with stdin from /dev/null and its output
// collected; a tool that takes longer than two minutes is killed.
ToolRun RunTool(const std::vector<std::string>& argv);
// Why a tool run failed, for a message (naming the package that brings the
// tool when it is missing); empty when it succeeded.
std::string ToolFailure(const std::string& tool, const ToolRun& run, const char* package);
// Writes a whole file (mode 0644); false with the reason.
bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string& failure);
std::string ErrorText(int error);

// The two stores.
std::string SystemFolder(const TrustStoreSettings& s);
bool AddSystemRoot(const TrustStoreSettings& s, const std::string& name, const std::string& pem, std::string& failure);
bool RemoveSystemRoot(const TrustStoreSettings& s, const std::string& name, std::string& failure);
std::string BrowserDatabase(const TrustStoreSettings& s);
bool AddBrowserRoot(const TrustStoreSettings& s, const std::string& name, const std::string& pem, std::string& failure);
bool RemoveBrowserRoot(const TrustStoreSettings& s, const std::string& name, std::string& failure);

}  // namespace platform::trust
