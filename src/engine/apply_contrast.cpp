#include "apply_contrast.h"

#include <algorithm>
#include <cstring>

#include "kernels/contrast_kernels.h"

namespace bmpc {
namespace {

// Calls `pixels(at, count)` for each run of pixel bytes in the `n` bytes
// that start `offset` bytes into the pixel data, pads skipped.
template <typename Visit>
void ForEachPixelRun(size_t n, uint64_t offset, const PixelGeometry& geometry, Visit pixels) {
    const auto stride = static_cast<uint64_t>(geometry.stride);
    const auto rowBytes = static_cast<uint64_t>(geometry.rowBytes);
    if (rowBytes == stride) {
        pixels(size_t{0}, n);  // no pad bytes: one run
        return;
    }
    size_t done = 0;
    while (done < n) {
        const uint64_t column = (offset + done) % stride;
        const size_t take = static_cast<size_t>(std::min<uint64_t>(n - done, stride - column));
        if (column < rowBytes) {
            pixels(done, static_cast<size_t>(std::min<uint64_t>(take, rowBytes - column)));
        }
        done += take;
    }
}

}  // namespace

void ApplyContrast(const uint8_t* in, uint8_t* out, const PixelGeometry& geometry,
                   const ContrastTable& table) {
    const ContrastKernel kernel = SelectKernel().apply;
    const auto size = static_cast<size_t>(geometry.size);
    // Pads first: the kernel then overwrites every pixel byte.
    if (geometry.rowBytes != geometry.stride) std::memcpy(out, in, size);
    ForEachPixelRun(size, 0, geometry,
                    [&](size_t at, size_t count) { kernel(in + at, out + at, count, table); });
}

void ApplyContrastSpan(uint8_t* data, size_t n, uint64_t offset, const PixelGeometry& geometry,
                       const ContrastTable& table) {
    const ContrastKernel kernel = SelectKernel().apply;
    ForEachPixelRun(n, offset, geometry,
                    [&](size_t at, size_t count) { kernel(data + at, data + at, count, table); });
}

void ApplyContrastSpanKeeping(uint8_t* data, size_t n, uint64_t offset,
                              const PixelGeometry& geometry, const ContrastTable& table,
                              unsigned keep) {
    const KeepingKernel kernel = SelectKernel().applyKeeping;
    const auto stride = static_cast<uint64_t>(geometry.stride);
    ForEachPixelRun(n, offset, geometry, [&](size_t at, size_t count) {
        // Rows of four-byte pixels start on a multiple of four.
        const auto phase = static_cast<unsigned>((offset + at) % stride % 4);
        kernel(data + at, data + at, count, table, KeepAtPhase(keep, phase));
    });
}

void ApplyContrastToTable(uint8_t* data, size_t n, uint64_t offset, uint32_t entrySize,
                          const ContrastTable& table) {
    const KernelInfo& kernel = SelectKernel();
    if (entrySize == 3) {
        kernel.apply(data, data, n, table);
        return;
    }
    // Blue, green, red, then the reserved byte, kept.
    kernel.applyKeeping(data, data, n, table,
                        KeepAtPhase(0b1000, static_cast<unsigned>(offset % 4)));
}

uint8_t MaxPixelByte(const uint8_t* data, size_t n, uint64_t offset,
                     const PixelGeometry& geometry) {
    uint8_t most = 0;
    ForEachPixelRun(n, offset, geometry, [&](size_t at, size_t count) {
        for (size_t i = 0; i < count; ++i) most = std::max(most, data[at + i]);
    });
    return most;
}

}  // namespace bmpc
