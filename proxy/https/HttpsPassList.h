#pragma once

#include <string>

#include <sievekit/IDomain.h>

// Hosts whose CONNECT is always tunnelled, never intercepted: the shipped list
// (banks, health, government, apps that pin their certificates, update
// services) and the user's own. Entries cover the host and its subdomains,
// ASCII case ignored; "#" starts a comment. Safe for many threads; a reload
// swaps the new lists in.
class HttpsPassList {
public:
    static constexpr const char* kShippedFile = "Data/https_pass.txt";
    static constexpr const char* kUserFile = "Data/user_https_pass.txt";

    HttpsPassList();  // loads both files (relative to the working directory)
    void Reload();
    bool Contains(const std::string& host) const;

private:
    CDomainList shipped_;
    CDomainList user_;
};
