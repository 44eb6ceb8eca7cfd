// The exported call: checks, headers, buffers, transform, output, in that
// order, releasing everything it acquired on every way out.
#include <cstdio>
#include <cstring>

#include "apply_contrast.h"
#include "bmp_headers.h"
#include "bmpcontrast.h"
#include "contrast_curve.h"
#include "file_access.h"
#include "messages.h"
#include "pixel_buffer.h"
#include "pixel_layout.h"

namespace bmpc {
namespace {

int32_t Fail(const char* line, int32_t result) {
    std::fputs(line, stderr);
    return result;
}

// Bytes between the 54 header bytes and the pixel data that go to the output
// unchanged (a colour table, the rest of a longer info header). Only where
// the offset lies within the file: a damaged offset must not make the call
// allocate for bytes that are not there.
size_t CarriedBytes(int32_t offBits, int64_t fileSize) {
    if (offBits <= kHeadersSize || offBits > fileSize) return 0;
    return static_cast<size_t>(offBits - kHeadersSize);
}

// Reads up to `size` bytes into `block` with one request and zero-fills what
// the file did not supply. Returns false on a short read.
bool ReadFully(std::FILE* in, uint8_t* block, size_t size) {
    const size_t got = std::fread(block, 1, size, in);
    if (got == size) return true;
    std::memset(block + got, 0, size - got);
    return false;
}

bool WriteOutput(std::FILE* out, const BMPFileHeader& file, const BMPInfoHeader& info,
                 const uint8_t* data, size_t size) {
    bool ok = WriteBMPHeaders(out, file, info);
    ok = ok && std::fwrite(data, 1, size, out) == size;
    // Closed whatever happened above; a failed flush shows up here.
    ok = (std::fclose(out) == 0) && ok;
    return ok;
}

int32_t Convert(const char16_t* inputPath, const char16_t* outputPath, int32_t level) {
    const float factor = ContrastFactor(level);
    if (!(factor > 0.0f)) return Fail(msg::kLevelNotPositive, LevelNotPositive);

    std::FILE* in = OpenInput(inputPath);
    if (in == nullptr) return InputOpenFailed;

    BMPFileHeader file{};
    BMPInfoHeader info{};
    if (!ReadBMPHeaders(in, file, info)) {
        std::fclose(in);
        return HeaderReadFailed;
    }
    PixelGeometry geometry{};
    int32_t failure = 0;
    const char* line = nullptr;
    if (info.biWidth <= 0 || info.biHeight == 0) {
        failure = InvalidDimensions, line = msg::kInvalidDimensions;
    } else if (info.biBitCount != 24 && info.biBitCount != 32 && info.biBitCount != 8) {
        failure = UnsupportedBitDepth, line = msg::kUnsupportedDepth;
    } else if (info.biCompression != 0) {
        failure = CompressionUnsupported, line = msg::kCompressed;
    } else if (!ComputeGeometry(info.biWidth, info.biHeight, info.biBitCount, geometry)) {
        failure = InvalidDimensions, line = msg::kInvalidDimensions;
    }
    if (failure != 0) {
        std::fclose(in);
        return Fail(line, failure);
    }

    const auto pixelBytes = static_cast<size_t>(geometry.size);
    const size_t carried = CarriedBytes(file.bfOffBits, InputSize(in));
    uint8_t* input = AllocatePixelBuffer(pixelBytes);
    if (input == nullptr) {
        std::fclose(in);
        return Fail(msg::kNoMemoryInput, OutOfMemory);
    }
    // The output block holds the carried bytes and then the pixels, so that
    // everything after the headers goes out in one write.
    const size_t outputBytes = carried + pixelBytes;
    uint8_t* output = AllocatePixelBuffer(outputBytes);
    if (output == nullptr) {
        FreePixelBuffer(input, pixelBytes);
        std::fclose(in);
        return Fail(msg::kNoMemoryOutput, OutOfMemory);
    }

    // The stream stands at byte 54 after the headers.
    if (carried != 0) ReadFully(in, output, carried);
    // A negative offset cannot be sought to; the pixels are then read from
    // byte 54. An offset past the end leads to a short read.
    if (file.bfOffBits >= 0) std::fseek(in, file.bfOffBits, SEEK_SET);
    if (!ReadFully(in, input, pixelBytes)) std::fputs(msg::kShortRead, stderr);

    ContrastTable table;
    BuildContrastTable(factor, table);
    ApplyContrast(input, output + carried, geometry, table);
    // Closed before the output is opened, so the output may name the input.
    std::fclose(in);

    std::FILE* out = OpenOutput(outputPath);
    if (out == nullptr) {
        FreePixelBuffer(input, pixelBytes);
        FreePixelBuffer(output, outputBytes);
        return OutputOpenFailed;
    }
    // Without carried bytes the pixels follow the 54 header bytes, and the
    // output's offset has to say so.
    BMPFileHeader written = file;
    if (carried == 0) written.bfOffBits = kHeadersSize;
    const bool ok = WriteOutput(out, written, info, output, outputBytes);
    FreePixelBuffer(input, pixelBytes);
    FreePixelBuffer(output, outputBytes);
    if (!ok) return Fail(msg::kWriteFailed, OutputOpenFailed);

    std::fputs(msg::kSuccess, stdout);
    return Success;
}

}  // namespace
}  // namespace bmpc

extern "C" BMPCONTRAST_API int32_t BMPContrast(const char16_t* inputPath,
                                               const char16_t* outputPath, int32_t level) noexcept {
    return bmpc::Convert(inputPath, outputPath, level);
}
