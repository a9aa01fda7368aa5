#include "filter/PageInjection.h"

#include <platform/Tick.h>
#include <sievekit/CProxyConfig.h>

#include <random>

#include "filter/TipsStore.h"

namespace {
constexpr std::string_view kCloseTags[] = {"</head>", "</body>", "</html>"};
}  // namespace

bool HasCloseTag(std::string_view page) {
    for (auto tag : kCloseTags)
        if (page.find(tag) != std::string_view::npos) return true;
    return false;
}

void InsertBeforeClose(std::string& page, std::string_view text) {
    for (auto tag : kCloseTags) {
        size_t at = page.find(tag);
        if (at != std::string::npos) {
            page.insert(at, text);
            return;
        }
    }
}

void ReplacePlaceholder(std::string& text, std::string_view placeholder, std::string_view replacement) {
    if (text.empty() || placeholder.empty() || placeholder == replacement) return;
    size_t at = 0;
    while ((at = text.find(placeholder, at)) != std::string::npos) {
        text.replace(at, placeholder.size(), replacement);
        at += replacement.size();
    }
}

std::string BuildTipsText(const TipsStore& store) {
    ProxyData& config = ProxyConfig().Config();
    const int jieseOn = config.jieseTips.load();
    const int xiuShenOn = config.xiuShenTips.load();
    if (jieseOn == 0 && xiuShenOn == 0) return {};
    const CUtility& u = store.utility;
    std::string jieseTip, xiuShenTip, tip;
    if (jieseOn) tip = jieseTip = u.wtoa(store.jiese.PickTip().c_str(), -1);
    if (xiuShenOn) tip = xiuShenTip = u.wtoa(store.xiuShen.PickTip().c_str(), -1);
    if (jieseOn & xiuShenOn) {
        // Both lists wanted: one of the two tips, chosen by the millisecond clock.
        std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(platform::TickCount()));
        tip = generator() % 2 == 1 ? jieseTip : xiuShenTip;
    }
    std::string page = u.wtoa(store.bottomPage.getContent().c_str(), -1);
    ReplacePlaceholder(page, store.placeholder, tip);
    return page;
}

std::string BuildTipsText() {
    auto store = TipsStore::Ensure();
    return store ? BuildTipsText(*store) : std::string();
}

void InjectPage(std::string& page, bool utf8, const TipsStore& store) {
    if (!HasCloseTag(page)) return;
    std::string tips = BuildTipsText(store);
    if (utf8) tips = store.utility.wstring_to_utf8(store.utility.atow(tips.c_str(), -1));
    InsertBeforeClose(page, tips);
    if (ProxyConfig().Config().showControl.load() != 0)
        InsertBeforeClose(page, utf8 ? store.controlTextUtf8 : store.controlText);
    InsertBeforeClose(page, utf8 ? store.injectTextUtf8 : store.injectText);
}

void InjectPage(std::string& page, bool utf8) {
    auto store = TipsStore::Ensure();
    if (store) InjectPage(page, utf8, *store);
}

void InsertNoImageScript(std::string& page) {
    if (HasCloseTag(page)) InsertBeforeClose(page, kNoImageScript);
}
