// Pixel blocks on either side of the huge-page bounds: every byte usable,
// mapped blocks on a 2 MiB boundary, released without complaint.
#include "pixel_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr size_t kMiB = size_t{1} << 20;

TEST(PixelBuffer, EveryByteUsableAcrossTheBounds) {
    for (const size_t size : {size_t{1}, 2 * kMiB - 1, 2 * kMiB, 2 * kMiB + 1, 5 * kMiB + 3,
                              16 * kMiB, 16 * kMiB + 1}) {
        uint8_t* block = bmpc::AllocatePixelBuffer(size);
        ASSERT_NE(block, nullptr) << size;
        if (size >= 2 * kMiB && size <= 16 * kMiB) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % (2 * kMiB), 0u) << size;
        }
        std::memset(block, 0x5A, size);
        EXPECT_EQ(block[0], 0x5A);
        EXPECT_EQ(block[size - 1], 0x5A);
        bmpc::FreePixelBuffer(block, size);
    }
    bmpc::FreePixelBuffer(nullptr, 0);
}

}  // namespace
