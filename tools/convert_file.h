// One file of a batch, converted in a worker process: what the worker is
// told, what it answers, and the loop it runs.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace bmpcontrast_cli {

// Everything a worker needs for one file, so that it depends on nothing it
// inherited (a worker may be a freshly started process).
struct Job {
    std::string input;
    std::string destination;
    uint32_t mode = 0644;
    int32_t level = 100;
    bool replace = false;
    bool preserve = false;
    bool strict = false;
    bool verbose = false;
    uint64_t maxPixels = 0;
};

struct Outcome {
    bool ok = false;
    std::string out;  // whole lines for standard output (-v)
    std::string err;  // whole lines for standard error, each naming the file
};

std::string Encode(const Job& job);
bool Decode(const std::string& text, Job& job);
std::string Encode(const Outcome& outcome);
bool Decode(const std::string& text, Outcome& outcome);

// Converts one file through a scratch file renamed into place. `capture`
// holds what the library printed meanwhile; every such line comes back
// prefixed with the input's name.
Outcome ConvertFile(const Job& job, platform::OutputCapture& capture);

// A worker's life: one job after another until the parent has no more.
int WorkerMain(platform::Worker& parent);

}  // namespace bmpcontrast_cli
