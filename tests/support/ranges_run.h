// The file job's conversion of one file on several threads, run the way
// the engine's tests run the engine. Include only where the file job's
// objects are linked.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine_run.h"
#include "fd_stream.h"
#include "ranges.h"
#include "system.h"

namespace bmptest {

// `in` on `threads` threads, each stretch starting at a multiple of
// `align` (1: anywhere), into `out`, which is made for it and removed after.
inline StreamOutcome RunInRanges(const std::string& in, const std::string& out, int32_t level,
                                 unsigned threads, size_t chunk, uint64_t align = 1) {
    StreamOutcome o;
    const int from = bmpc::sys::OpenRead(in);
    const int to = bmpc::sys::CreateExclusive(out, 0600, true);
    bmpc::FdSource source(from);
    bmpc::Description d;
    bmpc::Describe(source, level, d);
    std::vector<uint8_t> buffer(chunk);
    const bmpc::files::RangeOutcome r = bmpc::files::ConvertInRanges(
        d, source, from, to, threads, buffer.data(), buffer.size(), nullptr, align);
    bmpc::sys::Close(from);
    bmpc::sys::Close(to);
    o.result = r.stream.result;
    SplitLines(r.stream.lines, o.out, o.err);
    if (o.result == 999) o.file = ReadFile(out);
    std::filesystem::remove(out);
    return o;
}

}  // namespace bmptest
