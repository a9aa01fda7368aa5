#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// Called while a download runs: the expected total size (0 while unknown) and
// the bytes received so far.
using DownloadProgress = std::function<void(uint64_t total, uint64_t soFar)>;

// Fetches an address (http, https or file) into a file. True only when the
// whole resource arrived (an HTTP status of 400 or above is a failure); the
// file is replaced only then and is left untouched otherwise. Redirects are
// followed.
bool DownloadToFile(const std::string& url, const std::string& file, const DownloadProgress& progress = {});

// Makes a downloaded program startable (the execute permission on POSIX).
bool MarkRunnable(const std::string& file);

}  // namespace platform
