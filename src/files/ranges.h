// One large file converted on several threads at once: its pixel data cut
// into stretches, each read, looked up and written by one thread at its own
// offsets. Only regular files: pipes and standard streams stay sequential.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine.h"
#include "fd_stream.h"

namespace bmpc::files {

// Files with less pixel data than this are converted by one thread: below
// it, starting threads costs more than they save.
inline constexpr uint64_t kRangesFrom = uint64_t{32} << 20;
// No stretch is smaller than this.
inline constexpr uint64_t kMinRange = uint64_t{16} << 20;

// How many threads, up to `threads`, convert the described file: 1 where
// it is small, not whole on disk, or needs one pass (8-bit files, whose
// warnings follow every index).
unsigned RangeThreads(const Description& d, unsigned threads);

struct RangeOutcome {
    StreamResult stream;  // as one sequential conversion would give it
    int readError = 0;    // the first read that failed, or 0
    int writeError = 0;   // the first write that failed, or 0
};

// Converts the file `d` describes, read through `source` (where
// DescribeFile left it) and `inFd`, into `outFd` from its start, on
// `threads` threads; `buffer` serves the calling thread, the others get
// their own of the same size. Stretches start at multiples of `align`
// (a page: no two threads write into one).
RangeOutcome ConvertInRanges(const Description& d, FdSource& source, int inFd, int outFd,
                             unsigned threads, uint8_t* buffer, size_t bufferSize,
                             const std::atomic<bool>* cancel, uint64_t align = 4096);

}  // namespace bmpc::files
