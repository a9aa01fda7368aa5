#include "sievekit/CDomainManager.h"

CDomainManager::CDomainManager()
    : productBlack_("Data/black_domains.txt"), productWhite_("Data/white_domains.txt") {}

CDomainManager::~CDomainManager() = default;

bool CDomainManager::Exists(DomainStruct& domain) {
    domain.noImageMark = false;
    domain.white = false;
    domain.emptyImage = false;
    if (noImage_.IsExists(domain)) domain.noImageMark = true;
    if (userWhite_.IsExists(domain) || productWhite_.IsExists(domain)) {
        domain.white = true;
        return false;
    }
    if (manualImage_.IsExists(domain)) {
        domain.emptyImage = true;
        return true;
    }
    if (userBlack_.IsExists(domain) || productBlack_.IsExists(domain)) {
        domain.blockPage = true;
        return true;
    }
    return false;
}

void CDomainManager::ReloadUserData() {
    userBlack_.ReloadData();
    userWhite_.ReloadData();
    noImage_.ReloadData();
    manualImage_.ReloadData();
}
