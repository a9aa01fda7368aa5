#pragma once

#include <memory>
#include <string>

namespace tls {

// Where the local CA is kept, relative to the program folder.
struct CaPaths {
    std::string certificate = "Data/https_ca.crt";  // PEM, public
    std::string key = "Data/https_ca.key";          // PEM, readable by this account only
};

enum class CaLoad {
    Ok,
    Missing,      // no CA yet (or only half of one)
    KeyExposed,   // another account may read or change the key: never used
    Invalid,      // unreadable, malformed, or key and certificate do not match
    Unavailable,  // this build has no TLS implementation
};

// The certificate authority of this install: made here, never shipped, so no
// two installs share a key. It signs the leaf certificates that the browser
// side of an intercepted connection presents.
class LocalCa {
public:
    // A new CA: an ECDSA P-256 key, CA:TRUE with pathlen 0, keyCertSign and
    // cRLSign, a subject naming Morvane and a random install id, ten years.
    // Null with the reason in `error`.
    static std::shared_ptr<const LocalCa> Create(std::string& error);
    static std::shared_ptr<const LocalCa> Load(const CaPaths& paths, CaLoad& status);
    // Writes the certificate and (private) the key; false with the reason.
    bool Store(const CaPaths& paths, std::string& error) const;
    // Deletes both files; true when neither is left.
    static bool Remove(const CaPaths& paths);

    std::string CertificatePem() const;
    // The subject's common name ("Morvane local CA 3f9a..."), for messages.
    std::string Name() const;

    ~LocalCa();
    LocalCa(const LocalCa&) = delete;
    LocalCa& operator=(const LocalCa&) = delete;

    struct Impl;  // the backend's
    const Impl& impl() const { return *impl_; }
    explicit LocalCa(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace tls
