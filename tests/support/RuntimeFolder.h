#pragma once

#include <memory>

namespace testsupport {

// Named mutexes of a test's own leave nothing behind: on POSIX their lock
// files go to a temporary runtime folder ($XDG_RUNTIME_DIR) for the object's
// life, which programs started meanwhile inherit; Windows keeps no files for
// them. Names must still be unique per test process, since on Windows every
// process of the session sees them.
class PrivateRuntimeFolder {
public:
    PrivateRuntimeFolder();
    ~PrivateRuntimeFolder();
    PrivateRuntimeFolder(const PrivateRuntimeFolder&) = delete;
    PrivateRuntimeFolder& operator=(const PrivateRuntimeFolder&) = delete;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace testsupport
