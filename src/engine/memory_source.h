// Bytes in memory as a conversion's source: a file already read, or a
// bitmap that never was one.
#pragma once

#include <algorithm>
#include <cstring>

#include "byte_stream.h"

namespace bmpc {

class MemorySource final : public ByteSource {
  public:
    MemorySource(const uint8_t* data, size_t size) noexcept : data_(data), size_(size) {}

    size_t Read(uint8_t* into, size_t n) noexcept override {
        const size_t take = std::min(n, size_ - at_);
        if (take != 0) std::memcpy(into, data_ + at_, take);
        at_ += take;
        return take;
    }
    // Past the end is allowed, as for a file: reads there give nothing.
    bool SeekTo(int64_t offset) noexcept override {
        if (offset < 0) return false;
        at_ = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(offset), size_));
        return true;
    }
    int64_t Size() noexcept override { return static_cast<int64_t>(size_); }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace bmpc
