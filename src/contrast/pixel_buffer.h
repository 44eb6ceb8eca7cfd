// Heap blocks for pixel data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bmpc {

// Returns a block of `size` bytes, or null. Blocks of 2 to 16 MiB are
// 2 MiB-aligned anonymous mappings marked for transparent huge pages, which
// are cheaper to fault in; smaller and larger ones come from malloc (see
// pixel_buffer.cpp for the measurements behind the bounds).
uint8_t* AllocatePixelBuffer(size_t size) noexcept;

// Releases a block from AllocatePixelBuffer with the same size. Null is fine.
void FreePixelBuffer(uint8_t* block, size_t size) noexcept;

}  // namespace bmpc
