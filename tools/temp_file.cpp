#include "temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace bmpcontrast_cli {

TempFile::TempFile(const std::string& prefix, mode_t mode) {
    std::vector<char> name(prefix.begin(), prefix.end());
    for (char c : std::string_view("XXXXXX")) name.push_back(c);
    name.push_back('\0');
    fd_ = mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) return;
    path_ = name.data();
    // mkstemp creates the file 0600; the result should look like any other
    // file the user creates (or like the file it replaces).
    if (fchmod(fd_, mode) != 0) {
        const int error = errno;
        close(fd_);
        unlink(path_.c_str());
        fd_ = -1;
        errno = error;
    }
}

TempFile::~TempFile() {
    if (fd_ < 0) return;
    close(fd_);
    if (!kept_) unlink(path_.c_str());
}

int TempFile::MoveTo(const std::string& destination, bool replace) {
    int rc = 0;
    if (replace) {
        rc = std::rename(path_.c_str(), destination.c_str());
    } else {
        rc = renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // File systems without RENAME_NOREPLACE: a hard link fails on an
            // existing name just the same.
            rc = link(path_.c_str(), destination.c_str());
            if (rc == 0) unlink(path_.c_str());
        }
    }
    if (rc != 0) return errno;
    kept_ = true;
    return 0;
}

std::string TempDirectory() {
    const char* dir = std::getenv("TMPDIR");
    return (dir != nullptr && *dir != '\0') ? dir : "/tmp";
}

mode_t CreationMask() {
    static const mode_t mask = [] {
        const mode_t m = umask(022);
        umask(m);
        return m;
    }();
    return mask;
}

}  // namespace bmpcontrast_cli
