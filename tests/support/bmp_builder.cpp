#include "bmp_builder.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace bmptest {

uint32_t Stride(int32_t width, uint16_t bitCount) {
    const uint64_t bits = static_cast<uint64_t>(width) * bitCount;
    return static_cast<uint32_t>((bits + 31) / 32 * 4);
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
    const uint16_t bits = layout.bitCount;
    const bool indexed = bits == 1 || bits == 4 || bits == 8;
    const int32_t palette =
        layout.paletteEntries >= 0 ? layout.paletteEntries : (indexed ? 1 << bits : 0);
    const bool core = layout.infoSize == 12;
    const uint32_t infoEnd = 14 + (core ? 12 : std::max<uint32_t>(layout.infoSize, 40));
    const auto maskBytes = static_cast<uint32_t>(4 * layout.masks.size());
    const uint32_t headerEnd = infoEnd + (layout.infoSize == 40 ? maskBytes : 0);
    const uint32_t pixelsAt = headerEnd + (core ? 3u : 4u) * static_cast<uint32_t>(palette);
    const auto rows = static_cast<uint64_t>(layout.height < 0 ? -static_cast<int64_t>(layout.height)
                                                              : layout.height);
    const uint32_t stride = layout.width > 0 ? Stride(layout.width, bits) : 0;
    const uint32_t rowBytes =
        layout.width > 0 ? static_cast<uint32_t>((uint64_t{uint32_t(layout.width)} * bits + 7) / 8)
                         : 0;
    const uint64_t pixelBytes =
        layout.pixels.empty() ? static_cast<uint64_t>(stride) * rows : layout.pixels.size();
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
        PutLE(file, 24, 2, bits);
    } else {
        PutLE(file, 18, 4, static_cast<uint32_t>(layout.width));
        PutLE(file, 22, 4, static_cast<uint32_t>(layout.height));
        PutLE(file, 26, 2, 1);
        PutLE(file, 28, 2, bits);
        PutLE(file, 30, 4, layout.compression);
        PutLE(file, 34, 4, static_cast<uint32_t>(pixelBytes));
        PutLE(file, 38, 4, 2835);
        PutLE(file, 42, 4, 2835);
        PutLE(file, 46, 4, static_cast<uint32_t>(palette));
    }
    // Header tail and palette: recognisable bytes that must come out unchanged.
    for (uint32_t i = infoEnd; i < pixelsAt; ++i) file[i] = static_cast<uint8_t>(i * 7 + 3);
    for (size_t k = 0; k < layout.masks.size(); ++k) PutLE(file, 54 + 4 * k, 4, layout.masks[k]);
    if (!layout.pixels.empty()) {
        std::copy(layout.pixels.begin(), layout.pixels.end(), file.begin() + pixelsAt);
        return file;
    }
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

Bytes RleData(int32_t width, int32_t height, uint16_t bitCount, uint32_t colours, uint32_t seed) {
    uint32_t state = seed * 2654435761u + 777u;
    auto index = [&] {
        state = state * 1664525u + 1013904223u;
        return static_cast<uint8_t>((state >> 16) % colours);
    };
    auto pair = [&] { return static_cast<uint8_t>(index() << 4 | index()); };
    Bytes data;
    for (int32_t y = 0; y < height; ++y) {
        bool absolute = y % 2 == 1;
        for (int32_t x = 0; x < width; absolute = !absolute) {
            const int32_t left = width - x;
            if (absolute && left >= 3) {
                // 0, n, then n indices (two to a byte in RLE4), to a 16-bit boundary.
                const auto n = static_cast<uint8_t>(std::min(left, 3 + int32_t(state >> 29)));
                data.insert(data.end(), {0, n});
                const size_t bytes = bitCount == 8 ? n : (n + 1u) / 2;
                for (size_t b = 0; b < bytes; ++b) data.push_back(bitCount == 8 ? index() : pair());
                if (bytes % 2 != 0) data.push_back(0);
                x += n;
            } else {
                const auto n = static_cast<uint8_t>(std::min(left, 1 + int32_t(state >> 30)));
                data.insert(data.end(), {n, bitCount == 8 ? index() : pair()});
                x += n;
            }
        }
        data.insert(data.end(), {0, static_cast<uint8_t>(y + 1 == height ? 1 : 0)});
    }
    return data;
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

Bytes PredictColourOutput(const Bytes& input, int32_t level) {
    Bytes out = input;
    const ReadFields f = Fields(input);
    const size_t offBits = GetLE(input, 10, 4);
    auto curve = [&](size_t at) { out[at] = ExpectedByte(out[at], level); };
    if (f.bitCount <= 8) {
        const size_t entry = f.core ? 3 : 4;
        const size_t start = f.core ? 26 : 14 + GetLE(input, 14, 4);
        const uint32_t used = f.core ? 0 : GetLE(input, 46, 4);
        const uint32_t reachable = 1u << f.bitCount;
        const size_t entries = std::min<size_t>(used != 0 ? std::min(used, reachable) : reachable,
                                                (offBits - start) / entry);
        for (size_t k = 0; k < entries; ++k) {
            for (size_t c = 0; c < 3; ++c) curve(start + k * entry + c);
        }
        return out;
    }
    // Bytes of a pixel that go through the curve: all three of 24-bit ones;
    // of 32-bit ones those the red, green and blue masks cover (which stand
    // at 54, 58 and 62 in every header that has them), or the first three.
    unsigned curved = f.bitCount == 24 ? 7u : 0u;
    if (f.bitCount == 32 && f.compression == 0) curved = 7u;
    if (f.bitCount == 32 && f.compression != 0) {
        for (size_t c = 0; c < 3; ++c) {
            const uint32_t mask = GetLE(input, 54 + 4 * c, 4);
            for (unsigned k = 0; k < 4; ++k) {
                if (mask == 0xFFu << (8 * k)) curved |= 1u << k;
            }
        }
    }
    const size_t bytesPerPixel = f.bitCount / 8u;
    const size_t stride = Stride(f.width, static_cast<uint16_t>(f.bitCount));
    const auto rows = static_cast<size_t>(f.height < 0 ? -int64_t{f.height} : f.height);
    for (size_t r = 0; r < rows; ++r) {
        for (size_t i = 0; i < static_cast<size_t>(f.width) * bytesPerPixel; ++i) {
            if ((curved >> (i % bytesPerPixel % 4)) & 1u) curve(offBits + r * stride + i);
        }
    }
    return out;
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
