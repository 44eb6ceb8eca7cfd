// One file through the library's engine: the input streamed through one
// fixed buffer into a scratch file next to the destination, renamed into
// place once every byte is written; every line the conversion gives,
// formatted for the tool.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine.h"
#include "platform/platform.h"

namespace bmpcontrast_cli {

// The chunk buffer of one conversion thread: nothing grows with the image.
// Small enough to stay in a core's cache between the read, the curve and
// the write; larger buffers measured no faster.
inline constexpr size_t kChunkBytes = size_t{256} << 10;

struct Request {
    std::string input;        // the file to read, unless `inputFd` is given
    int inputFd = -1;         // an open input (standard input), read from the start
    std::string shown;        // the input's name in messages
    std::string destination;  // empty: standard output
    std::string shownOutput;  // the destination's name in messages
    int32_t level = 100;
    uint32_t mode = 0644;   // permissions of the result
    bool narrow = false;    // ... less those the input does not have
    bool replace = false;   // an existing destination may be replaced
    bool preserve = false;  // the result keeps the input's times
    bool strict = false;
    uint64_t maxPixels = 0;
    // Batches name the file on every line and show success only with -v;
    // one file shows the library's lines as the library prints them.
    bool batch = false;
    bool verbose = false;
    bool quiet = false;
    enum class Skip { Never, IfExists, IfNewer } skip = Skip::Never;
};

struct Outcome {
    enum class Status { Converted, Failed, Skipped, Cancelled } status = Status::Failed;
    std::string out;  // whole lines for standard output
    std::string err;  // whole lines for standard error
};

Outcome Convert(const Request& request, uint8_t* buffer, size_t bufferSize,
                const std::atomic<bool>* cancel);

// Whether the destination is there and the run skips the file for that.
bool Skips(const Request& r);

// For a dry run: the line saying why the file would not be converted (from
// its headers alone), or "".
std::string WouldRefuse(const Request& r);

// Why --strict or --max-pixels refuses a described file, or "".
std::string PreCheck(const bmpc::Description& d, bool strict, uint64_t maxPixels);

}  // namespace bmpcontrast_cli
