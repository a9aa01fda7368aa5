#include <stdlib.h>

#include <optional>
#include <string>

#include "support/RuntimeFolder.h"
#include "support/TempFolder.h"

namespace testsupport {

struct PrivateRuntimeFolder::State {
    TempFolder folder;
    std::optional<std::string> previous;
};

PrivateRuntimeFolder::PrivateRuntimeFolder() : state_(std::make_unique<State>()) {
    if (const char* previous = ::getenv("XDG_RUNTIME_DIR")) state_->previous = previous;
    ::setenv("XDG_RUNTIME_DIR", state_->folder.path().c_str(), 1);
}

PrivateRuntimeFolder::~PrivateRuntimeFolder() {
    if (state_->previous)
        ::setenv("XDG_RUNTIME_DIR", state_->previous->c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace testsupport
