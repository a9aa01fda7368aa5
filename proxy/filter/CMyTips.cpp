#include "filter/CMyTips.h"

#include <random>

CMyTips::CMyTips(const char* fileName) : CMyList(fileName, 0, 99, 2, 0) { RebuildTips(); }

CMyTips::~CMyTips() = default;

bool CMyTips::ReloadData() {
    bool ok = CMyList::ReloadData();
    RebuildTips();
    return ok;
}

void CMyTips::RebuildTips() {
    auto entries = GetList();
    std::shared_ptr<const Tips> tips = std::make_shared<Tips>(entries.begin(), entries.end());
    std::lock_guard<std::mutex> guard(tipsLock_);
    tips_.swap(tips);
}

std::shared_ptr<const CMyTips::Tips> CMyTips::tips() const {
    std::lock_guard<std::mutex> guard(tipsLock_);
    return tips_;
}

std::wstring CMyTips::PickTip() const { return PickTip(std::time(nullptr)); }

std::wstring CMyTips::PickTip(std::time_t seconds) const {
    auto tips = this->tips();
    if (!tips || tips->empty()) return {};
    // A generator of our own seeded with the second: the same draw for every
    // caller within that second, and no shared generator state between threads.
    std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(seconds));
    auto r = generator();
    return (*tips)[r % tips->size()];
}
