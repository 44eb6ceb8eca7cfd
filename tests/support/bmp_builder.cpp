#include "bmp_builder.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace bmptest {

uint32_t Stride(int32_t width, uint16_t bitCount) {
    const uint64_t rowBytes = static_cast<uint64_t>(width) * (bitCount / 8u);
    return static_cast<uint32_t>((rowBytes + 3) / 4 * 4);
}

uint32_t GetLE(const Bytes& bytes, size_t offset, size_t size) {
    uint32_t value = 0;
    for (size_t i = 0; i < size; ++i)
        value |= static_cast<uint32_t>(bytes.at(offset + i)) << (8 * i);
    return value;
}

void PutLE(Bytes& bytes, size_t offset, size_t size, uint32_t value) {
    for (size_t i = 0; i < size; ++i) bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

Bytes BuildBmp(const BmpLayout& layout) {
    const int32_t palette =
        layout.paletteEntries >= 0 ? layout.paletteEntries : (layout.bitCount == 8 ? 256 : 0);
    const bool core = layout.infoSize == 12;
    const uint32_t headerEnd = 14 + (core ? 12 : std::max<uint32_t>(layout.infoSize, 40));
    const uint32_t pixelsAt = headerEnd + (core ? 3u : 4u) * static_cast<uint32_t>(palette);
    const auto rows = static_cast<uint64_t>(layout.height < 0 ? -static_cast<int64_t>(layout.height)
                                                              : layout.height);
    const uint32_t stride = layout.width > 0 ? Stride(layout.width, layout.bitCount) : 0;
    const uint32_t rowBytes =
        layout.width > 0 ? static_cast<uint32_t>(layout.width) * (layout.bitCount / 8u) : 0;
    const uint64_t pixelBytes = static_cast<uint64_t>(stride) * rows;
    if (pixelBytes > (uint64_t{1} << 31)) throw std::length_error("BuildBmp: image too large");

    // At most 2^31 pixel bytes: fits size_t on 32-bit targets too.
    Bytes file(static_cast<size_t>(pixelsAt + pixelBytes), 0);
    PutLE(file, 0, 2, 0x4D42);
    PutLE(file, 2, 4, static_cast<uint32_t>(file.size()));
    PutLE(file, 10, 4, layout.overrideOffBits ? static_cast<uint32_t>(layout.offBits) : pixelsAt);
    PutLE(file, 14, 4, layout.infoSize);
    if (core) {
        PutLE(file, 18, 2, static_cast<uint32_t>(layout.width));
        PutLE(file, 20, 2, static_cast<uint32_t>(layout.height));
        PutLE(file, 22, 2, 1);
        PutLE(file, 24, 2, layout.bitCount);
    } else {
        PutLE(file, 18, 4, static_cast<uint32_t>(layout.width));
        PutLE(file, 22, 4, static_cast<uint32_t>(layout.height));
        PutLE(file, 26, 2, 1);
        PutLE(file, 28, 2, layout.bitCount);
        PutLE(file, 30, 4, layout.compression);
        PutLE(file, 34, 4, static_cast<uint32_t>(pixelBytes));
        PutLE(file, 38, 4, 2835);
        PutLE(file, 42, 4, 2835);
        PutLE(file, 46, 4, static_cast<uint32_t>(palette));
    }
    // Header tail and palette: recognisable bytes that must come out unchanged.
    for (uint32_t i = headerEnd; i < pixelsAt; ++i) file[i] = static_cast<uint8_t>(i * 7 + 3);
    // Pixels cycle through every byte value; pad bytes are never zero, so a
    // pad byte that went through the curve or was zeroed shows.
    uint32_t state = layout.seed * 2654435761u + 12345u;
    for (uint64_t r = 0; r < rows; ++r) {
        uint8_t* row = file.data() + pixelsAt + r * stride;
        for (uint32_t i = 0; i < stride; ++i) {
            state = state * 1664525u + 1013904223u;
            row[i] = i < rowBytes ? static_cast<uint8_t>(state >> 24)
                                  : static_cast<uint8_t>(0xA0 + i % 7);
        }
    }
    return file;
}

uint8_t ExpectedByte(uint8_t value, int32_t level) {
    if (level > 12700) return value < 128 ? 0 : value > 128 ? 255 : 128;
    // trunc(((value - 128) * level + 12800) / 100): C++ division truncates.
    const int64_t v = ((static_cast<int64_t>(value) - 128) * level + 12800) / 100;
    return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
}

namespace {

Expected Failure(int32_t result, const char* line) {
    Expected e;
    e.result = result;
    e.err = line;
    return e;
}

}  // namespace

namespace {

// The header fields a call reads, from either info header layout.
struct ReadFields {
    int32_t width, height;
    uint32_t bitCount, compression;
    bool core;
    size_t headersEnd;
};

ReadFields Fields(const Bytes& input) {
    ReadFields f{};
    f.core = GetLE(input, 14, 4) == 12;
    if (f.core) {
        f.width = static_cast<int32_t>(GetLE(input, 18, 2));
        f.height = static_cast<int32_t>(GetLE(input, 20, 2));
        f.bitCount = GetLE(input, 24, 2);
        f.headersEnd = 26;
    } else {
        f.width = static_cast<int32_t>(GetLE(input, 18, 4));
        f.height = static_cast<int32_t>(GetLE(input, 22, 4));
        f.bitCount = GetLE(input, 28, 2);
        f.compression = GetLE(input, 30, 4);
        f.headersEnd = 54;
    }
    return f;
}

bool DepthSupported(const ReadFields& f) {
    return f.bitCount == 8 || f.bitCount == 24 || (f.bitCount == 32 && !f.core);
}

}  // namespace

Expected Predict(const Bytes& input, int32_t level) {
    if (level <= 0) return Failure(12, "Error: Contrast level must be positive.\n");
    if (input.size() < 2) return Failure(1333, "Error: Could not read file signature.\n");
    if (GetLE(input, 0, 2) != 0x4D42) return Failure(1333, "Error: Invalid BMP file signature.\n");
    if (input.size() < 14) return Failure(1333, "Error: Could not read file header.\n");
    if (input.size() < 18) return Failure(1333, "Error: Could not read info header size.\n");
    const size_t headersEnd = GetLE(input, 14, 4) == 12 ? 26 : 54;
    if (input.size() < headersEnd) return Failure(1333, "Error: Could not read info header.\n");
    const auto offBits = static_cast<int32_t>(GetLE(input, 10, 4));
    const ReadFields f = Fields(input);
    if (f.width <= 0 || f.height == 0) return Failure(1444, "Error: Invalid image dimensions.\n");
    if (!DepthSupported(f)) {
        return Failure(14444, "Error: Only 8-bit, 24-bit, and 32-bit bitmaps are supported.\n");
    }
    if (f.compression != 0) return Failure(166, "Error: Compressed bitmaps are not supported.\n");
    const uint64_t rowBytes = static_cast<uint64_t>(f.width) * (f.bitCount / 8);
    const uint64_t stride = (rowBytes + 3) / 4 * 4;
    const auto rows =
        static_cast<uint64_t>(f.height < 0 ? -static_cast<int64_t>(f.height) : f.height);
    if (f.height == INT32_MIN || stride > INT32_MAX || stride * rows > INT32_MAX) {
        return Failure(1444, "Error: Invalid image dimensions.\n");
    }
    const uint64_t size = stride * rows;

    Expected e;
    e.result = 999;
    // The layout is kept where the pixels follow the headers or start within
    // the file; otherwise the headers go out with the offset set to their end.
    const bool keeps = static_cast<uint64_t>(offBits) == headersEnd ||
                       (offBits > static_cast<int64_t>(headersEnd) &&
                        static_cast<uint64_t>(offBits) <= input.size());
    const size_t kept = keeps ? static_cast<size_t>(offBits) : headersEnd;
    // Pixels come from offBits (from the headers' end when it is negative),
    // zeros past the end.
    const uint64_t from = offBits < 0 ? headersEnd : static_cast<uint64_t>(offBits);
    const bool whole = from + size <= input.size();
    // Bytes after the pixels follow them, up to the library's 64 MiB limit.
    const uint64_t after = whole ? input.size() - (from + size) : 0;
    const uint64_t trailer = keeps && after <= (uint64_t{64} << 20) ? after : 0;
    e.file.resize(static_cast<size_t>(kept + size + trailer));
    std::copy(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(kept), e.file.begin());
    if (!keeps) PutLE(e.file, 10, 4, static_cast<uint32_t>(headersEnd));
    if (!whole) e.err = "Warning: Could not read all pixel data.\n";
    for (uint64_t i = 0; i < size; ++i) {
        const uint64_t at = from + i;
        const uint8_t value = at < input.size() ? input[static_cast<size_t>(at)] : 0;
        const bool pad = i % stride >= rowBytes;
        e.file[kept + static_cast<size_t>(i)] = pad ? value : ExpectedByte(value, level);
    }
    std::copy(input.end() - static_cast<std::ptrdiff_t>(trailer), input.end(),
              e.file.begin() + static_cast<std::ptrdiff_t>(kept + size));
    e.out = "Success: Contrast adjustment applied.\n";
    return e;
}

uint64_t DeclaredPixelBytes(const Bytes& input) {
    if (input.size() < 18 || GetLE(input, 0, 2) != 0x4D42) return 0;
    if (input.size() < (GetLE(input, 14, 4) == 12 ? 26u : 54u)) return 0;
    const ReadFields f = Fields(input);
    if (f.width <= 0 || f.height == 0 || f.height == INT32_MIN) return 0;
    if (!DepthSupported(f) || f.compression != 0) return 0;
    const uint64_t stride = (static_cast<uint64_t>(f.width) * (f.bitCount / 8) + 3) / 4 * 4;
    const uint64_t size =
        stride * static_cast<uint64_t>(f.height < 0 ? -static_cast<int64_t>(f.height) : f.height);
    return stride > INT32_MAX || size > INT32_MAX ? 0 : size;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) throw std::runtime_error("cannot create " + path);
    const size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), f);
    if (std::fclose(f) != 0 || written != bytes.size())
        throw std::runtime_error("cannot write " + path);
}

Bytes ReadFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw std::runtime_error("cannot open " + path);
    Bytes bytes;
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(f);
    return bytes;
}

}  // namespace bmptest
