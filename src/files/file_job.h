// One file converted, with everything around the engine's bytes: opening
// the input, the policy for an existing output, the scratch file beside the
// destination, permissions, owner, links, special files, the rename and
// clean-up on every path. The tool and the Python extension both run their
// files through here, so that every caller and every mode has one policy.
// Nothing here prints: the result says what happened, typed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine.h"

namespace bmpc::files {

// What an output that exists already gets.
enum class Existing : uint8_t {
    Replace,  // replaced (a read-only one only with `force`)
    Refuse,   // left alone, and the file fails
    Skip,     // left alone, and the file is skipped
    Update,   // skipped unless older than the input, then replaced
};

struct Job {
    std::string input;   // the file to read, unless `inputFd` is given
    int inputFd = -1;    // an open input (standard input), read from where it stands
    std::string output;  // the file to write; empty: `outputFd`
    int outputFd = -1;   // an open output (standard output), written where it stands
    int32_t level = 0;
    Mode mode = Mode::Contract;  // Colour: the engine's colour mode
    Existing existing = Existing::Replace;
    bool force = false;          // a read-only output may be replaced; it stays read-only
    bool preserveTimes = false;  // the result keeps the input's times
    // An input that turns out shorter than its headers say fails instead of
    // being padded with zeros (the library's warning).
    bool strict = false;
    bool makeFolders = false;  // the output's folder is made when a result is written
    uint64_t maxPixels = 0;    // 0: no limit
    // Threads that may share a large regular file (ranges.h); 1: one.
    unsigned threads = 1;
    const std::atomic<bool>* cancel = nullptr;
};

enum class Status : uint8_t { Converted, Skipped, Failed, Cancelled };

// Why a file failed or was skipped.
enum class Reason : uint8_t {
    None,
    Refused,    // the engine refused the file: `code` and the lines say why
    InputOpen,  // `error`
    InputIsFolder,
    TooManyPixels,   // more than Job::maxPixels
    Truncated,       // Job::strict, and the file is shorter than its headers say
    ReadFailed,      // the input could not be read whole (`error`, or it shrank)
    OutputExists,    // Existing::Refuse
    OutputNewer,     // Existing::Update: skipped
    OutputKept,      // Existing::Skip: skipped
    OutputReadOnly,  // no `force`
    OutputIsFolder,
    OutputCreate,  // the scratch file or a folder (`error`)
    Owner,         // the result cannot keep the output's owner (`error`)
    Write,         // `error`
    Rename,        // `error`
};

struct Result {
    Status status = Status::Failed;
    Reason reason = Reason::None;
    int error = 0;  // errno where the system refused
    // The library's result code for the file, and its lines in order, as
    // the exported call would give them (none where the file never reached
    // the engine).
    int32_t code = 0;
    Diagnostics lines;
    Description description;                // what the input is, once its headers were read
    StreamResult stream;                    // the conversion's own findings
    bool sameFile = false;                  // the output is the input
    bool special = false;                   // written to a device or a pipe where it is
    std::vector<std::string> staleRemoved;  // scratch files of killed runs
    std::string keptScratch;                // where the result is, if it could not be moved
};

// Converts one file through `buffer` (at least kMinChunkBytes).
Result Run(const Job& job, uint8_t* buffer, size_t bufferSize);

// What Run would do with the file, from its headers alone: nothing written.
Result Foresee(const Job& job);

}  // namespace bmpc::files
