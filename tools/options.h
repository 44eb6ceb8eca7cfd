// The command line, parsed into what to do, and the one table of options
// that the parser and --help are made from.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
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
    bool colour = false;          // the engine's colour mode
    bool skipExisting = false;    // an existing output is left alone, not a failure
    bool update = false;          // ... unless it is older than its input
    bool followSymlinks = false;  // -r: follow symbolic links met in folders
    uint64_t maxPixels = 0;       // 0: no limit
    unsigned jobs = 0;            // 0: one per available processor
};

// Which forms of the command an option belongs to.
enum class Forms : uint8_t {
    Any,      // both
    Batch,    // batches only: a usage error in the single form
    Selects,  // batches only, and naming it makes the command a batch
};

struct ParseState;  // the parser's, in options.cpp

struct OptionSpec {
    char shortName;             // 0: long only
    std::string_view longName;  // "--level"
    std::string_view value;     // the value's name in --help ("N"); empty: a flag
    Forms forms;
    std::string_view help;  // --help's text for it, a line per '\n'
    // Takes the option (and its value) into the state; the usage error, or "".
    std::string (*apply)(ParseState&, std::string_view value);
};

// Every option, in --help's order.
std::span<const OptionSpec> OptionTable();

// `bmpcontrast [options] INPUT OUTPUT LEVEL` (or `-l LEVEL INPUT OUTPUT`)
// is single mode; an option that Selects batches makes it batch mode, where
// LEVEL comes from --level or is the first argument. Short options combine
// (`-qf`, `-l150`). A negative number or a lone "-" is never taken for an
// option. A LEVEL that is not a positive 32-bit integer is a usage error in
// every mode, and so is a batch-only option in the single form.
Options ParseOptions(int argc, const char* const* argv);

}  // namespace bmpcontrast_cli
