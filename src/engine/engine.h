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

// Which conversion the caller asks for. Contract is the exported call's:
// every pixel byte through the curve, uncompressed 8-, 24- and 32-bit files
// only. Colour changes the colours a viewer shows and keeps alpha: the
// colour table of 1-, 4- and 8-bit files (RLE ones too), every byte of
// 24-bit pixels, the colour bytes of 32-bit ones (bit fields too).
enum class Mode : uint8_t { Contract, Colour };

// What the headers say the file is, in either mode.
enum class Layout : uint8_t {
    Unknown,      // the headers were not read (or the level ended the call)
    Indexed,      // 1, 4 or 8 bits with a colour table, uncompressed
    IndexedRle,   // RLE8 (8-bit, compression 1) or RLE4 (4-bit, compression 2)
    Rgb24,        // 24-bit, uncompressed
    Rgb32,        // 32-bit, uncompressed: blue, green, red, a fourth byte
    BitFields32,  // 32-bit with bit fields (compression 3, or 6 with alpha)
    Rgb16,        // 16-bit, with or without bit fields
    Jpeg,         // a JPEG image inside (compression 4)
    Png,          // a PNG image inside (compression 5)
    Other,        // any other depth, or a compression this depth cannot have
};

// What a conversion changes; the rest of the file is copied.
enum class Treatment : uint8_t {
    None,         // nothing: the file is refused
    EveryByte,    // every pixel byte through the curve, pad bytes kept
    ColourTable,  // blue, green and red of the colour table's entries
    ColourBytes,  // of every 32-bit pixel, the bytes `curvedBytes` names
};

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
    // The level DescribeLevel accepted; the conversion takes it from here,
    // so that what was checked is what is applied.
    int32_t level = 0;
    Mode mode = Mode::Contract;
    Layout layout = Layout::Unknown;        // once the headers are read
    Treatment treatment = Treatment::None;  // where result is Success
    bool headersRead = false;
    LeadBytes lead{};  // the source's first bytes as read, a bitmap or not
    BMPFileHeader file{};
    BMPInfoHeader info{};
    int32_t headersEnd = 0;    // where the headers end on disk (54 or 26)
    PixelGeometry geometry{};  // where result is Success (RLE data: see below)
    int64_t fileSize = 0;      // 0 where the source has no size (a pipe)
    OutputPlan plan{};         // where result is Success
    int64_t pixelStart = 0;    // where the pixel data is read from
    // The source holds all the pixel data, so no short-read warning comes.
    // Known only where the source has a size; a pipe is taken at its word.
    bool complete = false;
    uint64_t outputSize = 0;  // bytes the output will have, headers included

    // Colour mode only. The pixel data of an RLE file, copied as it is, has
    // no rows: geometry.size is the rest of the file (the header's size
    // field where the source has no size), its strides are 0.
    //
    // ColourBytes: bit k set where byte k of a pixel (0: the first on
    // disk) goes through the curve; the others are kept.
    uint8_t curvedBytes = 0;
    // BitFields32: the red, green, blue and alpha masks as
    // read (alpha 0 where the header has none).
    uint32_t masks[4] = {};
    // ColourTable: where the table starts in the file, the entries that go
    // through the curve, and the bytes of one entry (4; 3 in the core
    // layout).
    int64_t tableStart = 0;
    uint32_t tableEntries = 0;
    uint32_t entrySize = 0;
    // Bytes after the headers that describing already read (the bit-field
    // masks); the conversion sends them first among the carried bytes.
    uint8_t ahead[16] = {};
    uint32_t aheadSize = 0;
};

// Step one of every call: a level that is not positive ends it. False then,
// with `d` saying so. Nothing is read.
bool DescribeLevel(int32_t level, Description& d);

// Reads the headers from the start of `in`, leaving it just after them
// (after the bit-field masks that follow, in colour mode), and fills in
// what a conversion in `mode` would do. Contract mode foresees the
// exported call.
void DescribeFile(ByteSource& in, Description& d, Mode mode = Mode::Contract);

// Both, as a call does them.
inline void Describe(ByteSource& in, int32_t level, Description& d, Mode mode = Mode::Contract) {
    if (DescribeLevel(level, d)) {
        DescribeFile(in, d, mode);
    } else {
        d.mode = mode;
    }
}

struct StreamResult {
    int32_t result = 0;  // as the exported call's; 0 where cancelled
    Diagnostics lines;
    bool cancelled = false;
    PaletteFacts palette;  // as read: before colour mode's curve
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

// Converts a described file in the description's mode: `in` stands where
// DescribeFile left it; the output goes to `out` through `buffer`, the only
// memory used. In contract mode gives the bytes, result and lines of the
// exported call on the same file, except that no memory is allocated (so
// never OutOfMemory); a sink that fails gives OutputOpenFailed with its
// FailureLine(). `cancel` is looked at before every chunk. A buffer as
// large as the whole output hands it to the sink in one Write, after the
// last read.
// A stretch [from, to) of a file's pixel data, in bytes, for callers that
// convert one file on several threads. The first stretch (from 0) also
// writes the headers and what lies before the pixels; the last (to the
// end) the trailer and the success line. A stretch that is not the first
// reads from a source it seeks to the stretch's pixels.
struct PixelRange {
    uint64_t from = 0;
    uint64_t to = UINT64_MAX;
};

StreamResult ConvertDescribed(const Description& d, ByteSource& in, ByteSink& out, uint8_t* buffer,
                              size_t bufferSize, const std::atomic<bool>* cancel = nullptr,
                              PixelRange range = {});

}  // namespace bmpc
