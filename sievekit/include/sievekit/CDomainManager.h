#pragma once

#include <memory>

#include "sievekit/DomainStruct.h"
#include "sievekit/IDomain.h"

// Judges a request by the product's and the user's domain lists.
class CDomainManager {
public:
    CDomainManager();  // loads every list
    ~CDomainManager();
    CDomainManager(const CDomainManager&) = delete;
    CDomainManager& operator=(const CDomainManager&) = delete;

    // True when the request is to be blocked. Clears noImageMark, white and
    // emptyImage, then sets them (and blockPage) from the lists.
    bool Exists(DomainStruct& domain);
    // Re-reads the user lists.
    void ReloadUserData();

private:
    CDomainList productBlack_;
    CDomainList productWhite_;
    CUserBlackDomain userBlack_;
    CUserWhiteDomain userWhite_;
    CNoneImageDomain noImage_;
    CManualFilterImage manualImage_;
};
