#include "filter/TipsStore.h"

#include <atomic>
#include <mutex>
#include <new>

namespace {

std::mutex& CreationLock() {
    static std::mutex lock;
    return lock;
}

std::atomic<std::shared_ptr<const TipsStore>>& Slot() {
    static std::atomic<std::shared_ptr<const TipsStore>> slot;
    return slot;
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
    auto store = Slot().load();
    if (store) return store;
    std::lock_guard<std::mutex> guard(CreationLock());
    store = Slot().load();
    if (store) return store;
    try {
        store = std::make_shared<const TipsStore>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    Slot().store(store);
    return store;
}

void TipsStore::Forget() {
    std::lock_guard<std::mutex> guard(CreationLock());
    Slot().store(nullptr);
}
