#include "filter/TipsStore.h"

#include <mutex>
#include <new>

namespace {

// The process-wide store and the lock that guards it. Creation runs under the
// lock, so first callers wait for it; afterwards the lock is held only to
// copy the pointer. (A mutex rather than std::atomic<std::shared_ptr>, whose
// libstdc++ 12 load releases its internal lock without release ordering.)
struct ProcessStore {
    std::mutex lock;
    std::shared_ptr<const TipsStore> store;
};

ProcessStore& Process() {
    static ProcessStore instance;
    return instance;
}

}  // namespace

TipsStore::TipsStore() {
    injectText = ReadOnce("Data/Inject.zelk");
    controlText = ReadOnce("Data/Control.html");
    injectTextUtf8 = utility.wstring_to_utf8(utility.atow(injectText.c_str(), -1));
    controlTextUtf8 = utility.wstring_to_utf8(utility.atow(controlText.c_str(), -1));
}

std::string TipsStore::ReadOnce(const char* fileName) const {
    CMyFile file(fileName, 0, 0);
    return utility.wtoa(file.getContent().c_str(), -1);
}

std::shared_ptr<const TipsStore> TipsStore::Ensure() {
    ProcessStore& p = Process();
    std::lock_guard<std::mutex> guard(p.lock);
    if (!p.store) {
        try {
            p.store = std::make_shared<const TipsStore>();
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    return p.store;
}

void TipsStore::Forget() {
    std::shared_ptr<const TipsStore> old;
    {
        std::lock_guard<std::mutex> guard(Process().lock);
        old.swap(Process().store);
    }
}
