// bmpcontrast: the library's call from the shell, for one file or many.
#include <cstdio>

#include "batch_run.h"
#include "exit_status.h"
#include "help.h"
#include "memory_policy.h"
#include "options.h"
#include "single_run.h"
#include "temp_file.h"

using namespace bmpcontrast_cli;

int main(int argc, char** argv) {
    KeepFreedPixelMemory();
    // Read before any thread could create a file.
    CreationMask();
    const Options options = ParseOptions(argc, argv);
    switch (options.mode) {
        case Options::Mode::Help:
            PrintHelp(stdout);
            return kExitOk;
        case Options::Mode::Version:
            PrintVersion(stdout);
            return kExitOk;
        case Options::Mode::Single:
            return RunSingle(options);
        case Options::Mode::Batch:
            return RunBatch(options);
        case Options::Mode::Usage:
            break;
    }
    if (!options.error.empty()) std::fprintf(stderr, "bmpcontrast: %s\n", options.error.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}
