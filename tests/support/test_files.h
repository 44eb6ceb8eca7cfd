// Small helpers the library's tests share: bitmaps built by size, a field
// overwritten, the bytes an output held before a call, what the process
// holds, and one call with its printed lines.
#pragma once

#include <cstdint>
#include <string>

#include "bmp_builder.h"
#include "bmpcontrast.h"
#include "process_usage.h"
#include "scratch_dir.h"
#include "stdio_capture.h"

namespace bmptest {

// What an output file holds before a call that must not touch it.
inline const Bytes kSentinel = {'o', 'l', 'd', ' ', 'o', 'u', 't', 'p', 'u', 't'};

// `bytes` with one little-endian field replaced.
inline Bytes With(Bytes bytes, size_t offset, size_t size, uint32_t value) {
    PutLE(bytes, offset, size, value);
    return bytes;
}

inline Bytes Build(int32_t width, int32_t height, uint16_t bitCount, int32_t palette = -1,
                   uint32_t seed = 1) {
    BmpLayout layout;
    layout.width = width;
    layout.height = height;
    layout.bitCount = bitCount;
    layout.paletteEntries = palette;
    layout.seed = seed;
    return BuildBmp(layout);
}

struct Outcome {
    int32_t result = 0;
    std::string out;
    std::string err;
};

inline Outcome Call(const char16_t* in, const char16_t* out, int32_t level) {
    Outcome o;
    const auto text = CaptureStdio([&] { o.result = BMPContrast(in, out, level); });
    o.out = text.out;
    o.err = text.err;
    return o;
}

inline Outcome Call(const std::string& in, const std::string& out, int32_t level = 150) {
    return Call(U16(in).c_str(), U16(out).c_str(), level);
}

}  // namespace bmptest
