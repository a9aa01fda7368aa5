#pragma once

#include <string>

namespace platform {

// A mutex that other processes find by name, used to keep a program to one
// instance. On POSIX: an exclusive flock on "<runtime folder>/<name>.lock"
// (runtime folder: $XDG_RUNTIME_DIR, else /tmp), held until the object goes or
// the process ends. The lock is not inherited by programs this process starts.
class NamedMutex {
public:
    explicit NamedMutex(const std::string& name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Another owner (this or another process) already holds the name.
    bool AlreadyExisted() const { return alreadyExisted_; }
    // This object holds the name.
    bool Held() const { return fd_ >= 0; }
    // The OS error when the mutex could neither be taken nor found held.
    int Error() const { return error_; }

private:
    int fd_ = -1;
    bool alreadyExisted_ = false;
    int error_ = 0;
};

}  // namespace platform
