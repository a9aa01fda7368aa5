#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// The configuration record handed out by CProxyConfig::Config(). Fields are
// atomics of the stated width so a reload may rewrite them while connection
// threads read them; each read sees either the old or the new value.
using ConfigInt = std::atomic<int32_t>;
using ConfigPort = std::atomic<uint16_t>;
static_assert(sizeof(ConfigInt) == 4 && alignof(ConfigInt) == 4);
static_assert(sizeof(ConfigPort) == 2 && alignof(ConfigPort) == 2);

struct ProxyData {
    ConfigInt showControl{1};         // 0
    ConfigInt wordFilter{1};          // 4
    ConfigInt imageMode{2};           // 8
    ConfigInt whiteListOnly{0};       // 12
    ConfigInt wordListMode{1};        // 16
    ConfigInt adBlock{1};             // 20
    ConfigInt safeSearch{1};          // 24: search engines reached through their SafeSearch addresses
    ConfigInt blockUnlistedHttp{0};   // 28
    ConfigInt blockUnlistedHttps{0};  // 32
    ConfigInt intelligentMode{0};     // 36
    ConfigInt jieseTips{0};           // 40
    ConfigInt xiuShenTips{0};         // 44
    ConfigInt reserved48[6]{};        // 48..71
    ConfigPort proxyPort{8866};       // 72
    ConfigPort reserved74{0};
    ConfigPort webPort{8867};  // 76
    ConfigPort reserved78{0};
    ConfigInt reserved80{0};
    ConfigInt intelligentTipPage{1};  // 84
    ConfigInt reserved88[7]{};        // 88..115
    ConfigInt whiteListLock{0};       // 116
    ConfigInt reserved120{0};
    ConfigInt blockVideo{0};  // 124
    ConfigInt reserved128{0};
    ConfigInt addressFilterPage{1};  // 132
    ConfigInt httpsFilter{0};        // 136: intercept and filter HTTPS (set by Proxy -https-on / -https-off)
};

static_assert(offsetof(ProxyData, showControl) == 0);
static_assert(offsetof(ProxyData, wordFilter) == 4);
static_assert(offsetof(ProxyData, imageMode) == 8);
static_assert(offsetof(ProxyData, whiteListOnly) == 12);
static_assert(offsetof(ProxyData, wordListMode) == 16);
static_assert(offsetof(ProxyData, adBlock) == 20);
static_assert(offsetof(ProxyData, safeSearch) == 24);
static_assert(offsetof(ProxyData, blockUnlistedHttp) == 28);
static_assert(offsetof(ProxyData, blockUnlistedHttps) == 32);
static_assert(offsetof(ProxyData, intelligentMode) == 36);
static_assert(offsetof(ProxyData, jieseTips) == 40);
static_assert(offsetof(ProxyData, xiuShenTips) == 44);
static_assert(offsetof(ProxyData, proxyPort) == 72);
static_assert(offsetof(ProxyData, webPort) == 76);
static_assert(offsetof(ProxyData, intelligentTipPage) == 84);
static_assert(offsetof(ProxyData, whiteListLock) == 116);
static_assert(offsetof(ProxyData, blockVideo) == 124);
static_assert(offsetof(ProxyData, addressFilterPage) == 132);
static_assert(offsetof(ProxyData, httpsFilter) == 136);
