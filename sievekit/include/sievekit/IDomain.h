#pragma once

#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "sievekit/CMyList.h"
#include "sievekit/DomainStruct.h"

// A user list that a control command can edit.
class IDomain {
public:
    virtual ~IDomain() = default;
    virtual bool IsExists(const DomainStruct& domain) = 0;
    virtual bool add(const wchar_t* text) = 0;
};

// A domain list: an entry matches a host equal to it or ending in "." + entry,
// ignoring ASCII case. Lines starting with "#" are comments.
class CDomainList : public CMyList, public IDomain {
public:
    explicit CDomainList(const char* fileName);
    ~CDomainList() override;
    // Host match by suffix lookups, never a scan.
    bool MatchesHost(const char* host) const;
    bool IsExists(const DomainStruct& domain) override;  // matches domain.host
    bool add(const wchar_t* text) override;

protected:
    void OnEntriesChanged(const Entries& entries) override;

private:
    using Index = std::unordered_set<std::string>;
    mutable std::mutex indexLock_;
    std::shared_ptr<const Index> index_;
};

class CUserBlackDomain : public CDomainList {
public:
    CUserBlackDomain();
};

class CUserWhiteDomain : public CDomainList {
public:
    CUserWhiteDomain();
};

class CNoneImageDomain : public CDomainList {
public:
    CNoneImageDomain();
    // The host or the referrer's main domain is on the list.
    bool IsExists(const DomainStruct& domain) override;
};

// URL fragments whose requests get the empty image.
class CManualFilterImage : public CMyList, public IDomain {
public:
    CManualFilterImage();
    ~CManualFilterImage() override;
    bool IsExists(const DomainStruct& domain) override;  // domain.url contains an entry
    bool add(const wchar_t* text) override;

protected:
    void OnEntriesChanged(const Entries& entries) override;

private:
    mutable std::mutex fragmentsLock_;
    std::shared_ptr<const std::vector<std::string>> fragments_;
};
