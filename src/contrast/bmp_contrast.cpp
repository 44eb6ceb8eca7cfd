// The exported call: checks, headers, buffers, transform, output, in that
// order, releasing everything it acquired on every way out.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "apply_contrast.h"
#include "bmp_headers.h"
#include "bmpcontrast.h"
#include "contrast_curve.h"
#include "file_access.h"
#include "file_stream.h"
#include "messages.h"
#include "pixel_block.h"
#include "pixel_layout.h"
#include "size_limits.h"

namespace bmpc {
namespace {

int32_t Fail(const char* line, int32_t result) {
    std::fputs(line, stderr);
    return result;
}

// What the output holds besides the headers and the pixels.
struct OutputPlan {
    bool keepsLayout;  // the input's headers and offset go out as they are
    size_t carried;    // bytes between the headers and the pixel data
    size_t trailer;    // bytes after the pixel data
};

// The input's layout is kept where its pixel data follows the headers or
// starts within the file; the bytes in between (a colour table, the rest of
// a longer info header) and those after the pixels (an ICC profile) are then
// carried over. Only bytes the file holds are planned for: a damaged offset
// must not make the call allocate for bytes that are not there.
OutputPlan PlanOutput(int32_t offBits, int32_t headersEnd, size_t pixelBytes, int64_t fileSize) {
    OutputPlan plan{false, 0, 0};
    if (offBits != headersEnd && (offBits < headersEnd || offBits > fileSize)) return plan;
    plan.keepsLayout = true;
    plan.carried = static_cast<size_t>(offBits - headersEnd);
    const int64_t pixelsEnd = int64_t{offBits} + static_cast<int64_t>(pixelBytes);
    if (fileSize <= pixelsEnd || fileSize - pixelsEnd > static_cast<int64_t>(kMaxTrailerBytes)) {
        return plan;
    }
    const auto trailer = static_cast<size_t>(fileSize - pixelsEnd);
    // Only where the output block's size fits in a size_t (a 32-bit one).
    if (plan.carried + pixelBytes <= SIZE_MAX - trailer) plan.trailer = trailer;
    return plan;
}

// Reads up to `size` bytes into `block` with one request and zero-fills what
// the file did not supply. Returns false on a short read.
bool ReadFully(std::FILE* in, uint8_t* block, size_t size) {
    const size_t got = std::fread(block, 1, size, in);
    if (got == size) return true;
    std::memset(block + got, 0, size - got);
    return false;
}

bool WriteOutput(FileStream& out, const BMPFileHeader& file, const BMPInfoHeader& info,
                 const uint8_t* data, size_t size) {
    bool ok = WriteBMPHeaders(out.get(), file, info);
    ok = ok && std::fwrite(data, 1, size, out.get()) == size;
    // Closed whatever happened above; a failed flush shows up here.
    ok = out.Close() && ok;
    return ok;
}

// 0 where the checks of the headers pass, else the result to return after
// printing `line`.
int32_t CheckHeaders(const BMPInfoHeader& info, PixelGeometry& geometry, const char*& line) {
    const bool core = IsCoreHeader(info);
    if (info.biWidth <= 0 || info.biHeight == 0) {
        line = msg::kInvalidDimensions;
        return InvalidDimensions;
    }
    // The core layout has no 32-bit pixels and no compression field.
    if (info.biBitCount != 24 && info.biBitCount != 8 && (core || info.biBitCount != 32)) {
        line = msg::kUnsupportedDepth;
        return UnsupportedBitDepth;
    }
    if (info.biCompression != 0) {
        line = msg::kCompressed;
        return CompressionUnsupported;
    }
    if (!ComputeGeometry(info.biWidth, info.biHeight, info.biBitCount, geometry)) {
        line = msg::kInvalidDimensions;
        return InvalidDimensions;
    }
    return 0;
}

// Everything but the success line, which follows once all is released.
int32_t Convert(const char16_t* inputPath, const char16_t* outputPath, int32_t level) {
    const float factor = ContrastFactor(level);
    if (!(factor > 0.0f)) return Fail(msg::kLevelNotPositive, LevelNotPositive);

    // Owners are declared in the order that makes their destructors release
    // as the call must: the input block before the output block, both before
    // the input stream where that is still open.
    FileStream in(OpenInput(inputPath));
    if (!in) return InputOpenFailed;

    BMPFileHeader file{};
    BMPInfoHeader info{};
    if (!ReadBMPHeaders(in.get(), file, info)) return HeaderReadFailed;
    PixelGeometry geometry{};
    const char* line = nullptr;
    if (const int32_t failure = CheckHeaders(info, geometry, line); failure != 0) {
        return Fail(line, failure);
    }

    const auto pixelBytes = static_cast<size_t>(geometry.size);
    const int32_t headersEnd = HeadersEnd(info);
    const OutputPlan plan = PlanOutput(file.bfOffBits, headersEnd, pixelBytes, InputSize(in.get()));
    PixelBlock output;  // declared first: freed after the input block
    PixelBlock input(pixelBytes);
    if (!input) return Fail(msg::kNoMemoryInput, OutOfMemory);
    // The output block holds the carried bytes, the pixels and the trailer,
    // so that everything after the headers goes out in one write.
    output = PixelBlock(plan.carried + pixelBytes + plan.trailer);
    if (!output) return Fail(msg::kNoMemoryOutput, OutOfMemory);

    // The pixels are read into the output block and transformed there: one
    // block of fresh pages to fault in instead of two, and those in one go.
    // The input block stays allocated but untouched.
    PrefaultPixelBuffer(output.data(), output.size());
    // The stream stands just after the headers.
    if (plan.carried != 0) ReadFully(in.get(), output.data(), plan.carried);
    // A negative offset cannot be sought to; the pixels are then read from
    // the end of the headers. An offset past the end leads to a short read.
    // A stream already at the offset is left where it is: a seek drops what
    // the C runtime has buffered (Windows' does even where it cannot seek),
    // and a pipe cannot give that again.
    const int64_t position = int64_t{headersEnd} + static_cast<int64_t>(plan.carried);
    if (file.bfOffBits >= 0 && file.bfOffBits != position) {
        std::fseek(in.get(), file.bfOffBits, SEEK_SET);
    }
    uint8_t* const pixels = output.data() + plan.carried;
    size_t outputBytes = plan.carried + pixelBytes;
    if (!ReadFully(in.get(), pixels, pixelBytes)) {
        std::fputs(msg::kShortRead, stderr);
    } else if (plan.trailer != 0) {
        // A file that shrank since it was measured gives what it still has.
        outputBytes += std::fread(output.data() + outputBytes, 1, plan.trailer, in.get());
    }

    ContrastTable table;
    BuildContrastTable(factor, table);
    ApplyContrastInPlace(pixels, geometry, table);
    // Closed before the output is opened, so the output may name the input.
    in.Close();

    FileStream out(OpenOutput(outputPath));
    if (!out) return OutputOpenFailed;
    // Where the layout is not kept, the pixels follow the headers, and the
    // output's offset has to say so.
    BMPFileHeader written = file;
    if (!plan.keepsLayout) written.bfOffBits = headersEnd;
    if (!WriteOutput(out, written, info, output.data(), outputBytes)) {
        return Fail(msg::kWriteFailed, OutputOpenFailed);
    }
    return Success;
}

}  // namespace
}  // namespace bmpc

extern "C" BMPCONTRAST_API int32_t BMPContrast(const char16_t* inputPath,
                                               const char16_t* outputPath, int32_t level) noexcept {
    const int32_t result = bmpc::Convert(inputPath, outputPath, level);
    if (result == Success) std::fputs(bmpc::msg::kSuccess, stdout);
    return result;
}
