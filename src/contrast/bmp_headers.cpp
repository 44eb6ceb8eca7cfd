#include "bmp_headers.h"

#include "messages.h"

namespace bmpc {
namespace {

// One read request for one field of `size` bytes, assembled little-endian so
// that the result does not depend on the host's byte order.
template <typename T>
bool ReadField(std::FILE* in, T& field) {
    unsigned char bytes[sizeof(T)];
    if (std::fread(bytes, sizeof(T), 1, in) != 1) return false;
    uint32_t value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    field = static_cast<T>(value);
    return true;
}

template <typename T>
bool WriteField(std::FILE* out, T field) {
    const auto value = static_cast<uint32_t>(field);
    unsigned char bytes[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    return std::fwrite(bytes, sizeof(T), 1, out) == 1;
}

// The core layout's four 16-bit fields; the rest of the record stays zero,
// which also makes it uncompressed.
bool ReadCoreHeader(std::FILE* in, BMPInfoHeader& info) {
    info = BMPInfoHeader{};
    info.biSize = kCoreInfoSize;
    uint16_t width = 0, height = 0;
    if (!ReadField(in, width) || !ReadField(in, height) || !ReadField(in, info.biPlanes) ||
        !ReadField(in, info.biBitCount)) {
        return false;
    }
    info.biWidth = width;
    info.biHeight = height;
    return true;
}

bool WriteCoreHeader(std::FILE* out, const BMPInfoHeader& info) {
    bool ok = WriteField(out, static_cast<uint16_t>(info.biWidth));
    ok &= WriteField(out, static_cast<uint16_t>(info.biHeight));
    ok &= WriteField(out, info.biPlanes);
    ok &= WriteField(out, info.biBitCount);
    return ok;
}

int Fail(const char* line) {
    std::fputs(line, stderr);
    return 0;
}

}  // namespace

int ReadBMPHeaders(std::FILE* in, BMPFileHeader& file, BMPInfoHeader& info) {
    if (!ReadField(in, file.bfType)) return Fail(msg::kNoSignature);
    if (file.bfType != kSignature) return Fail(msg::kBadSignature);
    if (!ReadField(in, file.bfSize) || !ReadField(in, file.bfReserved1) ||
        !ReadField(in, file.bfReserved2) || !ReadField(in, file.bfOffBits)) {
        return Fail(msg::kNoFileHeader);
    }
    if (!ReadField(in, info.biSize)) return Fail(msg::kNoInfoSize);
    if (IsCoreHeader(info)) return ReadCoreHeader(in, info) ? 1 : Fail(msg::kNoInfoHeader);
    if (!ReadField(in, info.biWidth) || !ReadField(in, info.biHeight) ||
        !ReadField(in, info.biPlanes) || !ReadField(in, info.biBitCount) ||
        !ReadField(in, info.biCompression) || !ReadField(in, info.biSizeImage) ||
        !ReadField(in, info.biXPelsPerMeter) || !ReadField(in, info.biYPelsPerMeter) ||
        !ReadField(in, info.biClrUsed) || !ReadField(in, info.biClrImportant)) {
        return Fail(msg::kNoInfoHeader);
    }
    return 1;
}

bool WriteBMPHeaders(std::FILE* out, const BMPFileHeader& file, const BMPInfoHeader& info) {
    // Every field is written even after a short one, so the stream sees the
    // same requests either way; the caller reports the failure.
    bool ok = WriteField(out, file.bfType);
    ok &= WriteField(out, file.bfSize);
    ok &= WriteField(out, file.bfReserved1);
    ok &= WriteField(out, file.bfReserved2);
    ok &= WriteField(out, file.bfOffBits);
    ok &= WriteField(out, info.biSize);
    if (IsCoreHeader(info)) return WriteCoreHeader(out, info) && ok;
    ok &= WriteField(out, info.biWidth);
    ok &= WriteField(out, info.biHeight);
    ok &= WriteField(out, info.biPlanes);
    ok &= WriteField(out, info.biBitCount);
    ok &= WriteField(out, info.biCompression);
    ok &= WriteField(out, info.biSizeImage);
    ok &= WriteField(out, info.biXPelsPerMeter);
    ok &= WriteField(out, info.biYPelsPerMeter);
    ok &= WriteField(out, info.biClrUsed);
    ok &= WriteField(out, info.biClrImportant);
    return ok;
}

}  // namespace bmpc
