#pragma once

#include <memory>
#include <string>

namespace platform {

// A mutex that other processes find by name, used to keep a program to one
// instance: whoever creates the name first holds it until the object goes or
// the process ends. Programs this process starts do not inherit it.
// On Windows a named mutex object; on POSIX an exclusive flock on
// "<runtime folder>/<name>.lock" (runtime folder: $XDG_RUNTIME_DIR, else
// /tmp).
class NamedMutex {
public:
    explicit NamedMutex(const std::string& name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Another owner (this or another process) already holds the name.
    bool AlreadyExisted() const { return alreadyExisted_; }
    // This object holds the name.
    bool Held() const { return handle_ != nullptr; }
    // The system's error when the name could neither be taken nor found held.
    int Error() const { return error_; }

    // The system's object, defined by each implementation.
    struct Handle;

private:
    std::unique_ptr<Handle> handle_;
    bool alreadyExisted_ = false;
    int error_ = 0;
};

}  // namespace platform
