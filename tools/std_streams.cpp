#include "std_streams.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/platform.h"

namespace bmpcontrast_cli {

int CopyAll(int from, int to, bool& readFailed) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const long got = platform::ReadSome(from, buffer.data(), buffer.size());
        if (got == 0) return 0;
        if (got < 0) {
            readFailed = true;
            return errno;
        }
        if (!platform::WriteAll(to, {buffer.data(), static_cast<size_t>(got)})) {
            readFailed = false;
            return errno;
        }
    }
}

ImageStdout::ImageStdout() {
    // Nothing may be left in stdout's buffer to be flushed into the image.
    std::fflush(stdout);
    fd_ = platform::Duplicate(1);
    if (fd_ < 0) return;
    platform::SetBinary(fd_);
    if (!platform::Redirect(2, 1)) {
        platform::Close(fd_);
        fd_ = -1;
    }
}

ImageStdout::~ImageStdout() {
    if (fd_ >= 0) platform::Close(fd_);
}

int ImageStdout::Send(int from) {
    // The library's line, if still buffered, belongs on standard error now.
    std::fflush(stdout);
    bool readFailed = false;
    int error = platform::Rewind(from);
    if (error == 0) error = CopyAll(from, fd_, readFailed);
    // A pipe or file may report a failed write only on close.
    if (const int closeError = platform::Close(fd_); error == 0) error = closeError;
    fd_ = -1;
    return error;
}

}  // namespace bmpcontrast_cli
