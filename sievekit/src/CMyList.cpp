#include "sievekit/CMyList.h"

#include <functional>

#include "sievekit/CUtility.h"
#include "TextFile.h"

CMyList::CMyList(const char* fileName, int, int, int, int)
    : fileName_(fileName ? fileName : ""), entries_(std::make_shared<const Entries>()) {
    CMyList::ReloadData();
}

CMyList::~CMyList() = default;

bool CMyList::ReloadData() {
    std::lock_guard<std::mutex> change(changeLock_);
    std::string bytes;
    bool ok = sievekit::ReadTextFile(fileName_, bytes);
    // The same bytes as the entries were read from: they stand as they are
    // (a list of 50,000 lines costs far more to split and sort than to read).
    const FileDigest digest{bytes.size(), std::hash<std::string>{}(bytes)};
    if (ok && readFrom_ == digest) return true;
    auto entries = std::make_shared<Entries>();
    if (ok) {
        for (const auto& line : sievekit::SplitLines(bytes))
            if (!line.empty()) entries->insert(sievekit::Utf8ToWide(line));
    }
    Publish(std::move(entries));
    readFrom_ = ok ? std::optional<FileDigest>(digest) : std::nullopt;
    return ok;
}

void CMyList::Publish(std::shared_ptr<const Entries> entries) {
    OnEntriesChanged(*entries);
    std::lock_guard<std::mutex> g(lock_);
    entries_ = std::move(entries);
}

std::shared_ptr<const CMyList::Entries> CMyList::Snapshot() const {
    std::lock_guard<std::mutex> g(lock_);
    return entries_;
}

bool CMyList::Exists(const char* text) {
    if (!text) return false;
    return Exists(CUtility().atow(text, -1).c_str());
}

bool CMyList::Exists(const wchar_t* text) {
    if (!text) return false;
    auto entries = Snapshot();
    return entries->count(text) != 0;
}

std::set<std::wstring> CMyList::GetList() const { return *Snapshot(); }

size_t CMyList::size() const { return Snapshot()->size(); }

void CMyList::Readonly(int readonly) {
    std::lock_guard<std::mutex> g(lock_);
    readonly_ = readonly != 0;
}

bool CMyList::IsReadonly() const {
    std::lock_guard<std::mutex> g(lock_);
    return readonly_;
}

bool CMyList::AddEntry(const std::wstring& entry) {
    std::lock_guard<std::mutex> change(changeLock_);
    std::shared_ptr<const Entries> current;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (readonly_) return false;
        current = entries_;
    }
    if (entry.empty() || current->count(entry)) return false;
    auto next = std::make_shared<Entries>(*current);
    next->insert(entry);
    Publish(std::move(next));
    readFrom_.reset();  // the entries are no longer the file's: the next reload reads it
    return true;
}

bool CMyList::Save() {
    std::lock_guard<std::mutex> change(changeLock_);
    if (IsReadonly()) return false;
    auto entries = Snapshot();
    std::string text;
    bool first = true;
    for (const auto& e : *entries) {
        std::string line = sievekit::WideToUtf8(e);
        // The reader drops a byte-order mark at the start of the file and one
        // CR at the end of each line. Where an entry itself starts or ends so,
        // one more is written, so the stored list reads back as it is.
        if (first && line.starts_with("\xEF\xBB\xBF")) text += "\xEF\xBB\xBF";
        first = false;
        text += line;
        if (!line.empty() && line.back() == '\r') text += '\r';
        text += '\n';
    }
    return sievekit::WriteFileAtomically(fileName_, text);
}
