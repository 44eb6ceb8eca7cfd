// One file through the library's file job, and every line it gives,
// formatted for the tool: the library's lines as the library prints them
// for one file, named ones for a batch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "file_job.h"

namespace bmpcontrast_cli {

// The chunk buffer of one conversion thread: nothing grows with the image.
// Small enough to stay in a core's cache between the read, the curve and
// the write; larger buffers measured no faster.
inline constexpr size_t kChunkBytes = size_t{256} << 10;

struct Request {
    bmpc::files::Job job;
    std::string shown;        // the input's name in messages
    std::string shownOutput;  // the output's name in messages ("" for standard output)
    // Batches name the file on every line and show success only with -v;
    // one file shows the library's lines as the library prints them.
    bool batch = false;
    bool verbose = false;
    bool quiet = false;
};

struct Outcome {
    bmpc::files::Status status = bmpc::files::Status::Failed;
    // Whole lines, in the order they arose, each for descriptor 1 or 2.
    std::vector<std::pair<int, std::string>> lines;
    bool Empty() const { return lines.empty(); }
};

Outcome Convert(const Request& request, uint8_t* buffer, size_t bufferSize);

// For a dry run: what a run would do with the file, and nothing done.
Outcome Foresee(const Request& request, bool& outputExists);

// Writes the lines in order.
void EmitAll(const Outcome& outcome);

}  // namespace bmpcontrast_cli
