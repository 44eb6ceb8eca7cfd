#include "stdio_capture.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

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

}  // namespace bmptest
