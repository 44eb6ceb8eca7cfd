// The walk over a whole pixel buffer.
#pragma once

#include <cstdint>

#include "contrast_curve.h"
#include "pixel_layout.h"

namespace bmpc {

// Fills `out` (geometry.size bytes) from `in`: every pixel byte through the
// curve, every pad byte copied as it is. `in` is only read; the two blocks
// do not overlap.
void ApplyContrast(const uint8_t* in, uint8_t* out, const PixelGeometry& geometry,
                   const ContrastTable& table);

// The same walk on one block (geometry.size bytes): every pixel byte is
// replaced by the curve's value, pad bytes stay as they are.
void ApplyContrastInPlace(uint8_t* pixels, const PixelGeometry& geometry,
                          const ContrastTable& table);

}  // namespace bmpc
