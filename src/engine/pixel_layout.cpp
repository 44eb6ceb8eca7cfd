#include "pixel_layout.h"

#include <limits>

#include "size_limits.h"

namespace bmpc {

namespace {

// Widened so that a huge width cannot overflow. Rows of 1- and 4-bit
// pixels end in the byte that holds their last pixel.
int64_t RowBytes(int32_t width, int32_t bitsPerPixel) {
    return (static_cast<int64_t>(width) * bitsPerPixel + 7) / 8;
}

}  // namespace

int32_t RowPadding(int32_t width, int32_t bitsPerPixel) {
    return static_cast<int32_t>((4 - RowBytes(width, bitsPerPixel) % 4) % 4);
}

bool ComputeGeometry(int32_t width, int32_t height, int32_t bitsPerPixel, PixelGeometry& geometry) {
    constexpr int64_t kMax = kMaxPixelDataBytes;
    if (height == std::numeric_limits<int32_t>::min()) return false;
    const int32_t bytesPerPixel = bitsPerPixel / 8;
    const int64_t rowBytes = RowBytes(width, bitsPerPixel);
    const int64_t stride = rowBytes + RowPadding(width, bitsPerPixel);
    const int64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    if (stride > kMax || stride * rows > kMax) return false;
    geometry.bytesPerPixel = bytesPerPixel;
    geometry.rowCount = static_cast<int32_t>(rows);
    geometry.rowBytes = static_cast<int32_t>(rowBytes);
    geometry.stride = static_cast<int32_t>(stride);
    geometry.size = static_cast<int32_t>(stride * rows);
    return true;
}

}  // namespace bmpc
