#include <filesystem>

#include "tls/LocalCa.h"

namespace tls {

bool LocalCa::Remove(const CaPaths& paths) {
    std::error_code ec;
    bool gone = true;
    for (const std::string* path : {&paths.key, &paths.certificate}) {
        std::filesystem::remove(*path, ec);
        gone = gone && !std::filesystem::exists(*path, ec);
    }
    return gone;
}

}  // namespace tls
