#include "pixel_layout.h"

#include <limits>

#include "size_limits.h"

namespace bmpc {

int32_t RowPadding(int32_t width, int32_t bitsPerPixel) {
    // Widened so that a huge width cannot overflow; only the residue matters.
    const int64_t rowBytes = static_cast<int64_t>(width) * (bitsPerPixel / 8);
    return static_cast<int32_t>((4 - rowBytes % 4) % 4);
}

bool ComputeGeometry(int32_t width, int32_t height, int32_t bitsPerPixel, PixelGeometry& geometry) {
    constexpr int64_t kMax = kMaxPixelDataBytes;
    if (height == std::numeric_limits<int32_t>::min()) return false;
    const int32_t bytesPerPixel = bitsPerPixel / 8;
    const int64_t rowBytes = static_cast<int64_t>(width) * bytesPerPixel;
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
