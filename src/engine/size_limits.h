// The largest amounts of data one call holds in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace bmpc {

// Stride, pixel-data size and bfOffBits are signed 32-bit values in the
// format, so no honest file has more pixel data than this; larger claims are
// refused as invalid dimensions before anything is allocated. A 54-byte file
// may still claim this much, and the call then allocates it twice.
inline constexpr int64_t kMaxPixelDataBytes = std::numeric_limits<int32_t>::max();

// Bytes after the pixel data that are carried into the output. What encoders
// put there is an ICC colour profile or metadata, a few MiB at the very most;
// the limit keeps a file that is mostly something else behind a small image
// from costing the call as much memory again. Beyond it the output ends
// with the pixels, as a file without such bytes would.
inline constexpr size_t kMaxTrailerBytes = size_t{64} << 20;

}  // namespace bmpc
