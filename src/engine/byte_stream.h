// What a conversion reads from and writes to. The engine calls nothing
// else for input and output, so callers choose the files, pipes or memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "messages.h"

namespace bmpc {

class ByteSource {
  public:
    // Up to `n` bytes into `into`; fewer only at the end of the data or on
    // a read error, which the engine treats alike.
    virtual size_t Read(uint8_t* into, size_t n) noexcept = 0;
    // Positions the next read at `offset` from the start. False where it
    // cannot (a pipe, a negative offset); the position is then unchanged.
    virtual bool SeekTo(int64_t offset) noexcept = 0;
    // Bytes the source holds, or 0 where that is not known (a pipe).
    virtual int64_t Size() noexcept = 0;

  protected:
    ~ByteSource() = default;
};

class ByteSink {
  public:
    // All `n` bytes, or false.
    virtual bool Write(const uint8_t* data, size_t n) noexcept = 0;
    // The line a failed Write ends the conversion with; null for none (an
    // output that could not be opened says nothing, as the exported call's).
    // Defined here, so that the class has no key function: code built with
    // RTTI and the library built without agree on where its type lives.
    virtual const char* FailureLine() const noexcept { return msg::kWriteFailed; }

  protected:
    ~ByteSink() = default;
};

// Reads until `n` bytes are in or the source has no more; returns how many.
inline size_t ReadUpTo(ByteSource& in, uint8_t* into, size_t n) noexcept {
    size_t got = 0;
    while (got < n) {
        const size_t step = in.Read(into + got, n - got);
        if (step == 0) break;
        got += step;
    }
    return got;
}

}  // namespace bmpc
