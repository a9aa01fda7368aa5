#include "web/ControlRegistry.h"

ControlRegistry::ControlRegistry(CProxyConfig& config) {
    controls_[".black"] = std::make_unique<CUserBlackDomainControl>(config);
    controls_[".white"] = std::make_unique<CUserWhiteDomainControl>(config);
    controls_[".noimg"] = std::make_unique<CUserNoImgDomainControl>(config);
    controls_[".filterimage"] = std::make_unique<CManualFilterImageControl>(config);
    controls_[".close"] = std::make_unique<CCloseControl>(config);
}

ControlRegistry::~ControlRegistry() {
    for (auto& entry : controls_) entry.second.reset();
}

bool ControlRegistry::Handles(const std::string& suffix) const {
    auto it = controls_.find(suffix);
    return it != controls_.end() && it->second;
}

bool ControlRegistry::Dispatch(const std::string& suffix, const char* parameter) {
    auto it = controls_.find(suffix);
    if (it == controls_.end() || !it->second) return false;
    std::lock_guard<std::mutex> g(executeLock_);
    it->second->Execute(parameter);
    return true;
}
