#include "platform/Crypto.h"

#include <windows.h>
#include <bcrypt.h>

#include <fstream>

namespace platform {

namespace {

// The algorithm and hash handles of one digest, closed in reverse order.
struct Sha256Handles {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~Sha256Handles() {
        if (hash) BCryptDestroyHash(hash);
        if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

}  // namespace

bool RandomBytes(void* out, size_t n) {
    auto* at = static_cast<UCHAR*>(out);
    while (n > 0) {
        const ULONG chunk = n > 0x40000000 ? 0x40000000 : static_cast<ULONG>(n);
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, at, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
        at += chunk;
        n -= chunk;
    }
    return true;
}

bool Sha256OfFile(const std::string& path, Sha256Digest& digest) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    Sha256Handles handles;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handles.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return false;
    // Windows 7 and later keep the hash object themselves when given none.
    if (!BCRYPT_SUCCESS(BCryptCreateHash(handles.algorithm, &handles.hash, nullptr, 0, nullptr, 0, 0))) return false;
    char buffer[64 * 1024];
    while (in) {
        in.read(buffer, sizeof buffer);
        const std::streamsize got = in.gcount();
        if (got > 0 &&
            !BCRYPT_SUCCESS(BCryptHashData(handles.hash, reinterpret_cast<PUCHAR>(buffer), static_cast<ULONG>(got), 0)))
            return false;
    }
    if (!in.eof()) return false;  // a read error, not the end of the file
    return BCRYPT_SUCCESS(BCryptFinishHash(handles.hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
}

}  // namespace platform
