#include "apply_contrast.h"

#include <cstring>

#include "kernels/contrast_kernels.h"

namespace bmpc {

void ApplyContrast(const uint8_t* in, uint8_t* out, const PixelGeometry& geometry,
                   const ContrastTable& table) {
    const ContrastKernel kernel = SelectKernel();
    const auto stride = static_cast<size_t>(geometry.stride);
    const auto rowBytes = static_cast<size_t>(geometry.rowBytes);
    if (rowBytes == stride) {
        // No pad bytes: the rows form one run.
        kernel(in, out, static_cast<size_t>(geometry.size), table);
        return;
    }
    const size_t pad = stride - rowBytes;
    for (size_t row = 0; row < static_cast<size_t>(geometry.rowCount); ++row) {
        const size_t at = row * stride;
        kernel(in + at, out + at, rowBytes, table);
        std::memcpy(out + at + rowBytes, in + at + rowBytes, pad);
    }
}

void ApplyContrastInPlace(uint8_t* pixels, const PixelGeometry& geometry,
                          const ContrastTable& table) {
    const ContrastKernel kernel = SelectKernel();
    const auto stride = static_cast<size_t>(geometry.stride);
    const auto rowBytes = static_cast<size_t>(geometry.rowBytes);
    if (rowBytes == stride) {
        kernel(pixels, pixels, static_cast<size_t>(geometry.size), table);
        return;
    }
    for (size_t row = 0; row < static_cast<size_t>(geometry.rowCount); ++row) {
        kernel(pixels + row * stride, pixels + row * stride, rowBytes, table);
    }
}

}  // namespace bmpc
