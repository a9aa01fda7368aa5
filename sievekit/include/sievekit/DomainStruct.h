#pragma once

#include <cstddef>

// The description of one request handed to CDomainManager::Exists, which
// answers and leaves its verdict flags in it. Zero-filled when a connection
// is accepted; texts are zero-terminated narrow strings.
struct DomainStruct {
    bool noImageMark;        // 0
    bool unused1;            // 1
    bool white;              // 2
    bool emptyImage;         // 3
    bool tipPage;            // 4
    bool blockPage;          // 5
    char host[256];          // 6
    char mainDomain[256];    // 262
    char refererDomain[256]; // 518
    char url[1024];          // 774
};

static_assert(sizeof(bool) == 1);
static_assert(offsetof(DomainStruct, noImageMark) == 0);
static_assert(offsetof(DomainStruct, white) == 2);
static_assert(offsetof(DomainStruct, emptyImage) == 3);
static_assert(offsetof(DomainStruct, tipPage) == 4);
static_assert(offsetof(DomainStruct, blockPage) == 5);
static_assert(offsetof(DomainStruct, host) == 6);
static_assert(offsetof(DomainStruct, mainDomain) == 262);
static_assert(offsetof(DomainStruct, refererDomain) == 518);
static_assert(offsetof(DomainStruct, url) == 774);
static_assert(sizeof(DomainStruct) == 1798);
