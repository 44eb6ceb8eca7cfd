// The command line, parsed into what to do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bmpcontrast_cli {

struct Options {
    enum class Mode { Single, Batch, Help, Version, Usage };
    Mode mode = Mode::Usage;
    std::string error;  // Usage mode: the one-line reason, empty for a bare call

    int32_t level = 0;
    // Single mode: INPUT and OUTPUT ("-" for standard input/output).
    // Batch mode: the files (and, with --recursive, folders) to convert.
    std::vector<std::string> files;
    std::string filesFrom;  // --files-from: a list of names ("-": standard input)
    bool nulSeparated = false;
    std::string outDir;
    bool inPlace = false;
    bool recursive = false;
    bool dryRun = false;
    bool force = false;
    bool quiet = false;
    bool verbose = false;
    bool preserve = false;
    bool strict = false;
    uint64_t maxPixels = 0;  // 0: no limit
    unsigned jobs = 0;       // 0: one per available processor
};

// `bmpcontrast [options] INPUT OUTPUT LEVEL` (or `-l LEVEL INPUT OUTPUT`)
// is single mode; --out-dir, --in-place, --recursive, --files-from,
// --jobs or --dry-run select batch mode, where LEVEL comes from --level or
// is the first argument. Short options combine (`-qf`, `-l150`). A negative
// number or a lone "-" is never taken for an option. A LEVEL that is not a
// positive 32-bit integer is a usage error in every mode.
Options ParseOptions(int argc, const char* const* argv);

}  // namespace bmpcontrast_cli
