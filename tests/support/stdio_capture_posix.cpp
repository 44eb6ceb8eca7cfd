// glibc declares stdout and stderr as assignable variables, so they are
// pointed at memory streams, or at /dev/null, without touching descriptors.
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "stdio_capture.h"

namespace bmptest {
namespace {

class MemoryStream {
  public:
    MemoryStream() : file_(open_memstream(&data_, &size_)) {
        if (file_ == nullptr) throw std::runtime_error("open_memstream failed");
    }
    ~MemoryStream() {
        if (file_ != nullptr) std::fclose(file_);
        std::free(data_);
    }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;

    std::FILE* file() const { return file_; }
    std::string Take() {
        std::fclose(file_);
        file_ = nullptr;
        return std::string(data_, size_);
    }

  private:
    char* data_ = nullptr;
    size_t size_ = 0;
    std::FILE* file_;
};

}  // namespace

StdioText CaptureStdio(const std::function<void()>& body) {
    MemoryStream out;
    MemoryStream err;
    std::fflush(stdout);
    std::fflush(stderr);
    std::FILE* const savedOut = stdout;
    std::FILE* const savedErr = stderr;
    stdout = out.file();
    stderr = err.file();
    try {
        body();
    } catch (...) {
        stdout = savedOut;
        stderr = savedErr;
        throw;
    }
    stdout = savedOut;
    stderr = savedErr;
    return {out.Take(), err.Take()};
}

struct SilencedStdio::Saved {
    std::FILE* out;
    std::FILE* err;
    std::FILE* nullOut;
    std::FILE* nullErr;
};

SilencedStdio::SilencedStdio()
    : saved_(
          new Saved{stdout, stderr, std::fopen("/dev/null", "w"), std::fopen("/dev/null", "w")}) {
    if (saved_->nullOut == nullptr || saved_->nullErr == nullptr) {
        throw std::runtime_error("cannot open /dev/null");
    }
    std::fflush(stdout);
    std::fflush(stderr);
    stdout = saved_->nullOut;
    stderr = saved_->nullErr;
}

SilencedStdio::~SilencedStdio() {
    stdout = saved_->out;
    stderr = saved_->err;
    std::fclose(saved_->nullOut);
    std::fclose(saved_->nullErr);
}

}  // namespace bmptest
