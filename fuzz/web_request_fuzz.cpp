// The local web server's handling of one received request, without the
// socket: CHttpServer::Answer (Host check, request line, command suffix and
// parameter, the browser marks and the confirmation, the refused entries, the
// control commands on the user lists, the page-folder check, the cached file
// read) on a scratch copy of the shipped pages and lists, plus the
// request-line and header helpers it is built from.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include <sievekit/CProxyConfig.h>

#include "FuzzSupport.h"
#include "web/CHttpServer.h"
#include "web/RequestGuard.h"
#include "web/RequestHeaders.h"
#include "web/RequestPath.h"

namespace {

constexpr uint16_t kPort = 8867;
std::string root;
CHttpServer* server = nullptr;
std::set<std::string>* pages = nullptr;  // every file the page folder holds

const char* const kUserLists[] = {"Data/user_black.txt", "Data/user_white.txt", "Data/user_noimage.txt",
                                  "Data/manual_image.txt"};

bool AnyListWritten() {
    for (const char* list : kUserLists)
        if (std::filesystem::file_size(list) != 0) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::EnterScratchFolder();
    fuzzsupport::CopyShippedData();
    std::filesystem::copy(MORVANE_WWW_DIR, "www", std::filesystem::copy_options::recursive);
    root = std::filesystem::current_path().string() + "/www";
    pages = new std::set<std::string>;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        pages->insert(std::string(std::istreambuf_iterator<char>(in), {}));
    }
    ProxyConfig().LoadData();
    // Never listens: the port is what the Host names in the seeds are checked against.
    server = new CHttpServer(kPort, "127.0.0.1", root.c_str(), nullptr, ProxyConfig());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string request(reinterpret_cast<const char*>(data), size);

    // The pieces of the request line lie within the request.
    const std::string path = ParseRequestPath(request);
    FUZZ_CHECK(path.empty() || (path[0] == '/' && request.find(path) != std::string::npos));
    FUZZ_CHECK(path.size() < kRequestLineSize);
    const SuffixAndParameter command = SplitSuffixAndParameter(path);
    FUZZ_CHECK(path.find(command.suffix) != std::string::npos && path.find(command.parameter) != std::string::npos);
    FUZZ_CHECK(command.suffix.empty() || command.suffix[0] == '.');
    if (!LeavesPageFolder(path)) {
        // What would be opened stays inside the page folder.
        const std::string normal = std::filesystem::path(root + path).lexically_normal().string();
        FUZZ_CHECK(normal.compare(0, root.size(), root) == 0);
    }

    // Each request starts from empty user lists, so runs do not depend on
    // the ones before and the files stay small.
    for (const char* list : kUserLists) fuzzsupport::WriteFile(list, "");
    ProxyConfig().Config().whiteListLock = size & 1;
    const CHttpServer::Reply reply = server->Answer(request);
    // Lists change only for a command without a web page's marks (no fuzzed
    // POST can hold an open token), and its answer is a page of the folder.
    if (AnyListWritten()) {
        FUZZ_CHECK(!IsPostLine(request));
        FUZZ_CHECK(ClassifyRequestSource(ParseRequestHeaders(request), "127.0.0.1", kPort) == RequestSource::Direct);
        FUZZ_CHECK(reply.kind == CHttpServer::ReplyKind::Page);
    }
    FUZZ_CHECK(reply.found == (reply.kind != CHttpServer::ReplyKind::NotFound));
    if (!reply.found) return 0;
    FUZZ_CHECK(reply.header.starts_with("HTTP/1.0 200 OK\n") &&
               reply.header.ends_with("Content-Length: " + std::to_string(reply.body.size()) + "\r\n\r\n"));
    switch (reply.kind) {
        case CHttpServer::ReplyKind::Page:
            // Only pages of the page folder are ever served, whole.
            FUZZ_CHECK(pages->count(reply.body) == 1);
            break;
        case CHttpServer::ReplyKind::Confirmation:
            FUZZ_CHECK(reply.header.find("\nX-Frame-Options: DENY\n") != std::string::npos);
            FUZZ_CHECK(reply.body.find("<form method=\"POST\">") != std::string::npos);
            break;
        case CHttpServer::ReplyKind::Refusal:
        case CHttpServer::ReplyKind::NotFound:
            break;
    }
    return 0;
}
