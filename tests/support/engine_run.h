// The engine's streamed conversion run the way the exported call's tests
// run the call: result, the lines each stream would have carried, and the
// output bytes. Include only where the library's objects are linked.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "bmpcontrast.h"
#include "engine.h"
#include "memory_source.h"
#include "messages.h"

namespace bmptest {

struct StreamOutcome {
    int32_t result = 0;
    std::string out;
    std::string err;
    Bytes file;  // what the sink received
    bmpc::StreamResult raw;
};

class BytesSink final : public bmpc::ByteSink {
  public:
    bool Write(const uint8_t* data, size_t n) noexcept override {
        bytes.insert(bytes.end(), data, data + n);
        return true;
    }
    Bytes bytes;
};

inline void SplitLines(const bmpc::Diagnostics& lines, std::string& out, std::string& err) {
    for (const bmpc::Line& line : lines) {
        (line.channel == bmpc::Channel::Out ? out : err) += line.text;
    }
}

// What a call on a described file ends with where memory and the output do
// not fail: the warning for an incomplete file, then success; or the
// failure's line.
inline bmpc::Diagnostics ForeseenLines(const bmpc::Description& d) {
    bmpc::Diagnostics lines;
    if (d.result != BMPCONTRAST_SUCCESS) {
        if (d.line != nullptr) lines.Error(d.line);
        return lines;
    }
    if (!d.complete) lines.Warning(bmpc::msg::kShortRead);
    lines.Success(bmpc::msg::kSuccess);
    return lines;
}

// Describe, then ConvertDescribed.
inline bmpc::StreamResult ConvertStream(bmpc::ByteSource& in, bmpc::ByteSink& out, int32_t level,
                                        uint8_t* buffer, size_t bufferSize,
                                        const std::atomic<bool>* cancel = nullptr,
                                        bmpc::Mode mode = bmpc::Mode::Contract) {
    bmpc::Description d;
    bmpc::Describe(in, level, d, mode);
    return bmpc::ConvertDescribed(d, in, out, buffer, bufferSize, cancel);
}

// `source` at its start, converted through a buffer of `chunk` bytes.
inline StreamOutcome RunEngine(bmpc::ByteSource& source, int32_t level, size_t chunk,
                               bmpc::Mode mode = bmpc::Mode::Contract) {
    StreamOutcome o;
    std::vector<uint8_t> buffer(chunk);
    BytesSink sink;
    o.raw = ConvertStream(source, sink, level, buffer.data(), buffer.size(), nullptr, mode);
    o.result = o.raw.result;
    SplitLines(o.raw.lines, o.out, o.err);
    o.file = std::move(sink.bytes);
    return o;
}

inline StreamOutcome RunEngine(const Bytes& input, int32_t level, size_t chunk,
                               bmpc::Mode mode = bmpc::Mode::Contract) {
    bmpc::MemorySource source(input.data(), input.size());
    return RunEngine(source, level, chunk, mode);
}

// A source that cannot tell its size, as a pipe.
class UnsizedSource final : public bmpc::ByteSource {
  public:
    explicit UnsizedSource(const Bytes& bytes) : inner_(bytes.data(), bytes.size()) {}
    size_t Read(uint8_t* into, size_t n) noexcept override { return inner_.Read(into, n); }
    bool SeekTo(int64_t) noexcept override { return false; }
    int64_t Size() noexcept override { return 0; }

  private:
    bmpc::MemorySource inner_;
};

}  // namespace bmptest
