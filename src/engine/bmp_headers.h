// The two records at the start of every bitmap file and their field-by-field
// transfer. Fields are little-endian on disk whatever the host's byte order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "byte_stream.h"

struct BMPFileHeader {
    uint16_t bfType;  // 0x4D42, the bytes 'B' 'M'
    uint32_t bfSize;  // copied, never examined
    uint16_t bfReserved1;
    uint16_t bfReserved2;
    int32_t bfOffBits;  // where the pixel data starts
};

// Holds either layout of the info header: the 40-byte one (and the first
// 40 bytes of a longer one), or the 12-byte core one, whose 16-bit width,
// height, planes and bit count land in the same fields with the others zero.
struct BMPInfoHeader {
    uint32_t biSize;  // 12: the core layout; otherwise 40 bytes are read
    int32_t biWidth;
    int32_t biHeight;  // negative: rows stored top to bottom
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;  // never used to size anything
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};

namespace bmpc {

// Bytes taken by the two records on disk: 14 + 40.
inline constexpr int32_t kHeadersSize = 54;
// The core layout: 14 + 12. Its rows are always bottom-up, its colour table
// has 3-byte entries and it has no compression field.
inline constexpr uint32_t kCoreInfoSize = 12;
inline constexpr int32_t kCoreHeadersSize = 26;

inline bool IsCoreHeader(const BMPInfoHeader& info) { return info.biSize == kCoreInfoSize; }

// Where the headers end on disk, and so where the stream stands after them.
inline int32_t HeadersEnd(const BMPInfoHeader& info) {
    return IsCoreHeader(info) ? kCoreHeadersSize : kHeadersSize;
}
inline constexpr uint16_t kSignature = 0x4D42;

// The first bytes of a source as read (the file header and the info
// header's size field), whatever they are: enough for a caller to tell
// another format by its signature.
struct LeadBytes {
    uint8_t bytes[18] = {};
    size_t size = 0;
};

// Reads both records from the source's position, leaving it just after
// them (byte 54, or 26 for the core layout). Returns 1, or 0 with `line`
// set to the failing field's line: a file that ends inside a field fails
// with that field's line. `lead`, where given, receives the first bytes.
int ReadBMPHeaders(ByteSource& in, BMPFileHeader& file, BMPInfoHeader& info, const char*& line,
                   LeadBytes* lead = nullptr);

// The header bytes as they go on disk: 54, or 26 for the core layout.
inline constexpr size_t kMaxHeadersSize = kHeadersSize;
size_t EncodeBMPHeaders(const BMPFileHeader& file, const BMPInfoHeader& info,
                        uint8_t (&bytes)[kMaxHeadersSize]);

}  // namespace bmpc
