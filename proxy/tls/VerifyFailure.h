#pragma once

namespace tls {

// Why an origin's certificate was refused, for the block page.
enum class VerifyFailure {
    None,
    Expired,
    NotYetValid,
    WrongHost,      // issued for another name or address
    SelfSigned,
    UnknownIssuer,  // no chain to a trusted authority (our own CA counts as none)
    Invalid,        // anything else: a bad signature, a wrong key usage, a malformed certificate
};

// The reason in a few words ("the certificate has expired"); empty for None.
const char* VerifyFailureText(VerifyFailure failure);

}  // namespace tls
