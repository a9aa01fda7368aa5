#pragma once

#include <memory>
#include <string>

#include <sievekit/CMyList.h>
#include <sievekit/CProxyConfig.h>
#include <sievekit/CStrCoding.h>
#include <sievekit/CUtility.h>
#include <sievekit/IDomain.h>

// One control command of the local web server: edits a user list and/or a
// configuration switch. Execute calls are serialised by the ControlRegistry.
class IWebControl {
public:
    virtual ~IWebControl();
    IWebControl(const IWebControl&) = delete;
    IWebControl& operator=(const IWebControl&) = delete;

    // parameter: the command's text, or null when the request carried none.
    virtual void Execute(const char* parameter) = 0;

protected:
    // A control without a list.
    explicit IWebControl(CProxyConfig& config) : config(config) {}
    // A control that owns a user list (a CMyList that is also an IDomain).
    template <typename List>
    IWebControl(CProxyConfig& config, std::unique_ptr<List> owned) : config(config), domain(owned.get()) {
        list = std::move(owned);
    }

    // Adds W to the list's current stored content and stores the list again;
    // nothing for an empty text or a control without a list.
    void AddToList(const std::wstring& text);
    // The parameter widened as written; an absent parameter is empty text.
    std::wstring Widen(const char* parameter) const;

    CUtility utility;
    CProxyConfig& config;
    std::unique_ptr<CMyList> list;  // may be null
    IDomain* domain = nullptr;      // the same object as list, seen as IDomain
};

class CUserBlackDomainControl : public IWebControl {
public:
    explicit CUserBlackDomainControl(CProxyConfig& config);
    void Execute(const char* parameter) override;
};

// Does nothing while the white list is locked.
class CUserWhiteDomainControl : public IWebControl {
public:
    explicit CUserWhiteDomainControl(CProxyConfig& config);
    void Execute(const char* parameter) override;
};

// Switches images to "hidden on no-image sites" and adds the site.
class CUserNoImgDomainControl : public IWebControl {
public:
    explicit CUserNoImgDomainControl(CProxyConfig& config);
    void Execute(const char* parameter) override;
};

// Adds a URL fragment (percent-encoded GB2312 in the request) to the manual
// image filter.
class CManualFilterImageControl : public IWebControl {
public:
    explicit CManualFilterImageControl(CProxyConfig& config);
    ~CManualFilterImageControl() override;
    void Execute(const char* parameter) override;

private:
    CStrCoding coding;
};

// Turns the injected control panel off for good.
class CCloseControl : public IWebControl {
public:
    explicit CCloseControl(CProxyConfig& config);
    void Execute(const char* parameter) override;
};
