// A stdio stream with an owner, closed on every way out of a call.
#pragma once

#include <cstdio>
#include <utility>

namespace bmpc {

// Move-only owner of a FILE*. Close() reports the result of the close, which
// for an output is where a failed flush shows; the destructor closes what
// is still open and ignores the result (only inputs are left to it).
class FileStream {
  public:
    FileStream() = default;
    explicit FileStream(std::FILE* file) noexcept : file_(file) {}
    FileStream(FileStream&& other) noexcept : file_(std::exchange(other.file_, nullptr)) {}
    FileStream& operator=(FileStream&& other) noexcept {
        if (this != &other) {
            Close();
            file_ = std::exchange(other.file_, nullptr);
        }
        return *this;
    }
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;
    ~FileStream() { Close(); }

    explicit operator bool() const noexcept { return file_ != nullptr; }
    std::FILE* get() const noexcept { return file_; }

    // True if the stream was open and closed cleanly.
    bool Close() noexcept {
        return file_ != nullptr && std::fclose(std::exchange(file_, nullptr)) == 0;
    }

  private:
    std::FILE* file_ = nullptr;
};

}  // namespace bmpc
