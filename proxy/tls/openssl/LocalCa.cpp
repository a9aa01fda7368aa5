#include "tls/LocalCa.h"

#include <openssl/crypto.h>
#include <platform/File.h>
#include <platform/PrivateFile.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tls/openssl/Certificates.h"
#include "tls/openssl/Impl.h"

namespace tls {

namespace {

constexpr int kCaDays = 3650;
// Leaves start a day back (clocks that are a little behind); so does the CA,
// so that every leaf lies within its validity.
constexpr int kBackdateDays = -1;

// Wipes a key's text when it goes out of scope.
struct KeyText {
    std::string text;
    ~KeyText() { OPENSSL_cleanse(text.data(), text.size()); }
};

std::string CommonName(X509* certificate) {
    char name[256] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, name, sizeof name);
    return name;
}

std::string TemporaryFor(const std::string& path) {
    return path + "." + std::to_string(platform::CurrentProcessNumber()) + ".tmp";
}

bool ReadFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    bytes = all.str();
    return !in.bad();
}

std::shared_ptr<const LocalCa> Wrap(X509Ptr certificate, KeyPtr key) {
    auto impl = std::make_unique<LocalCa::Impl>();
    impl->certificatePem = CertificateToPem(certificate.get());
    if (impl->certificatePem.empty()) return nullptr;
    impl->name = CommonName(certificate.get());
    impl->certificate = std::move(certificate);
    impl->key = std::move(key);
    return std::make_shared<const LocalCa>(std::move(impl));
}

}  // namespace

LocalCa::LocalCa(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
LocalCa::~LocalCa() = default;

std::shared_ptr<const LocalCa> LocalCa::Create(std::string& error) {
    KeyPtr key = NewP256Key();
    const std::string installId = RandomHex(8);
    X509Ptr certificate = key && !installId.empty() ? NewCertificate(key.get(), std::time(nullptr), kBackdateDays, kCaDays)
                                                    : nullptr;
    if (!certificate) {
        error = "could not make a key for the local CA";
        return nullptr;
    }
    X509_NAME* subject = X509_get_subject_name(certificate.get());
    const std::string commonName = "Morvane local CA " + installId;
    auto text = [](const std::string& s) { return reinterpret_cast<const unsigned char*>(s.c_str()); };
    bool ok = X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_ASC, text("Morvane"), -1, -1, 0) == 1 &&
              X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, text(commonName), -1, -1, 0) == 1 &&
              X509_set_issuer_name(certificate.get(), subject) == 1 &&
              AddExtension(certificate.get(), certificate.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0") &&
              AddExtension(certificate.get(), certificate.get(), NID_key_usage, "critical,keyCertSign,cRLSign") &&
              AddExtension(certificate.get(), certificate.get(), NID_subject_key_identifier, "hash") &&
              X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0;
    std::shared_ptr<const LocalCa> ca = ok ? Wrap(std::move(certificate), std::move(key)) : nullptr;
    if (!ca) error = "could not sign the local CA's certificate";
    return ca;
}

std::shared_ptr<const LocalCa> LocalCa::Load(const CaPaths& paths, CaLoad& status) {
    KeyText key;
    switch (platform::ReadPrivateFile(paths.key, key.text)) {
        case platform::PrivateFileRead::Ok: break;
        case platform::PrivateFileRead::Missing: status = CaLoad::Missing; return nullptr;
        case platform::PrivateFileRead::Exposed: status = CaLoad::KeyExposed; return nullptr;
        case platform::PrivateFileRead::Failed: status = CaLoad::Invalid; return nullptr;
    }
    std::string pem;
    if (!ReadFile(paths.certificate, pem)) {
        status = std::filesystem::exists(paths.certificate) ? CaLoad::Invalid : CaLoad::Missing;
        return nullptr;
    }
    X509Ptr certificate = CertificateFromPem(pem);
    KeyPtr privateKey = KeyFromPem(key.text);
    // The pair must match, and the certificate must be a CA's.
    if (!certificate || !privateKey || X509_check_private_key(certificate.get(), privateKey.get()) != 1 ||
        X509_check_ca(certificate.get()) == 0) {
        status = CaLoad::Invalid;
        return nullptr;
    }
    std::shared_ptr<const LocalCa> ca = Wrap(std::move(certificate), std::move(privateKey));
    status = ca ? CaLoad::Ok : CaLoad::Invalid;
    return ca;
}

bool LocalCa::Store(const CaPaths& paths, std::string& error) const {
    std::error_code ec;
    for (const std::string* path : {&paths.key, &paths.certificate}) {
        std::filesystem::path folder = std::filesystem::path(*path).parent_path();
        if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    }
    KeyText key{KeyToPem(impl_->key.get())};
    if (key.text.empty() || !platform::WritePrivateFile(paths.key, TemporaryFor(paths.key), key.text)) {
        error = "could not write the local CA's key to " + paths.key;
        return false;
    }
    if (!platform::ReplaceFileWith(paths.certificate, TemporaryFor(paths.certificate), impl_->certificatePem)) {
        std::filesystem::remove(paths.key, ec);
        error = "could not write the local CA's certificate to " + paths.certificate;
        return false;
    }
    return true;
}

std::string LocalCa::CertificatePem() const { return impl_->certificatePem; }
std::string LocalCa::Name() const { return impl_->name; }

}  // namespace tls
