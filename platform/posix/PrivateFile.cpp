#include "platform/PrivateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {

bool WritePrivateFile(const std::string& target, const std::string& temporary, std::string_view bytes) {
    // Mode 0600 at creation (O_EXCL: never a file someone prepared), then
    // fchmod in case the umask took bits away that we want.
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0600) == 0;
    for (size_t done = 0; ok && done < bytes.size();) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), target.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

PrivateFileRead ReadPrivateFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return errno == ENOENT ? PrivateFileRead::Missing : PrivateFileRead::Failed;
    // Checked on the open file, so the file cannot be swapped in between.
    struct stat st {};
    PrivateFileRead result = PrivateFileRead::Ok;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) result = PrivateFileRead::Failed;
    else if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) result = PrivateFileRead::Exposed;
    char buffer[4096];
    while (result == PrivateFileRead::Ok) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) result = PrivateFileRead::Failed;
        if (n <= 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (result != PrivateFileRead::Ok) bytes.clear();
    return result;
}

}  // namespace platform
