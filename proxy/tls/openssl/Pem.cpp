#include <openssl/pem.h>

#include "tls/openssl/Handles.h"

namespace tls {

namespace {

std::string DrainBio(BIO* bio) {
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

BioPtr ReadBio(const std::string& pem) {
    return BioPtr(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
}

}  // namespace

std::string CertificateToPem(X509* certificate) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1) return {};
    return DrainBio(bio.get());
}

std::string KeyToPem(EVP_PKEY* key) {
    BioPtr bio(BIO_new(BIO_s_secmem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) return {};
    return DrainBio(bio.get());
}

X509Ptr CertificateFromPem(const std::string& pem) {
    BioPtr bio = ReadBio(pem);
    return X509Ptr(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

KeyPtr KeyFromPem(const std::string& pem) {
    BioPtr bio = ReadBio(pem);
    // No password callback: a key that asks for one is not ours.
    return KeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, [](char*, int, int, void*) { return 0; }, nullptr)
                      : nullptr);
}

}  // namespace tls
