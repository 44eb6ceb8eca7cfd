#include "ranges.h"

#include <algorithm>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "bmpcontrast.h"
#include "system.h"

namespace bmpc::files {
namespace {

struct Stretch {
    PixelRange range;
    StreamResult result;
    int readError = 0, writeError = 0;
};

void ConvertStretch(const Description& d, int inFd, int outFd, size_t bufferSize,
                    const std::atomic<bool>* cancel, Stretch& s) {
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bufferSize]);
    if (!buffer) {
        s.writeError = ENOMEM;
        s.result.result = OutputOpenFailed;
        return;
    }
    PositionedSource source(inFd, d.fileSize);
    const int64_t at = int64_t{d.headersEnd} + static_cast<int64_t>(d.plan.carried) +
                       static_cast<int64_t>(s.range.from);
    PositionedSink sink(outFd, at);
    s.result = ConvertDescribed(d, source, sink, buffer.get(), bufferSize, cancel, s.range);
    s.readError = source.error();
    s.writeError = sink.error();
}

}  // namespace

unsigned RangeThreads(const Description& d, unsigned threads) {
    const auto pixels = static_cast<uint64_t>(d.geometry.size);
    if (threads <= 1 || !sys::PositionalIo() || d.result != Success || !d.complete ||
        d.fileSize <= 0 || pixels < kRangesFrom || d.info.biBitCount == 8 ||
        (d.treatment != Treatment::EveryByte && d.treatment != Treatment::ColourBytes)) {
        return 1;
    }
    return static_cast<unsigned>(std::clamp<uint64_t>(pixels / kMinRange, 1, threads));
}

RangeOutcome ConvertInRanges(const Description& d, FdSource& source, int inFd, int outFd,
                             unsigned threads, uint8_t* buffer, size_t bufferSize,
                             const std::atomic<bool>* cancel, uint64_t align) {
    RangeOutcome o;
    if (d.result != Success) {  // refused: one thread says so
        FdSink sink(outFd);
        o.stream = ConvertDescribed(d, source, sink, buffer, bufferSize, cancel);
        return o;
    }
    const auto pixels = static_cast<uint64_t>(d.geometry.size);
    // Cuts that fall together (more threads than aligned stretches) make
    // one stretch: an empty one would start at 0 and write the headers
    // again, or end at the end and write the trailer again.
    const uint64_t step = std::max<uint64_t>(align, 1);
    std::vector<Stretch> stretches(1);
    for (unsigned k = 1; k < threads; ++k) {
        const uint64_t cut = pixels * k / threads / step * step;
        if (cut <= stretches.back().range.from || cut >= pixels) continue;
        stretches.back().range.to = cut;
        stretches.emplace_back().range.from = cut;
    }
    stretches.back().range.to = pixels;
    // A thread the system will not start leaves its stretch to this one.
    std::vector<std::thread> helpers;
    std::vector<Stretch*> left;
    for (size_t k = 1; k < stretches.size(); ++k) {
        Stretch& s = stretches[k];
        try {
            helpers.emplace_back(
                [&, k] { ConvertStretch(d, inFd, outFd, bufferSize, cancel, stretches[k]); });
        } catch (const std::system_error&) {
            left.push_back(&s);
        }
    }
    // The first stretch, too, reads and writes at positions of its own, from
    // where the description left the file: on Windows every positioned call
    // moves the one position an open file has.
    Stretch& head = stretches[0];
    PositionedSource headSource(inFd, d.fileSize);
    headSource.SeekTo(source.Tell());
    PositionedSink sink(outFd, 0);
    head.result = ConvertDescribed(d, headSource, sink, buffer, bufferSize, cancel, head.range);
    head.readError = headSource.error();
    head.writeError = sink.error();
    for (Stretch* s : left) ConvertStretch(d, inFd, outFd, bufferSize, cancel, *s);
    for (std::thread& t : helpers) t.join();

    // One result, as the sequential conversion gives it: the first
    // stretch's findings, one warning where any read fell short, the last
    // stretch's success.
    o.stream = head.result;
    o.stream.lines = Diagnostics();
    bool shortRead = false;
    for (const Stretch& s : stretches) {
        o.readError = o.readError != 0 ? o.readError : s.readError;
        o.writeError = o.writeError != 0 ? o.writeError : s.writeError;
        o.stream.cancelled = o.stream.cancelled || s.result.cancelled;
        if (s.result.result != Success && o.stream.result == Success) {
            o.stream.result = s.result.result;
        }
        for (const Line& line : s.result.lines) shortRead = shortRead || line.kind == Kind::Warning;
    }
    if (shortRead) o.stream.lines.Warning(msg::kShortRead);
    if (o.stream.result == Success) {
        o.stream.lines.Success(msg::kSuccess);
    } else if (o.writeError != 0) {
        o.stream.lines.Error(msg::kWriteFailed);
    }
    return o;
}

}  // namespace bmpc::files
