// Heap blocks for pixel data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bmpc {

// Returns a block of `size` bytes, or null. Large blocks are 2 MiB-aligned
// anonymous mappings marked for transparent huge pages: a fresh block is
// first touched by the read or the transform, and faulting it in 4 KiB pages
// costs several times the work done on the bytes themselves.
uint8_t* AllocatePixelBuffer(size_t size) noexcept;

// Releases a block from AllocatePixelBuffer with the same size. Null is fine.
void FreePixelBuffer(uint8_t* block, size_t size) noexcept;

}  // namespace bmpc
