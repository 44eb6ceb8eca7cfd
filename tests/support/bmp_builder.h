// Builds bitmap files in memory, and predicts what a call makes of one.
// Shared by the tests, the fuzz target's invariants and the benchmarks, so
// that every one of them agrees on what a valid file looks like.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bmptest {

using Bytes = std::vector<uint8_t>;

struct BmpLayout {
    int32_t width = 3;
    int32_t height = 2;  // negative: top-down
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t infoSize = 40;       // > 40 adds (infoSize - 40) bytes after the 40 read;
                                  // 12: the core layout (16-bit fields, 3-byte palette
                                  // entries, bottom-up: height must be positive)
    int32_t paletteEntries = -1;  // -1: 2^bitCount for 1-, 4- and 8-bit files, none otherwise
    bool overrideOffBits = false;
    int32_t offBits = 0;  // used when overrideOffBits
    uint32_t seed = 1;    // pixel and pad pattern
    // Bit-field masks (red, green, blue, alpha): after a 40-byte info
    // header, else in the header's own mask fields.
    std::vector<uint32_t> masks = {};
    Bytes pixels = {};  // the pixel data as given (RLE data), in place of the pattern
};

// Row stride in bytes for the given width and depth.
uint32_t Stride(int32_t width, uint16_t bitCount);

// A complete file: headers, palette or header tail if any, then
// stride * |height| pixel bytes whose pad bytes are non-zero.
Bytes BuildBmp(const BmpLayout& layout);

// RLE8 (bitCount 8) or RLE4 (4) data for a width x height picture of
// indices below `colours`: each row alternates repeated and absolute runs
// and ends with an end-of-line marker, the last with end-of-bitmap.
Bytes RleData(int32_t width, int32_t height, uint16_t bitCount, uint32_t colours, uint32_t seed);

// Little-endian field access on a file image.
uint32_t GetLE(const Bytes& bytes, size_t offset, size_t size);
void PutLE(Bytes& bytes, size_t offset, size_t size, uint32_t value);

// The curve, computed independently of the library: exact integer
// arithmetic up to level 12700, saturation above (where every byte but 128
// lands on 0 or 255).
uint8_t ExpectedByte(uint8_t value, int32_t level);

// What a call with `level` on a file holding `input` should produce, for a
// writable output path that differs from the input's.
struct Expected {
    int32_t result = 0;
    std::string err;  // standard error, byte for byte
    std::string out;  // standard output
    Bytes file;       // the output file, when result is 999
};
Expected Predict(const Bytes& input, int32_t level);

// The output of the engine's colour mode on a well-formed `input` it
// converts (pixel data within the file and after the colour table or
// masks), worked out from the file alone: the blue, green and red bytes of
// the colour table's reachable entries, or the colour bytes of 32-bit
// pixels that the masks name, or every pixel byte of 24-bit ones, through
// the curve. Assumes no trailer beyond the library's 64 MiB limit.
Bytes PredictColourOutput(const Bytes& input, int32_t level);

// Pixel-data size a call on `input` allocates twice (plus the bytes carried),
// or 0 when the call fails before allocating. Lets callers skip honest but
// huge images before any work is done for them.
uint64_t DeclaredPixelBytes(const Bytes& input);

// File helpers for tests.
void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);

}  // namespace bmptest
