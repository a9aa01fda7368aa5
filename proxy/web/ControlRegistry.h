#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "web/IWebControl.h"

// Command suffix (".black", ".white", ".noimg", ".filterimage", ".close") to
// the control that carries it out. One lock serialises every Execute, so the
// reload, add and save of a list never interleave with another command.
class ControlRegistry {
public:
    explicit ControlRegistry(CProxyConfig& config);
    ~ControlRegistry();
    ControlRegistry(const ControlRegistry&) = delete;
    ControlRegistry& operator=(const ControlRegistry&) = delete;

    // Runs the control registered under exactly this suffix; false when there
    // is none. parameter may be null (no parameter in the request).
    bool Dispatch(const std::string& suffix, const char* parameter);
    // True when a control is registered under exactly this suffix.
    bool Handles(const std::string& suffix) const;

private:
    std::mutex executeLock_;
    std::map<std::string, std::unique_ptr<IWebControl>> controls_;  // built once, then only read
};
