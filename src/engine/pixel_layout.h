// Geometry of uncompressed pixel rows: bytes per pixel, pad, stride, size.
#pragma once

#include <cstdint>

namespace bmpc {

// Pad bytes (0..3) that bring a row of `width` pixels to a multiple of 4.
int32_t RowPadding(int32_t width, int32_t bitsPerPixel);

struct PixelGeometry {
    int32_t bytesPerPixel;  // 0 for 1- and 4-bit pixels
    int32_t rowCount;       // |biHeight|
    int32_t rowBytes;       // the bytes width pixels take, pads excluded
    int32_t stride;         // rowBytes + pad, a multiple of 4
    int32_t size;           // stride * rowCount
};

// Fills `geometry` for a width > 0, a height != 0 and a depth of 1, 4, 8,
// 24 or 32.
// Returns false where the stride or the size does not fit in a signed 32-bit
// value, or where |height| has no 32-bit value (INT32_MIN): the largest
// image is one of 2^31 - 1 bytes of pixel data.
bool ComputeGeometry(int32_t width, int32_t height, int32_t bitsPerPixel, PixelGeometry& geometry);

}  // namespace bmpc
