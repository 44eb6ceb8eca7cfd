// The exported call: the engine's conversion with the two blocks the call
// has always held, the input closed before the output is opened, and the
// lines printed once everything is released.
#include <cstdint>
#include <cstdio>

#include "bmpcontrast.h"
#include "engine.h"
#include "file_access.h"
#include "file_stream.h"
#include "messages.h"
#include "pixel_block.h"
#include "stdio_source.h"

namespace bmpc {
namespace {

// The output, opened only when the whole of it is in memory: the input is
// closed first, so the output path may name the input file.
class OutputAfterInput final : public ByteSink {
  public:
    OutputAfterInput(FileStream& input, const char16_t* path) noexcept
        : input_(input), path_(path) {}

    bool Write(const uint8_t* data, size_t n) noexcept override {
        input_.Close();
        FileStream out(OpenOutput(path_));
        if (!out) {
            openFailed_ = true;
            return false;
        }
        const bool written = std::fwrite(data, 1, n, out.get()) == n;
        // Closed whatever happened above; a failed flush shows up here.
        return out.Close() && written;
    }
    const char* FailureLine() const noexcept override {
        return openFailed_ ? nullptr : msg::kWriteFailed;
    }

  private:
    FileStream& input_;
    const char16_t* path_;
    bool openFailed_ = false;
};

// An output that is another file than the input, written as the conversion
// goes: the call holds no more than one chunk of the image at a time.
class StreamedOutput final : public ByteSink {
  public:
    explicit StreamedOutput(std::FILE* out) noexcept : out_(out) {}
    bool Write(const uint8_t* data, size_t n) noexcept override {
        return std::fwrite(data, 1, n, out_) == n;
    }

  private:
    std::FILE* out_;
};

// The chunk of a streamed call: a third, small block. Where it cannot be
// had, the call converts in its output block as it always did.
constexpr size_t kStreamChunk = size_t{64} << 10;

int32_t Streamed(const Description& d, FileStream& in, StdioSource& source,
                 const char16_t* outputPath, uint8_t* chunk, Diagnostics& lines) {
    // The output is opened before the pixels are read; where that fails the
    // call says what it would have said having read them first: a file
    // shorter than its headers warns.
    FileStream out(OpenOutput(outputPath));
    if (!out) {
        if (!d.complete) lines.Warning(msg::kShortRead);
        return OutputOpenFailed;
    }
    StreamedOutput sink(out.get());
    const StreamResult r = ConvertDescribed(d, source, sink, chunk, kStreamChunk);
    in.Close();
    const bool closed = out.Close();
    for (const Line& line : r.lines) {
        if (closed || line.kind != Kind::Success) lines.Add(line);
    }
    if (r.result == Success && !closed) {
        lines.Error(msg::kWriteFailed);
        return OutputOpenFailed;
    }
    return r.result;
}

int32_t Convert(const char16_t* inputPath, const char16_t* outputPath, int32_t level,
                Diagnostics& lines) {
    Description d;
    if (!DescribeLevel(level, d)) return lines.Error(d.line), d.result;

    FileStream in(OpenInput(inputPath));
    if (!in) return InputOpenFailed;
    StdioSource source(in.get());
    DescribeFile(source, d);
    if (d.result != Success) {
        if (d.line != nullptr) lines.Error(d.line);
        return d.result;
    }

    // Declared so that the input block is freed before the output block.
    PixelBlock output;
    PixelBlock input(static_cast<size_t>(d.geometry.size));
    if (!input) return lines.Error(msg::kNoMemoryInput), OutOfMemory;
    // The output block holds the whole output file, so that it goes out in
    // one write. The pixels are read straight into it and transformed
    // there: one block of fresh pages to fault in instead of two. The input
    // block stays allocated but untouched.
    output = PixelBlock(static_cast<size_t>(d.headersEnd) + d.plan.carried +
                        static_cast<size_t>(d.geometry.size) + d.plan.trailer);
    if (!output) return lines.Error(msg::kNoMemoryOutput), OutOfMemory;

    // Where the output is known to be another file, the blocks stay
    // untouched and the file streams through a small chunk: no fresh pages
    // to fault in. Output and input the same, or a pipe, keep the blocks.
    if (d.fileSize > 0 && OtherFile(in.get(), outputPath)) {
        const PixelBlock chunk(kStreamChunk);
        if (chunk) return Streamed(d, in, source, outputPath, chunk.data(), lines);
    }
    PrefaultPixelBuffer(output.data(), output.size());

    OutputAfterInput sink(in, outputPath);
    StreamResult r = ConvertDescribed(d, source, sink, output.data(), output.size());
    for (const Line& line : r.lines) lines.Add(line);
    return r.result;
}

}  // namespace
}  // namespace bmpc

extern "C" BMPCONTRAST_API int32_t BMPContrast(const char16_t* inputPath,
                                               const char16_t* outputPath, int32_t level) noexcept {
    bmpc::Diagnostics lines;
    const int32_t result = bmpc::Convert(inputPath, outputPath, level, lines);
    // Printed once every resource is released, in the order they arose.
    for (const bmpc::Line& line : lines) {
        std::fputs(line.text, line.channel == bmpc::Channel::Out ? stdout : stderr);
    }
    return result;
}
