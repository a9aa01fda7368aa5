// Named mutex stand-in: an exclusive advisory lock on a file in the runtime
// folder. The kernel drops the lock when the process ends, however it ends,
// so a crashed owner never leaves the name taken.
#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {

struct NamedMutex::Handle {
    int fd = -1;
    // Closing the only descriptor releases the lock. The file stays: removing
    // it would race with another process that has just opened it.
    ~Handle() { ::close(fd); }
};

namespace {

std::string RuntimeFolder() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    return dir && *dir ? std::string(dir) : std::string("/tmp");
}

// Windows names may carry a namespace ("Global\\x"); keep the file in the folder.
std::string LockFileName(const std::string& name) {
    std::string file = name;
    for (char& c : file)
        if (c == '/' || c == '\\') c = '_';
    return file + ".lock";
}

}  // namespace

NamedMutex::NamedMutex(const std::string& name) {
    const std::string path = RuntimeFolder() + "/" + LockFileName(name);
    // Close-on-exec: a started program must not keep the name taken after
    // this process has ended.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error_ = errno;
        return;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        handle_ = std::make_unique<Handle>();
        handle_->fd = fd;
        return;
    }
    if (errno == EWOULDBLOCK)
        alreadyExisted_ = true;
    else
        error_ = errno;
    ::close(fd);
}

NamedMutex::~NamedMutex() = default;

}  // namespace platform
