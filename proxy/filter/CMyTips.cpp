#include "filter/CMyTips.h"

#include <random>

CMyTips::CMyTips(const char* fileName) : CMyList(fileName, 0, 99, 2, 0) { RebuildTips(); }

CMyTips::~CMyTips() { tips_.store(nullptr); }

bool CMyTips::ReloadData() {
    bool ok = CMyList::ReloadData();
    RebuildTips();
    return ok;
}

void CMyTips::RebuildTips() {
    auto entries = GetList();
    auto tips = std::make_shared<Tips>(entries.begin(), entries.end());
    tips_.store(std::move(tips));
}

std::wstring CMyTips::PickTip() const { return PickTip(std::time(nullptr)); }

std::wstring CMyTips::PickTip(std::time_t seconds) const {
    auto tips = tips_.load();
    if (!tips || tips->empty()) return {};
    // A generator of our own seeded with the second: the same draw for every
    // caller within that second, and no shared generator state between threads.
    std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(seconds));
    auto r = generator();
    return (*tips)[r % tips->size()];
}
