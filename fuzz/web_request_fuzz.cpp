// The local web server's handling of one received request, without the
// socket: the same steps as CHttpServer::Serve (request line, command suffix
// and parameter, the control commands on the user lists, the page-folder
// check, the cached file read), on a scratch copy of the shipped pages and
// lists.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include <sievekit/CProxyConfig.h>

#include "FuzzSupport.h"
#include "web/CHttpServer.h"
#include "web/ControlRegistry.h"
#include "web/RequestPath.h"

namespace {

std::string root;
CHttpServer* server = nullptr;
ControlRegistry* controls = nullptr;

const char* const kUserLists[] = {"Data/user_black.txt", "Data/user_white.txt", "Data/user_noimage.txt",
                                  "Data/manual_image.txt"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::EnterScratchFolder();
    fuzzsupport::CopyShippedData();
    std::filesystem::copy(MORVANE_WWW_DIR, "www", std::filesystem::copy_options::recursive);
    root = std::filesystem::current_path().string() + "/www";
    ProxyConfig().LoadData();
    server = new CHttpServer(0, "127.0.0.1", root.c_str(), nullptr, ProxyConfig());
    controls = new ControlRegistry(ProxyConfig());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= kRequestBufferSize) return 0;  // refused before any reading
    const std::string request(reinterpret_cast<const char*>(data), size);

    std::string path = ParseRequestPath(request);
    FUZZ_CHECK(path.empty() || (path[0] == '/' && request.find(path) != std::string::npos));
    FUZZ_CHECK(path.size() < kRequestLineSize);
    SuffixAndParameter command = SplitSuffixAndParameter(path);
    FUZZ_CHECK(path.find(command.suffix) != std::string::npos && path.find(command.parameter) != std::string::npos);
    FUZZ_CHECK(command.suffix.empty() || command.suffix[0] == '.');
    if (command.suffix.size() >= kSuffixSize) return 0;
    LowerAscii(command.suffix);

    // Each command starts from empty user lists, so runs do not depend on
    // the ones before and the files stay small.
    for (const char* list : kUserLists) fuzzsupport::WriteFile(list, "");
    ProxyConfig().Config().whiteListLock = size & 1;
    if (controls->Dispatch(command.suffix, command.hasParameter ? command.parameter.c_str() : nullptr)) {
        path = "/OperationCompleted.html";
        command.suffix = ".html";
    }
    FUZZ_CHECK(MimeTypeFor(command.suffix) != nullptr);

    if (LeavesPageFolder(path)) return 0;
    // What is opened stays inside the page folder.
    const std::string fileName = root + path;
    const std::string normal = std::filesystem::path(fileName).lexically_normal().string();
    FUZZ_CHECK(normal.compare(0, root.size(), root) == 0);
    if (fileName.size() >= kFileNameSize) return 0;
    const std::string body = server->ReadFileCached(fileName, path != "/param.js");
    if (!body.empty()) FUZZ_CHECK(body.size() <= static_cast<size_t>(CHttpServer::kMaxFileSize));
    return 0;
}
