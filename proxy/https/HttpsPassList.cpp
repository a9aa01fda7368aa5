#include "https/HttpsPassList.h"

HttpsPassList::HttpsPassList() : shipped_(kShippedFile), user_(kUserFile) {}

void HttpsPassList::Reload() {
    shipped_.ReloadData();
    user_.ReloadData();
}

bool HttpsPassList::Contains(const std::string& host) const {
    return shipped_.MatchesHost(host.c_str()) || user_.MatchesHost(host.c_str());
}
