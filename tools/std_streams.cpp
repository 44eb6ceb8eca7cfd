#include "std_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace bmpcontrast_cli {

int CopyAll(int from, int to, bool& readFailed) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = read(from, buffer.data(), buffer.size());
        if (got == 0) return 0;
        if (got < 0) {
            if (errno == EINTR) continue;
            readFailed = true;
            return errno;
        }
        size_t done = 0;
        while (done < static_cast<size_t>(got)) {
            const ssize_t n = write(to, buffer.data() + done, static_cast<size_t>(got) - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                readFailed = false;
                return errno;
            }
            done += static_cast<size_t>(n);
        }
    }
}

ImageStdout::ImageStdout() {
    // Nothing may be left in stdout's buffer to be flushed into the image.
    std::fflush(stdout);
    fd_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (fd_ < 0) return;
    if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        close(fd_);
        fd_ = -1;
    }
}

ImageStdout::~ImageStdout() {
    if (fd_ >= 0) close(fd_);
}

int ImageStdout::Send(int from) {
    // The library's line, if still buffered, belongs on standard error now.
    std::fflush(stdout);
    bool readFailed = false;
    int error = lseek(from, 0, SEEK_SET) < 0 ? errno : CopyAll(from, fd_, readFailed);
    // A pipe or file may report a failed write only on close.
    if (close(fd_) != 0 && error == 0) error = errno;
    fd_ = -1;
    return error;
}

}  // namespace bmpcontrast_cli
