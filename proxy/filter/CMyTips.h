#pragma once

#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sievekit/CMyList.h>

// A tips list file: every line is one tip. The tips are copied out of the
// list in its (sorted) order and rebuilt on every reload; readers work on a
// snapshot, so a reload never disturbs a page being built.
class CMyTips : public CMyList {
public:
    explicit CMyTips(const char* fileName);
    ~CMyTips() override;

    bool ReloadData() override;

    // One tip picked at random; empty when the list is empty. Every pick made
    // within the same second of calendar time gives the same index, in this
    // list and in any other list of the same size.
    std::wstring PickTip() const;
    // The pick for a given calendar second.
    std::wstring PickTip(std::time_t seconds) const;

    using Tips = std::vector<std::wstring>;
    std::shared_ptr<const Tips> tips() const;

private:
    void RebuildTips();

    mutable std::mutex tipsLock_;  // guards tips_ (the pointer, not the tips)
    std::shared_ptr<const Tips> tips_;
};
