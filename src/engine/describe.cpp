// What a call on a file would do, decided from its headers and its size.
#include <cstdint>

#include "bmpcontrast.h"
#include "contrast_curve.h"
#include "engine.h"
#include "messages.h"
#include "size_limits.h"

namespace bmpc {
namespace {

// The input's layout is kept where its pixel data follows the headers or
// starts within the file; the bytes in between (a colour table, the rest of
// a longer info header) and those after the pixels (an ICC profile) are then
// carried over. Only bytes the file holds are planned for: a damaged offset
// must not make the call allocate for bytes that are not there.
OutputPlan PlanOutput(int32_t offBits, int32_t headersEnd, size_t pixelBytes, int64_t fileSize) {
    OutputPlan plan;
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

bool Refuse(Description& d, int32_t result, const char* line) {
    d.result = result;
    d.line = line;
    return false;
}

// The checks of dimensions, depth and compression, in that order.
bool CheckHeaders(Description& d) {
    const BMPInfoHeader& info = d.info;
    if (info.biWidth <= 0 || info.biHeight == 0) {
        return Refuse(d, InvalidDimensions, msg::kInvalidDimensions);
    }
    // The core layout has no 32-bit pixels and no compression field.
    if (info.biBitCount != 24 && info.biBitCount != 8 &&
        (IsCoreHeader(info) || info.biBitCount != 32)) {
        return Refuse(d, UnsupportedBitDepth, msg::kUnsupportedDepth);
    }
    if (info.biCompression != 0) {
        return Refuse(d, CompressionUnsupported, msg::kCompressed);
    }
    if (!ComputeGeometry(info.biWidth, info.biHeight, info.biBitCount, d.geometry)) {
        return Refuse(d, InvalidDimensions, msg::kInvalidDimensions);
    }
    return true;
}

}  // namespace

bool DescribeLevel(int32_t level, Description& d) {
    d = Description{};
    if (ContrastFactor(level) > 0.0f) return true;
    return Refuse(d, LevelNotPositive, msg::kLevelNotPositive);
}

void DescribeFile(ByteSource& in, Description& d) {
    d.fileSize = in.Size();
    if (!ReadBMPHeaders(in, d.file, d.info, d.line)) {
        d.result = HeaderReadFailed;
        return;
    }
    d.headersRead = true;
    d.headersEnd = HeadersEnd(d.info);
    if (!CheckHeaders(d)) return;

    const auto pixelBytes = static_cast<size_t>(d.geometry.size);
    d.plan = PlanOutput(d.file.bfOffBits, d.headersEnd, pixelBytes, d.fileSize);
    // A negative offset cannot be sought to: the pixels are then read from
    // the end of the headers (and the carried bytes, of which there are
    // none then).
    d.pixelStart = d.file.bfOffBits >= 0 ? int64_t{d.file.bfOffBits}
                                         : int64_t{d.headersEnd} + int64_t(d.plan.carried);
    d.complete = d.fileSize <= 0 || d.pixelStart + int64_t{d.geometry.size} <= d.fileSize;
    d.outputSize =
        uint64_t(d.headersEnd) + d.plan.carried + pixelBytes + (d.complete ? d.plan.trailer : 0);
    d.result = Success;
}

Diagnostics ForeseenLines(const Description& d) {
    Diagnostics lines;
    if (d.result != Success) {
        if (d.line != nullptr) lines.Error(d.line);
        return lines;
    }
    if (!d.complete) lines.Warning(msg::kShortRead);
    lines.Success(msg::kSuccess);
    return lines;
}

}  // namespace bmpc
