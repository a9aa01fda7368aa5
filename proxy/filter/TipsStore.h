#pragma once

#include <memory>
#include <string>

#include <sievekit/CMyFile.h>
#include <sievekit/CUtility.h>

#include "filter/CMyTips.h"

// The texts added to every filtered page, read from the folder Data: the two
// tips lists, the bottom-tips page (read anew for every tip), the inject
// script and the control-panel fragment (both read once). One instance serves
// the whole process; it is created by the first page and read only after.
class TipsStore {
public:
    TipsStore();  // reads the files relative to the working directory
    TipsStore(const TipsStore&) = delete;
    TipsStore& operator=(const TipsStore&) = delete;

    // The process-wide store, created on first call; concurrent first callers
    // wait until it is complete. Null only when creation failed (for want of
    // memory); the next call then tries again.
    static std::shared_ptr<const TipsStore> Ensure();
    // Drops the process-wide store, so the next Ensure reads the files again.
    // Pages being built keep the store they hold. For tests.
    static void Forget();

    const char* const placeholder = "ShareContent";
    CMyTips jiese{"Data/jiese_tips.txt"};
    CMyTips xiuShen{"Data/xiu_shen_tips.txt"};
    CMyFile bottomPage{"Data/WebBottomTips.txt", 0, 0};
    CUtility utility;
    std::string injectText;   // code page 936
    std::string controlText;  // code page 936
    // The same two texts as a UTF-8 page receives them (widened from code
    // page 936 and encoded as UTF-8), made once instead of for every page.
    std::string injectTextUtf8;
    std::string controlTextUtf8;

private:
    std::string ReadOnce(const char* fileName) const;
};
