#include "platform/Crypto.h"

#include <openssl/evp.h>
#include <sys/random.h>

#include <cerrno>
#include <fstream>
#include <memory>

namespace platform {

bool RandomBytes(void* out, size_t n) {
    auto* at = static_cast<unsigned char*>(out);
    while (n > 0) {
        // Blocks only until the kernel's pool is first seeded, at boot.
        const ssize_t got = ::getrandom(at, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        at += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool Sha256OfFile(const std::string& path, Sha256Digest& digest) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return false;
    char buffer[64 * 1024];
    while (in) {
        in.read(buffer, sizeof buffer);
        const std::streamsize got = in.gcount();
        if (got > 0 && EVP_DigestUpdate(context.get(), buffer, static_cast<size_t>(got)) != 1) return false;
    }
    if (!in.eof()) return false;  // a read error, not the end of the file
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) return false;
    return length == digest.size();
}

}  // namespace platform
