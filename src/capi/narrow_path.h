// UTF-16 paths from the caller become UTF-8 file names for fopen.
#pragma once

#include <memory>

namespace bmpc {

struct FreeDeleter {
    void operator()(void* p) const noexcept;
};
using NarrowPathPtr = std::unique_ptr<char[], FreeDeleter>;

// Converts a null-terminated UTF-16 path to a null-terminated UTF-8 one.
// Returns null (a file that cannot be opened) for a null path, for an
// unpaired surrogate (a replacement character would be a legal, different
// file name on Linux) and when the buffer cannot be allocated.
NarrowPathPtr NarrowPath(const char16_t* path) noexcept;

}  // namespace bmpc
