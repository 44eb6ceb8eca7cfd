// The conversion as the library does it, without printing: what a file is
// and what a call on it would end with, and the conversion of a source into
// a sink in fixed-size chunks. The exported call, the tool and the Python
// extension all stand on this; only the exported call prints.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "bmp_headers.h"
#include "byte_stream.h"
#include "diagnostics.h"
#include "pixel_layout.h"

namespace bmpc {

// What the output holds besides the headers and the pixels.
struct OutputPlan {
    bool keepsLayout = false;  // the input's headers and offset go out as they are
    size_t carried = 0;        // bytes between the headers and the pixel data
    size_t trailer = 0;        // bytes after the pixel data
};

// An 8-bit file's colour table, as far as the output carries it.
struct PaletteFacts {
    uint32_t entries = 0;  // whole entries carried (0: none, or not an 8-bit file)
    bool grey = true;      // every one of them has equal blue, green and red
};

struct Description {
    // Success, or the failure a call on this file ends with. Failures that
    // depend on the moment (memory, the output) are not foreseen.
    int32_t result = 0;
    const char* line = nullptr;  // the failure's line; null where it has none
    bool headersRead = false;
    BMPFileHeader file{};
    BMPInfoHeader info{};
    int32_t headersEnd = 0;    // where the headers end on disk (54 or 26)
    PixelGeometry geometry{};  // where result is Success
    int64_t fileSize = 0;      // 0 where the source has no size (a pipe)
    OutputPlan plan{};         // where result is Success
    int64_t pixelStart = 0;    // where the pixel data is read from
    // The source holds all the pixel data, so no short-read warning comes.
    // Known only where the source has a size; a pipe is taken at its word.
    bool complete = false;
    uint64_t outputSize = 0;  // bytes the output will have, headers included
};

// Step one of every call: a level that is not positive ends it. False then,
// with `d` saying so. Nothing is read.
bool DescribeLevel(int32_t level, Description& d);

// Reads the headers from the start of `in`, leaving it just after them, and
// fills in what a call on this file would do.
void DescribeFile(ByteSource& in, Description& d);

// Both, as a call does them.
inline void Describe(ByteSource& in, int32_t level, Description& d) {
    if (DescribeLevel(level, d)) DescribeFile(in, d);
}

// The lines a call on a described file ends with where memory and the
// output do not fail: the warning for an incomplete file, then success; or
// the failure's line.
Diagnostics ForeseenLines(const Description& d);

struct StreamResult {
    int32_t result = 0;  // as the exported call's; 0 where cancelled
    Diagnostics lines;
    bool cancelled = false;
    PaletteFacts palette;
    // The curve sent an index that was inside the colour table past its
    // end: the output holds colours its table does not have.
    bool indexPastPalette = false;
    // The curve moves at least one index the colour table has (at level
    // 100 none moves, and the colours stay).
    bool indicesMoved = false;
};

// Smallest chunk buffer (or the whole output, if that is less): the
// headers and an 8-bit file's colour table behind a V5 info header
// (14 + 124 + 256 * 4 bytes) fit in the first chunk.
inline constexpr size_t kMinChunkBytes = 4096;

// Converts a described file: `in` stands where DescribeFile left it; the
// output goes to `out` through `buffer`, the only memory used. Gives the
// bytes, result and lines of the exported call on the same file, except
// that no memory is allocated (so never OutOfMemory); a sink that fails
// gives OutputOpenFailed with its FailureLine(). `cancel` is looked at
// before every chunk. A buffer as large as the whole output hands it to
// the sink in one Write, after the last read.
StreamResult ConvertDescribed(const Description& d, int32_t level, ByteSource& in, ByteSink& out,
                              uint8_t* buffer, size_t bufferSize,
                              const std::atomic<bool>* cancel = nullptr);

// Describe, then ConvertDescribed.
StreamResult ConvertStream(ByteSource& in, ByteSink& out, int32_t level, uint8_t* buffer,
                           size_t bufferSize, const std::atomic<bool>* cancel = nullptr);

}  // namespace bmpc
