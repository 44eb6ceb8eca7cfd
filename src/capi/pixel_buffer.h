// Heap blocks for pixel data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bmpc {

// Returns a block of `size` bytes from malloc, or null. Whether memory freed
// by one call is kept for the next is the process's malloc policy; the
// library keeps nothing between calls.
uint8_t* AllocatePixelBuffer(size_t size) noexcept;

// Faults in every page of a block that is about to be filled, in one
// request to the kernel rather than one fault per page as the read or the
// transform reach it. Advice only: where the kernel cannot do that (not
// Linux, or a Linux before 5.14) nothing happens and the first touch faults
// the pages in as usual.
void PrefaultPixelBuffer(uint8_t* block, size_t size) noexcept;

// Releases a block from AllocatePixelBuffer with the same size. Null is fine.
void FreePixelBuffer(uint8_t* block) noexcept;

}  // namespace bmpc
