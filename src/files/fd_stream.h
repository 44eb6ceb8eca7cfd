// POSIX file descriptors as a conversion's source and sink, for callers
// that open files themselves.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "byte_stream.h"

namespace bmpc {

class FdSource final : public ByteSource {
  public:
    explicit FdSource(int fd) noexcept : fd_(fd) {}

    size_t Read(uint8_t* into, size_t n) noexcept override {
        size_t done = 0;
        while (done < n) {
            const ssize_t got = ::read(fd_, into + done, n - done);
            if (got > 0) {
                done += static_cast<size_t>(got);
            } else if (got == 0 || errno != EINTR) {
                break;
            }
        }
        return done;
    }
    bool SeekTo(int64_t offset) noexcept override {
        return offset >= 0 && ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == offset;
    }
    // As the exported call sizes its input: regular files only.
    int64_t Size() noexcept override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
        return st.st_size;
    }

  private:
    int fd_;
};

// Remembers why a write failed, for the caller's own message.
class FdSink final : public ByteSink {
  public:
    explicit FdSink(int fd) noexcept : fd_(fd) {}

    bool Write(const uint8_t* data, size_t n) noexcept override {
        while (n != 0) {
            const ssize_t put = ::write(fd_, data, n);
            if (put > 0) {
                data += put;
                n -= static_cast<size_t>(put);
            } else if (put == 0 || errno != EINTR) {
                error_ = put == 0 ? EIO : errno;
                return false;
            }
        }
        return true;
    }
    int error() const noexcept { return error_; }

  private:
    int fd_;
    int error_ = 0;
};

}  // namespace bmpc
