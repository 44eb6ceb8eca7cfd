// The two records at the start of every bitmap file and their field-by-field
// transfer. Fields are little-endian on disk whatever the host's byte order.
#pragma once

#include <cstdint>
#include <cstdio>

struct BMPFileHeader {
    uint16_t bfType;  // 0x4D42, the bytes 'B' 'M'
    uint32_t bfSize;  // copied, never examined
    uint16_t bfReserved1;
    uint16_t bfReserved2;
    int32_t bfOffBits;  // where the pixel data starts
};

struct BMPInfoHeader {
    uint32_t biSize;  // copied; a longer header is not skipped through it
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
inline constexpr uint16_t kSignature = 0x4D42;

// Reads both records from the stream's position, one request per field.
// Returns 1, or 0 after printing the failing field's line on stderr.
int ReadBMPHeaders(std::FILE* in, BMPFileHeader& file, BMPInfoHeader& info);

// Writes the 54 header bytes, one request per field. Returns false if any
// request was short.
bool WriteBMPHeaders(std::FILE* out, const BMPFileHeader& file, const BMPInfoHeader& info);

}  // namespace bmpc
