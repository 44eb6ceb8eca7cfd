// A C stream as a conversion's source.
#pragma once

#include <climits>
#include <cstdio>

#include "byte_stream.h"
#include "file_access.h"

namespace bmpc {

class StdioSource final : public ByteSource {
  public:
    explicit StdioSource(std::FILE* file) noexcept : file_(file) {}

    size_t Read(uint8_t* into, size_t n) noexcept override { return std::fread(into, 1, n, file_); }
    // Offsets come from a signed 32-bit field, within a long everywhere.
    bool SeekTo(int64_t offset) noexcept override {
        if (offset < 0 || offset > LONG_MAX) return false;
        return std::fseek(file_, static_cast<long>(offset), SEEK_SET) == 0;
    }
    int64_t Size() noexcept override { return InputSize(file_); }

  private:
    std::FILE* file_;
};

}  // namespace bmpc
