// The command line, parsed into what to do.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bmpcontrast_cli {

struct Options {
    enum class Mode { Single, Batch, Help, Version, ListOptions, Usage };
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
    bool skipExisting = false;    // an existing output is left alone, not a failure
    bool update = false;          // ... unless it is older than its input
    bool followSymlinks = false;  // -r: follow symbolic links met in folders
    uint64_t maxPixels = 0;       // 0: no limit
    unsigned jobs = 0;            // 0: one per available processor
};

// `bmpcontrast [options] INPUT OUTPUT LEVEL` (or `-l LEVEL INPUT OUTPUT`)
// is single mode; --out-dir, --in-place, --recursive or --files-from
// select batch mode (--jobs and --dry-run need it), where LEVEL comes from --level or
// is the first argument. Short options combine (`-qf`, `-l150`). A negative
// number or a lone "-" is never taken for an option. A LEVEL that is not a
// positive 32-bit integer is a usage error in every mode.
Options ParseOptions(int argc, const char* const* argv);

// Every option the parser accepts, one a line: the short form (or "-") and
// the long form. Not in --help; the tests check --help, the manual page
// and the completions against it.
void ListOptions(std::FILE* to);

}  // namespace bmpcontrast_cli
