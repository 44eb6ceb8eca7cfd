// A pixel block with an owner, so that every way out of a call frees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "pixel_buffer.h"

namespace bmpc {

// Move-only owner of one AllocatePixelBuffer block; empty when the
// allocation failed.
class PixelBlock {
  public:
    PixelBlock() = default;
    explicit PixelBlock(size_t size) noexcept : data_(AllocatePixelBuffer(size)), size_(size) {}
    PixelBlock(PixelBlock&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    PixelBlock& operator=(PixelBlock&& other) noexcept {
        if (this != &other) {
            Reset();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    PixelBlock(const PixelBlock&) = delete;
    PixelBlock& operator=(const PixelBlock&) = delete;
    ~PixelBlock() { Reset(); }

    explicit operator bool() const noexcept { return data_ != nullptr; }
    uint8_t* data() const noexcept { return data_; }
    size_t size() const noexcept { return size_; }

    void Reset() noexcept {
        FreePixelBuffer(data_);
        data_ = nullptr;
        size_ = 0;
    }

  private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace bmpc
