#pragma once

#include <sievekit/CProxyConfig.h>
#include <sievekit/CUtility.h>
#include <sievekit/CWordFilter.h>

#include <memory>
#include <string>

#include "filter/TipsStore.h"
#include "filter/WordFilterPair.h"
#include "support/TempFolder.h"

namespace filtertest {

// A data folder of our own (entered for the test's life), keyword filters
// over it, the switches that matter in known states, and a fresh tips store.
class DataFolder {
public:
    DataFolder() : folder_(true) {
        Write("Data/block_words.txt", "# block list\nbadword\n赌博\nsecretpage\n");
        Write("Data/user_block_words.txt", "");
        Write("Data/exempt_words.txt", "education\n");
        Write("Data/jiese_tips.txt", "");
        Write("Data/xiu_shen_tips.txt", "");
        Write("Data/WebBottomTips.txt", "");
        Write("Data/Inject.zelk", "");
        Write("Data/Control.html", "");
        ProxyData& c = ProxyConfig().Config();
        c.wordFilter = 1;
        c.imageMode = 0;
        c.showControl = 0;
        c.jieseTips = 0;
        c.xiuShenTips = 0;
        TipsStore::Forget();
    }
    ~DataFolder() {
        TipsStore::Forget();
        ProxyData& c = ProxyConfig().Config();
        const ProxyData defaults;
        c.wordFilter = defaults.wordFilter.load();
        c.imageMode = defaults.imageMode.load();
        c.showControl = defaults.showControl.load();
        c.jieseTips = defaults.jieseTips.load();
        c.xiuShenTips = defaults.xiuShenTips.load();
    }

    void Write(const std::string& name, const std::string& content) { folder_.Write(name, content); }

    // Keyword filters loaded from the current files.
    WordFilterPair& Words() {
        block_ = std::make_unique<CWordFilter>(1);
        exempt_ = std::make_unique<CWordFilter>(0);
        block_->ReloadData(true);
        exempt_->ReloadData(true);
        words_ = {block_.get(), exempt_.get()};
        return words_;
    }

private:
    testsupport::TempFolder folder_;
    std::unique_ptr<CWordFilter> block_, exempt_;
    WordFilterPair words_;
};

// Code page 936 bytes of a wide text.
inline std::string Gbk(const std::wstring& text) { return CUtility().wtoa(text.c_str(), static_cast<int>(text.size())); }

}  // namespace filtertest
