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
    // Batch mode: the files to convert.
    std::vector<std::string> files;
    std::string outDir;
    bool inPlace = false;
    bool force = false;
    bool quiet = false;
    unsigned jobs = 0;  // 0: one per available processor
};

// `bmpcontrast INPUT OUTPUT LEVEL` is single mode; any batch option
// (--level, --out-dir, --in-place, --jobs, --force, --quiet) selects batch
// mode. A negative number or a lone "-" is never taken for an option, so
// `bmpcontrast in.bmp out.bmp -5` still reaches the library.
Options ParseOptions(int argc, const char* const* argv);

}  // namespace bmpcontrast_cli
