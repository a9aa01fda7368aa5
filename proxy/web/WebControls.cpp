#include "web/IWebControl.h"

IWebControl::~IWebControl() = default;

void IWebControl::AddToList(const std::wstring& text) {
    if (text.empty() || !list || !domain) return;
    list->Readonly(0);
    // Re-read first so that an edit made elsewhere since the last command
    // (the settings program, the updater) is kept.
    list->ReloadData();
    domain->add(text.c_str());  // false for a duplicate: the list is stored all the same
    list->Save();
}

std::wstring IWebControl::Widen(const char* parameter) const {
    return parameter ? utility.atow(parameter, -1) : std::wstring();
}

CUserBlackDomainControl::CUserBlackDomainControl(CProxyConfig& config)
    : IWebControl(config, std::make_unique<CUserBlackDomain>()) {}

void CUserBlackDomainControl::Execute(const char* parameter) { AddToList(Widen(parameter)); }

CUserWhiteDomainControl::CUserWhiteDomainControl(CProxyConfig& config)
    : IWebControl(config, std::make_unique<CUserWhiteDomain>()) {}

void CUserWhiteDomainControl::Execute(const char* parameter) {
    if (config.Config().whiteListLock.load() != 0) return;
    AddToList(Widen(parameter));
}

CUserNoImgDomainControl::CUserNoImgDomainControl(CProxyConfig& config)
    : IWebControl(config, std::make_unique<CNoneImageDomain>()) {}

void CUserNoImgDomainControl::Execute(const char* parameter) {
    config.Config().imageMode = 2;
    config.Save();
    AddToList(Widen(parameter));
}

CManualFilterImageControl::CManualFilterImageControl(CProxyConfig& config)
    : IWebControl(config, std::make_unique<CManualFilterImage>()) {}

CManualFilterImageControl::~CManualFilterImageControl() = default;

void CManualFilterImageControl::Execute(const char* parameter) {
    if (!parameter) return;
    std::string decoded = coding.UrlGB2312Decode(parameter);
    AddToList(utility.atow(decoded.c_str(), -1));
}

CCloseControl::CCloseControl(CProxyConfig& config) : IWebControl(config) {}

void CCloseControl::Execute(const char*) {
    config.Config().showControl = 0;
    config.Save();
}
