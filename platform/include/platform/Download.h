#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// Called while a download runs, possibly on a thread of the download's own:
// the expected total size (0 while unknown) and the bytes received so far.
using DownloadProgress = std::function<void(uint64_t total, uint64_t soFar)>;

// Fetches an address (http, https or file) into a file. True only when the
// whole resource arrived (an HTTP status of 400 or above is a failure); the
// file is replaced only then and is left untouched otherwise. Redirects are
// followed; a transfer that stalls for a minute fails.
bool DownloadToFile(const std::string& url, const std::string& file, const DownloadProgress& progress = {});

// Makes a downloaded program startable: the execute permission where files
// carry one; elsewhere there is nothing to add. False when the file is not
// there.
bool MarkRunnable(const std::string& file);

}  // namespace platform
