// The walk over pixel data: every pixel byte through the curve, pad bytes
// as they are.
#pragma once

#include <cstddef>
#include <cstdint>

#include "contrast_curve.h"
#include "pixel_layout.h"

namespace bmpc {

// Fills `out` (geometry.size bytes) from `in`: every pixel byte through the
// curve, every pad byte copied as it is. `in` is only read; the two blocks
// do not overlap.
void ApplyContrast(const uint8_t* in, uint8_t* out, const PixelGeometry& geometry,
                   const ContrastTable& table);

// The walk on any stretch of the pixel data: `data` holds the `n` bytes that
// start `offset` bytes into it, wherever in a row that falls.
void ApplyContrastSpan(uint8_t* data, size_t n, uint64_t offset, const PixelGeometry& geometry,
                       const ContrastTable& table);

// The walk for four-byte pixels of which some bytes keep their value:
// where bit k of `keep` is set, byte k of every pixel (0: the first on
// disk) is left as it is; the other bytes go through the curve. `data`,
// `n` and `offset` as for ApplyContrastSpan.
void ApplyContrastSpanKeeping(uint8_t* data, size_t n, uint64_t offset,
                              const PixelGeometry& geometry, const ContrastTable& table,
                              unsigned keep);

// Colour-table entries: blue, green and red through the curve, a fourth
// (reserved) byte kept where entries have four bytes (`entrySize` 4, or 3
// for the core layout). `data` holds the `n` table bytes that start
// `offset` bytes into the table.
void ApplyContrastToTable(uint8_t* data, size_t n, uint64_t offset, uint32_t entrySize,
                          const ContrastTable& table);

// The largest pixel byte (pads left out) in such a stretch; 0 for none.
uint8_t MaxPixelByte(const uint8_t* data, size_t n, uint64_t offset, const PixelGeometry& geometry);

}  // namespace bmpc
