#include "tls/VerifyFailure.h"

namespace tls {

const char* VerifyFailureText(VerifyFailure failure) {
    switch (failure) {
        case VerifyFailure::None: return "";
        case VerifyFailure::Expired: return "the certificate has expired";
        case VerifyFailure::NotYetValid: return "the certificate is not valid yet";
        case VerifyFailure::WrongHost: return "the certificate belongs to another site";
        case VerifyFailure::SelfSigned: return "the certificate is self-signed";
        case VerifyFailure::UnknownIssuer: return "the certificate was not issued by a trusted authority";
        case VerifyFailure::Invalid: return "the certificate is not valid";
    }
    return "";
}

}  // namespace tls
