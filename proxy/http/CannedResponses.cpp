// The answers the proxy sends on its own, and the body filter it offers the
// response pipeline.
#include <climits>
#include <cstring>
#include <cstdio>
#include <mutex>

#include <platform/File.h>

#include "http/ResponseFilterJob.h"
#include "http/ResponseWorker.h"
#include "net/CLocalProxy.h"

namespace {

std::string ReadWholeFile(const char* path) {
    std::string bytes;
    platform::ReadWholeFile(path, bytes);  // empty when it cannot be read
    return bytes;
}

// The not-found page, read once it exists and kept for the process's life.
std::mutex notFoundLock;
std::string notFoundPage;

std::string NotFoundPage() {
    std::lock_guard<std::mutex> g(notFoundLock);
    if (notFoundPage.empty()) notFoundPage = ReadWholeFile(kNotFoundPageFile);
    return notFoundPage;
}

}  // namespace

void CLocalProxy::SendPage(platform::Socket socket, const char* headerFormat, const std::string& body) {
    char header[2048];
    int n = std::snprintf(header, sizeof header, headerFormat, static_cast<int>(body.size()));
    if (n < 0) return;
    Send(socket, header, static_cast<int>(std::strlen(header)));
    SendWhole(socket, body);
}

void CLocalProxy::SendNotFoundPage(platform::Socket socket) {
    SendPage(socket, "HTTP/1.1 404 not found\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: %d\r\n\r\n",
             NotFoundPage());
}

void CLocalProxy::SendFilePage(platform::Socket socket, const char* path) {
    SendPage(socket, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: %d\r\n\r\n",
             ReadWholeFile(path));
}

int CLocalProxy::SendWhole(platform::Socket socket, const std::string& bytes) {
    if (bytes.size() > static_cast<size_t>(INT_MAX)) return -1;
    return Send(socket, bytes.data(), static_cast<int>(bytes.size()));
}

FilterOutcome CLocalProxy::FilterResponseBody(std::string& text, ResponseInfo& info, ConnectionRecord& record) {
    ResponseFilterJob job(record, info, text, wordFilters, limits.maxHtmlBody);
    return job.Apply();
}
