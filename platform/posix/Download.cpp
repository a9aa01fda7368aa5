#include "platform/Download.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <mutex>

namespace platform {

namespace {

void GlobalInitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t WriteToFile(char* data, size_t size, size_t count, void* userData) {
    return std::fwrite(data, size, count, static_cast<std::FILE*>(userData)) * size;
}

struct ProgressTarget {
    CURL* curl;
    const DownloadProgress* progress;
};

int OnTransferInfo(void* userData, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t, curl_off_t) {
    const auto* target = static_cast<const ProgressTarget*>(userData);
    // The size of an error page is not the progress of the download.
    long status = 0;
    curl_easy_getinfo(target->curl, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400) return 0;
    (*target->progress)(dlTotal > 0 ? static_cast<uint64_t>(dlTotal) : 0, dlNow > 0 ? static_cast<uint64_t>(dlNow) : 0);
    return 0;
}

}  // namespace

bool DownloadToFile(const std::string& url, const std::string& file, const DownloadProgress& progress) {
    if (url.empty() || file.empty()) return false;
    GlobalInitOnce();

    // Received into a side file and renamed at the end, so a failed download
    // never leaves a half file under the target name.
    const std::string partial = file + ".part";
    std::FILE* out = std::fopen(partial.c_str(), "wb");
    if (!out) return false;

    CURL* curl = curl_easy_init();
    if (!curl) {
        std::fclose(out);
        std::remove(partial.c_str());
        return false;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,file");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    // A stalled transfer (under 1 byte/s for a minute) is a failure, not a hang.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteToFile);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, out);
    ProgressTarget target{curl, &progress};
    if (progress) {
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnTransferInfo);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &target);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    }
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    const bool closed = std::fclose(out) == 0;

    std::error_code ec;
    if (rc != CURLE_OK || !closed) {
        std::filesystem::remove(partial, ec);
        return false;
    }
    std::filesystem::rename(partial, file, ec);
    if (ec) {
        std::filesystem::remove(partial, ec);
        return false;
    }
    return true;
}

bool MarkRunnable(const std::string& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return false;
    return ::chmod(file.c_str(), st.st_mode | S_IXUSR | S_IXGRP | S_IXOTH) == 0;
}

}  // namespace platform
