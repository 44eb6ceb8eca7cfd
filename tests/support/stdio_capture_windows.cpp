// The C runtime's stdout and stderr cannot be reassigned here, so the
// descriptors under them are: 1 and 2 are pointed at files for the duration.
// The library and the tests share one C runtime, so its printing follows.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "stdio_capture.h"

namespace bmptest {
namespace {

// A file of this process's own, deleted when the process ends; binary, so
// that what was printed is read back byte for byte.
int OpenTemporaryFile() {
    static int counter = 0;
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path path =
            dir / ("bmpc-stdio-" + std::to_string(_getpid()) + "-" + std::to_string(counter++));
        const int fd = _wopen(path.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_TEMPORARY,
                              _S_IREAD | _S_IWRITE);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    throw std::runtime_error("cannot create a file for the standard streams");
}

// Points descriptor `fd` (under `stream`) at `target` until Restore().
class Redirection {
  public:
    Redirection(std::FILE* stream, int fd, int target) : stream_(stream), fd_(fd) {
        std::fflush(stream_);
        saved_ = _dup(fd_);
        if (saved_ < 0 || _dup2(target, fd_) != 0) throw std::runtime_error("_dup2 failed");
    }
    ~Redirection() { Restore(); }
    Redirection(const Redirection&) = delete;
    Redirection& operator=(const Redirection&) = delete;

    void Restore() {
        if (saved_ < 0) return;
        std::fflush(stream_);
        _dup2(saved_, fd_);
        _close(saved_);
        saved_ = -1;
    }

  private:
    std::FILE* stream_;
    int fd_;
    int saved_ = -1;
};

// One capture file per stream, emptied before each use: two files created
// and deleted per call would cost more than most calls themselves.
class CaptureFile {
  public:
    CaptureFile() : fd_(OpenTemporaryFile()) {}
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    int Empty() const {
        if (_chsize(fd_, 0) != 0 || _lseek(fd_, 0, SEEK_SET) != 0) {
            throw std::runtime_error("cannot empty a capture file");
        }
        return fd_;
    }
    std::string Text() const {
        std::string text;
        if (_lseek(fd_, 0, SEEK_SET) != 0) throw std::runtime_error("cannot rewind a capture file");
        char chunk[4096];
        int got = 0;
        while ((got = _read(fd_, chunk, sizeof chunk)) > 0) {
            text.append(chunk, static_cast<size_t>(got));
        }
        return text;
    }

  private:
    int fd_;
};

}  // namespace

StdioText CaptureStdio(const std::function<void()>& body) {
    static const CaptureFile outFile;
    static const CaptureFile errFile;
    {
        Redirection out(stdout, 1, outFile.Empty());
        Redirection err(stderr, 2, errFile.Empty());
        body();
    }
    return {outFile.Text(), errFile.Text()};
}

struct SilencedStdio::Saved {
    int nullDevice = _open("NUL", _O_WRONLY | _O_BINARY);
    Redirection out{stdout, 1, nullDevice};
    Redirection err{stderr, 2, nullDevice};
};

SilencedStdio::SilencedStdio() : saved_(new Saved) {}

SilencedStdio::~SilencedStdio() {
    const int nullDevice = saved_->nullDevice;
    saved_.reset();
    _close(nullDevice);
}

}  // namespace bmptest
