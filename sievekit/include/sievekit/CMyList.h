#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

// A list file of text lines (UTF-8, optional byte-order mark, CR LF or LF).
// Every non-empty line is an entry, kept as written. The constructor's ints
// are accepted for the callers' sake and select nothing: every list is read
// the same way. Safe to use from many threads; ReloadData builds the new list
// aside and swaps it in.
class CMyList {
public:
    CMyList(const char* fileName, int reserved1 = 0, int reserved2 = 99, int reserved3 = 2, int reserved4 = 0);
    virtual ~CMyList();
    CMyList(const CMyList&) = delete;
    CMyList& operator=(const CMyList&) = delete;

    // Re-reads the file. Returns false when it cannot be read (the list is
    // then empty, as a missing file gives no entries). When the file holds
    // the very bytes the entries were last read from (and no edit came
    // since), the entries, and the snapshot that holds them, stay as they are.
    virtual bool ReloadData();
    // True when the text is an entry (exact, case-sensitive).
    virtual bool Exists(const char* text);
    virtual bool Exists(const wchar_t* text);

    // A snapshot of the entries in ascending order; later reloads do not change it.
    std::set<std::wstring> GetList() const;
    // The same snapshot, shared instead of copied.
    std::shared_ptr<const std::set<std::wstring>> Snapshot() const;
    size_t size() const;
    // 1 locks the list against edits, 0 allows them.
    void Readonly(int readonly);
    bool IsReadonly() const;
    // Stores the entries, one a line, atomically (temporary file + rename).
    // False when the list is read-only or the file cannot be written.
    bool Save();

    const std::string& FileName() const { return fileName_; }

protected:
    using Entries = std::set<std::wstring>;
    // Adds an entry (not yet stored); false when read-only or already there.
    bool AddEntry(const std::wstring& entry);
    // Called with the new entries after every load or edit, before they are
    // published; lets derived lists rebuild indexes.
    virtual void OnEntriesChanged(const Entries&) {}

private:
    void Publish(std::shared_ptr<const Entries> entries);

    std::string fileName_;
    // Held by every change (reload, edit, save) from its first read to its
    // publication, so changes apply one after another: a reload that starts
    // after a save sees that save, and no edit is built on a list that another
    // change is replacing. Taken before lock_, never inside it.
    std::mutex changeLock_;
    mutable std::mutex lock_;  // guards entries_ (the pointer) and readonly_
    std::shared_ptr<const Entries> entries_;
    bool readonly_ = true;
    // Size and hash of the bytes the entries were read from; none after an
    // edit or a failed read. Guarded by changeLock_.
    using FileDigest = std::pair<size_t, size_t>;
    std::optional<FileDigest> readFrom_;
};
